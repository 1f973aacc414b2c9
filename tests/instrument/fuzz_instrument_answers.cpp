// Fuzzes what the station makes of an instrument's answers: the input is the
// whole byte stream a simulator sends back on one raw-socket session (it then
// closes its side), and the station runs the exchanges that read and parse
// answers itself: the identification ("%t"), number queries, a text query,
// both forms of the simulation-time shift (week/TOW and the DATE/TIME
// answers), the SVID search of the satellite assignment, the error-queue loop
// and a command with its "*opc?". Everything goes through the public VISA
// API to a loopback peer in this process; no read waits, since the peer has
// closed its side once the bytes are sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzPeer.h"
#include "instrument/DUT_IP_Control.h"
#include "instrument/ScenarioSetup.h"
#include "platform/visa.h"

namespace {

void CheckText(const char* text, std::size_t capacity) {
  if (::strnlen(text, capacity) >= capacity) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzPeer& peer = FuzzPeer::Instance();
  const ViSession session = peer.Open(data, size);
  if (session == VI_NULL) return 0;
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

  CheckSimulatorErrors(session, peer.HtmlLog());
  Dut_Command(session, "SOUR:BB:STAT ON");
  if (numread > kReadBuffMax) std::abort();

  SimulatorSession = VI_NULL;
  peer.Close(session);
  return 0;
}
