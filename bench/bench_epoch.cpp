// Epoch cutting and decoding over the shared NMEA benchmark corpus, exactly
// as the monitoring loop and --decode-nmea do it. Reports time per epoch.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "receiver/Epoch.h"

namespace {

const std::string& Corpus() {
  static const std::string text = [] {
    std::ifstream file(STATION_SHARED_DIR "/nmea-corpus/bench-corpus.nmea", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }();
  return text;
}

void BM_EpochStream(benchmark::State& state) {
  if (Corpus().empty()) {
    state.SkipWithError("no bench-corpus.nmea in the shared NMEA corpus");
    return;
  }
  auto buffer = std::make_unique<ReceiveBuffer>();
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  std::int64_t epochs = 0;
  for (auto _ : state) {
    DecodeEpochStream(Corpus(), *buffer, fix, status, table,
                      [&](StreamStep, const EpochState&) { ++epochs; });
    benchmark::DoNotOptimize(fix);
  }
  state.SetItemsProcessed(epochs);
  // Seconds per epoch (shown with an SI prefix: "2.4u" is 2.4 microseconds).
  state.counters["per_epoch"] = benchmark::Counter(
      static_cast<double>(epochs), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EpochStream)->Unit(benchmark::kMicrosecond);

// The cut alone: finding each epoch's bounds without decoding it.
void BM_EpochCutOnly(benchmark::State& state) {
  if (Corpus().empty()) {
    state.SkipWithError("no bench-corpus.nmea in the shared NMEA corpus");
    return;
  }
  std::string text = Corpus();
  std::int64_t epochs = 0;
  for (auto _ : state) {
    int from = 0;
    EpochSpan span;
    const int length = static_cast<int>(text.size());
    while (FindBufferedEpoch(text.data() + from, length - from, "GGA,", &span) ==
           EpochSearch::kFound) {
      from += span.end - 1;
      ++epochs;
    }
  }
  state.SetItemsProcessed(epochs);
}
BENCHMARK(BM_EpochCutOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
