// VXI-11 (INSTR) sessions (internal to platform/): the core channel of a LAN
// instrument over libtirpc, with the records and XDR routines rpcgen makes
// from emulator/vxi11.x.
//
// Opening asks the host's portmapper (rpcbind, TCP port 111) for the core
// channel's port unless the resource names one, connects, and creates a link
// to the device ("inst0" unless named); the whole open stays within its
// time-out. A message goes out in device_write calls of the size the
// instrument takes, END with the last; a read asks device_read for what the
// caller's count still allows, so the rest of a longer answer stays with the
// instrument for the next read. The session time-out is every call's
// io_timeout; the RPC itself waits a little longer, so that the instrument's
// own time-out answer arrives first. Closing destroys the link, waiting at
// most a second for a live instrument and not at all for a lost one.
#pragma once

#include <memory>
#include <string>

#include "platform/visa_io.h"

namespace visa_detail {

struct Vxi11Target {
  std::string host;    // a name or an address (IPv6 without brackets)
  std::string port;    // the core channel's TCP port; empty: ask the portmapper
  std::string device;  // the device name of create_link
};

// Opens a link within `timeoutMs`. VI_ERROR_RSRC_NFOUND with the reason in
// `detail` when there is no portmapper, no VXI-11 server, no such device, or
// no answer in time.
ViStatus OpenVxi11(const Vxi11Target& target, ViUInt32 timeoutMs, std::unique_ptr<InstrumentIo>* io,
                   std::string* detail);

}  // namespace visa_detail
