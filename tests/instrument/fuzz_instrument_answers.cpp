// Fuzzes what the station makes of an instrument's answers: the input is the
// whole byte stream a simulator sends back on one raw-socket session (it then
// closes its side), and the station runs the exchanges that read and parse
// answers itself: the identification ("%t"), number queries, a text query,
// both forms of the simulation-time shift (week/TOW and the DATE/TIME
// answers), the SVID search of the satellite assignment, the error-queue loop
// and a command with its "*opc?". Everything goes through the public VISA
// API to a loopback peer in this process; no read waits, since the peer has
// closed its side once the bytes are sent.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "platform/visa.h"

namespace {

struct Peer {
  int listener = -1;
  std::string resource;
  ViSession manager = VI_NULL;
  std::FILE* htmlLog = nullptr;
};

Peer& ThePeer() {
  static Peer* peer = [] {
    auto* p = new Peer();
    std::signal(SIGPIPE, SIG_IGN);
    // The progress log writes to standard output; keep the fuzzer's quiet.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, STDOUT_FILENO);
    p->htmlLog = std::fopen("/dev/null", "w");
    p->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (p->listener < 0 ||
        ::bind(p->listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(p->listener, 4) != 0 ||
        ::getsockname(p->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      std::abort();
    p->resource = "TCPIP::127.0.0.1::" + std::to_string(ntohs(address.sin_port)) + "::SOCKET";
    if (viOpenDefaultRM(&p->manager) != VI_SUCCESS) std::abort();
    return p;
  }();
  return *peer;
}

void CheckText(const char* text, std::size_t capacity) {
  if (::strnlen(text, capacity) >= capacity) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // More than a socket buffer holds would block the single-threaded peer.
  if (size > 65536) return 0;
  Peer& peer = ThePeer();
  ViSession session = VI_NULL;
  if (viOpen(peer.manager, peer.resource.c_str(), 0, 0, &session) != VI_SUCCESS) std::abort();
  const int connection = ::accept4(peer.listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (connection < 0) std::abort();
  int buffer = 1 << 18;
  ::setsockopt(connection, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  for (std::size_t sent = 0; sent < size;) {
    const ssize_t n = ::send(connection, data + sent, size - sent, MSG_NOSIGNAL);
    if (n <= 0) std::abort();
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(connection, SHUT_WR);
  viSetAttribute(session, VI_ATTR_TMO_VALUE, 2000);
  SimulatorSession = session;

  char identification[1024] = "";
  viScanf(session, "%t", identification);
  CheckText(identification, sizeof identification);

  int integer = 0;
  double real = 0.0;
  char answer[kQueryAnswerSize];
  My_QueryInt(session, "SOUR:BB:GPS:SAT:COUNT?", &integer);
  if (numread > kReadBuffMax) std::abort();
  My_QueryDouble(session, "SOUR:POW?", &real);
  My_Query(session, "SOUR:BB:GPS:SAT1:STAN?", answer);
  CheckText(answer, sizeof answer);

  PrimarySystem week{kGpsPrefix, kGpsAlone, 0};
  ShiftSimulationTime(week, 3600.5);
  PrimarySystem calendar{kGlonassPrefix, kGlonassOnly, 1};
  ShiftSimulationTime(calendar, -90061.5);
  ConstellationRequest request;
  request.gpsCount = 3;
  request.gpsSvids = "5,7,30";
  AssignSatellites(week, request);

  CheckSimulatorErrors(session, peer.htmlLog);
  Dut_Command(session, "SOUR:BB:STAT ON");
  if (numread > kReadBuffMax) std::abort();

  SimulatorSession = VI_NULL;
  viClose(session);
  ::close(connection);
  return 0;
}
