// Instrument sessions with the VISA names, arguments and status values the
// station's procedures use. "TCPIP[n]::host::port::SOCKET" is a raw TCP
// session; "TCPIP[n]::host[::device][::INSTR]" (a bare "TCPIP::" + address) is
// a VXI-11 session to the device ("inst0" unless named), whose core channel
// the host's portmapper (rpcbind) names. "TCPIP[n]::host:port[::INSTR]" names
// the core channel's port itself and needs no portmapper (an extension of the
// VISA names, for emulators that share one machine). An IPv6 host is written
// in brackets.
//
// Both kinds: a message sent ends with LF (one that does not gets one); bytes
// beyond a read's count stay for the next read (on VXI-11 with the
// instrument); a read returns at the time-out with what it has and
// VI_ERROR_TMO; an instrument that closed the connection fails the next call
// at once (VI_ERROR_CONN_LOST). A message read ends at LF on a socket and at
// END on VXI-11 (which real instruments send with the LF). Opening gives up
// after `openTimeout` ms (3000 when 0), portmapper and link included, and
// viStatusDesc on the resource manager says why. Time-outs are real
// milliseconds: GNSS_TIME_SCALE does not touch instrument time.
#pragma once

#include <cstdint>

using ViStatus = std::int32_t;
using ViSession = std::uint32_t;
using ViObject = std::uint32_t;
using ViUInt32 = std::uint32_t;
using ViUInt16 = std::uint16_t;
using ViAttr = std::uint32_t;
using ViAttrState = std::uint64_t;
using ViByte = unsigned char;

inline constexpr ViSession VI_NULL = 0;

// Status values (negative: errors).
inline constexpr ViStatus VI_SUCCESS = 0;
inline constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
inline constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
inline constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000EU);
inline constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011U);
inline constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012U);
inline constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015U);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001DU);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001EU);
inline constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003EU);
inline constexpr ViStatus VI_ERROR_NSUP_OPER = static_cast<ViStatus>(0xBFFF0067U);
inline constexpr ViStatus VI_ERROR_INV_FMT = static_cast<ViStatus>(0xBFFF0058U);
inline constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6U);

// Attributes and their values.
inline constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001AU;
inline constexpr ViAttr VI_ATTR_RD_BUF_OPER_MODE = 0x3FFF002AU;
inline constexpr ViAttr VI_ATTR_WR_BUF_OPER_MODE = 0x3FFF002DU;
inline constexpr ViAttrState VI_FLUSH_ON_ACCESS = 1;
inline constexpr ViAttrState VI_FLUSH_WHEN_FULL = 0;

// viFlush masks.
inline constexpr ViUInt16 VI_READ_BUF = 1;
inline constexpr ViUInt16 VI_WRITE_BUF = 2;
inline constexpr ViUInt16 VI_READ_BUF_DISCARD = 4;
inline constexpr ViUInt16 VI_WRITE_BUF_DISCARD = 8;

inline constexpr ViUInt32 VI_NO_LOCK = 0;

// Time-out values (milliseconds otherwise).
inline constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
inline constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFU;

ViStatus viOpenDefaultRM(ViSession* resourceManager);
ViStatus viOpen(ViSession resourceManager, const char* resourceName, ViUInt32 accessMode,
                ViUInt32 openTimeout, ViSession* session);
ViStatus viClose(ViObject object);
ViStatus viSetAttribute(ViObject object, ViAttr attribute, ViAttrState value);
ViStatus viGetAttribute(ViObject object, ViAttr attribute, ViAttrState* value);
// Formats like printf (numbers in the C locale) and sends the result as one
// message.
ViStatus viPrintf(ViSession session, const char* format, ...) __attribute__((format(printf, 2, 3)));
ViStatus viWrite(ViSession session, const ViByte* buffer, ViUInt32 count, ViUInt32* written);
// VI_SUCCESS when the message end came, VI_SUCCESS_MAX_CNT when `count`
// bytes came first, VI_ERROR_TMO or VI_ERROR_CONN_LOST with whatever came
// before.
ViStatus viRead(ViSession session, ViByte* buffer, ViUInt32 count, ViUInt32* received);
// Reads one answer (up to its message end) and parses it. Supported formats: "%t"
// (char*, the whole answer up to its message end; the buffer must hold 1024
// bytes, longer answers are cut), "%d" (int*), "%ld" (long*), "%f" (float*),
// "%lf" (double*), "%s" (char*, one word, cut like "%t"); white space in the
// format skips white space, other characters must match. Numbers are read in
// the C locale. An answer that does not match gives VI_ERROR_INV_FMT; a
// time-out gives VI_ERROR_TMO after parsing what arrived.
ViStatus viScanf(ViSession session, const char* format, ...);
// Writes `writeFormat` (no arguments are taken for it) as one message, then
// reads with `readFormat` as viScanf does.
ViStatus viQueryf(ViSession session, const char* writeFormat, const char* readFormat, ...);
// Socket: VI_READ_BUF or VI_READ_BUF_DISCARD drop every unread byte (those
// already arrived included). VXI-11: VI_READ_BUF_DISCARD drops what the
// session holds; VI_READ_BUF also reads the rest of an answer already begun
// and drops it (an answer not yet begun stays with the instrument). Writes are
// never held back, so VI_WRITE_BUF has nothing to do. A lost link fails at
// once.
ViStatus viFlush(ViSession session, ViUInt16 mask);
// `description` must hold 256 bytes. When `object` is the session (or
// resource manager) whose last failure was `status`, the reason is added in
// parentheses (the refused resource, the lost peer, ...).
ViStatus viStatusDesc(ViObject object, ViStatus status, char description[256]);
