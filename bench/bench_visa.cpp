// Round trips through the station's VISA layer to qarn-emu over loopback.
// qarn-emu is taken from $QARN_EMU, else from ../bin/qarn-emu beside this
// program's folder (the build tree's layout).
//   build/bench/bench_visa [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/EmulatorProcess.h"
#include "platform/visa.h"

namespace {

std::string EmulatorPath() {
  if (const char* path = std::getenv("QARN_EMU")) return path;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return (self.parent_path().parent_path() / "bin" / "qarn-emu").string();
}

struct Lab {
  std::unique_ptr<EmulatorProcess> emulator;
  ViSession rm = VI_NULL;
  ViSession session = VI_NULL;
  std::string error;

  Lab() {
    emulator = std::make_unique<EmulatorProcess>(EmulatorPath(), "1");
    if (!emulator->Start(&error)) return;
    viOpenDefaultRM(&rm);
    if (viOpen(rm, emulator->Resource().c_str(), VI_NO_LOCK, 0, &session) != VI_SUCCESS) {
      error = "viOpen failed";
      return;
    }
    viSetAttribute(session, VI_ATTR_TMO_VALUE, 5000);
  }
  ~Lab() { viClose(rm); }
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
  ViByte answer[256];
  for (auto _ : state) {
    ViUInt32 received = 0;
    if (!WriteText(lab.session, "*idn?") ||
        viRead(lab.session, answer, sizeof answer, &received) != VI_SUCCESS) {
      return state.SkipWithError("round trip failed");
    }
    benchmark::DoNotOptimize(received);
  }
}
BENCHMARK(BM_IdnRoundTrip)->Unit(benchmark::kMicrosecond);

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
  for (auto _ : state) {
    long count = 0;
    if (viQueryf(lab.session, "SOUR:BB:GPS:SAT:COUNT?\n", "%ld", &count) != VI_SUCCESS) {
      return state.SkipWithError("query failed");
    }
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_QueryfInteger)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
