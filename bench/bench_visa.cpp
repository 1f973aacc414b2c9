// Round trips through the station's VISA layer to qarn-emu over loopback, on
// the raw SCPI socket and on the VXI-11 core channel (by its port, without
// rpcbind). qarn-emu is taken from $QARN_EMU, else from ../bin/qarn-emu beside
// this program's folder (the build tree's layout).
//   build/bench/bench_visa [--benchmark_repetitions=5]
// bench/pyvisa_round_trip.py runs the *IDN? figures of this program beside
// pyvisa-py's over the same two links.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "platform/visa.h"
#include "tests/support/EmulatorProcess.h"

namespace {

std::string EmulatorPath() {
  if (const char* path = std::getenv("QARN_EMU")) return path;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path().parent_path() / "bin" / "qarn-emu").string();
}

// The VXI-11 core channel's port, from the line qarn-emu prints.
int Vxi11Port(EmulatorProcess& emulator) {
  static const std::regex kLine("VXI-11 core channel on port (\\d+)");
  for (int i = 0; i < 50; ++i) {
    std::smatch match;
    const std::string text = emulator.Transcript();
    if (std::regex_search(text, match, kLine)) return std::stoi(match[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

struct Lab {
  std::unique_ptr<EmulatorProcess> emulator;
  ViSession rm = VI_NULL;
  ViSession session = VI_NULL;  // SOCKET
  ViSession instr = VI_NULL;    // VXI-11
  std::string error;

  Lab() {
    emulator = std::make_unique<EmulatorProcess>(EmulatorPath(), "1");
    if (!emulator->Start(&error)) return;
    viOpenDefaultRM(&rm);
    const std::string instrResource =
        "TCPIP::127.0.0.1:" + std::to_string(Vxi11Port(*emulator)) + "::INSTR";
    if (viOpen(rm, emulator->Resource().c_str(), VI_NO_LOCK, 0, &session) != VI_SUCCESS ||
        viOpen(rm, instrResource.c_str(), VI_NO_LOCK, 0, &instr) != VI_SUCCESS) {
      error = "viOpen failed";
      return;
    }
    viSetAttribute(session, VI_ATTR_TMO_VALUE, 5000);
    viSetAttribute(instr, VI_ATTR_TMO_VALUE, 5000);
  }
  ~Lab() { viClose(rm); }
  // Argument 0: the SOCKET session; 1: the VXI-11 one.
  ViSession Session(const benchmark::State& state) const {
    return state.range(0) == 0 ? session : instr;
  }
};

Lab& SharedLab() {
  static Lab lab;
  return lab;
}

bool WriteText(ViSession session, const char* text) {
  ViUInt32 written;
  return viWrite(session, reinterpret_cast<const ViByte*>(text),
                 static_cast<ViUInt32>(std::strlen(text)), &written) == VI_SUCCESS;
}

// "*idn?" written with viWrite, the answer read with viRead.
void BM_IdnRoundTrip(benchmark::State& state) {
  Lab& lab = SharedLab();
  if (!lab.error.empty()) return state.SkipWithError(lab.error.c_str());
  const ViSession session = lab.Session(state);
  ViByte answer[256];
  for (auto _ : state) {
    ViUInt32 received = 0;
    if (!WriteText(session, "*idn?") ||
        viRead(session, answer, sizeof answer, &received) != VI_SUCCESS) {
      return state.SkipWithError("round trip failed");
    }
    benchmark::DoNotOptimize(received);
  }
  state.SetLabel(state.range(0) == 0 ? "SOCKET" : "VXI-11");
}
BENCHMARK(BM_IdnRoundTrip)->ArgName("vxi11")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A set-up command followed by the separate "*opc?" message and its answer,
// as every scenario command goes out.
void BM_CommandThenOperationComplete(benchmark::State& state) {
  Lab& lab = SharedLab();
  if (!lab.error.empty()) return state.SkipWithError(lab.error.c_str());
  ViByte answer[100];
  for (auto _ : state) {
    ViUInt32 received = 0;
    if (viPrintf(lab.session, "%s:SAT%d:STAT ON\n", "SOUR:BB:GPS", 3) != VI_SUCCESS ||
        !WriteText(lab.session, "*opc?") ||
        viRead(lab.session, answer, sizeof answer, &received) != VI_SUCCESS) {
      return state.SkipWithError("command failed");
    }
  }
}
BENCHMARK(BM_CommandThenOperationComplete)->Unit(benchmark::kMicrosecond);

// A numeric query parsed by viQueryf.
void BM_QueryfInteger(benchmark::State& state) {
  Lab& lab = SharedLab();
  if (!lab.error.empty()) return state.SkipWithError(lab.error.c_str());
  const ViSession session = lab.Session(state);
  for (auto _ : state) {
    long count = 0;
    if (viQueryf(session, "SOUR:BB:GPS:SAT:COUNT?\n", "%ld", &count) != VI_SUCCESS) {
      return state.SkipWithError("query failed");
    }
    benchmark::DoNotOptimize(count);
  }
  state.SetLabel(state.range(0) == 0 ? "SOCKET" : "VXI-11");
}
BENCHMARK(BM_QueryfInteger)->ArgName("vxi11")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
