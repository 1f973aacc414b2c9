// Epoch cutting and decoding over the shared NMEA benchmark corpus, exactly
// as the monitoring loop and --decode-nmea do it. Reports time per epoch.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/serial.h"
#include "receiver/Epoch.h"
#include "receiver/FixAcquisition.h"
#include "receiver/ReceiverLink.h"

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

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A 1 Hz receiver on a pseudo-terminal: one epoch of about 860 bytes (the
// corpus' average) a second, written by its own thread, whose processor time
// is not counted.
class OneHertzReceiver {
 public:
  OneHertzReceiver() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master_);
    unlockpt(master_);
    ReceiverPort = SerialOpenPath(ptsname(master_));
    SerialSetTimeouts(ReceiverPort, kReceiverReadMilliseconds, kReceiverWritePerByteMilliseconds,
                      kReceiverWriteConstantMilliseconds);
    thread_ = std::thread([this] {
      const std::string& corpus = Corpus();
      const std::size_t first = corpus.find("GGA,");
      std::size_t at = first;
      while (!stop_) {
        // The next epoch of the corpus, from one GGA to the next, round and round.
        std::size_t next = corpus.find("GGA,", at + 4);
        if (next == std::string::npos) {
          at = first;
          next = corpus.find("GGA,", at + 4);
        }
        const std::string epoch = corpus.substr(at - 3, next - at);
        at = next;
        if (write(master_, epoch.data(), epoch.size()) < 0) break;
        for (int i = 0; i < 100 && !stop_; ++i)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~OneHertzReceiver() {
    stop_ = true;
    thread_.join();
    CloseReceiverPort();
    close(master_);
  }

 private:
  int master_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Processor time of the waiting loops, as a share of one core: WaitForFix on
// a stream it never accepts (no 3D fix demanded satellites), for 10 s.
void BM_WaitForFixCpu(benchmark::State& state) {
  if (Corpus().empty()) {
    state.SkipWithError("no bench-corpus.nmea in the shared NMEA corpus");
    return;
  }
  OneHertzReceiver receiver;
  FixStatus status;
  status.minSatellites = 99;
  status.maxFixSeconds = 10;
  SatelliteTable table;
  FixRecord fix;
  const int abort = 0;
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    const auto w0 = std::chrono::steady_clock::now();
    WaitForFix(status, table, fix, abort);
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  }
  state.counters["cpu_percent"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_WaitForFixCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

// ReadNextFix called back to back on the same receiver for 10 s.
void BM_ReadNextFixCpu(benchmark::State& state) {
  if (Corpus().empty()) {
    state.SkipWithError("no bench-corpus.nmea in the shared NMEA corpus");
    return;
  }
  OneHertzReceiver receiver;
  FixStatus status;
  SatelliteTable table;
  FixRecord fix;
  auto buffer = std::make_unique<ReceiveBuffer>();
  const int abort = 0;
  double cpu = 0, wall = 0;
  int epochs = 0;
  for (auto _ : state) {
    const double c0 = ThreadCpuSeconds();
    const auto w0 = std::chrono::steady_clock::now();
    const double until = ClockSeconds() + 10.0;
    while (ClockSeconds() < until) {
      int inView = 0;
      ReadNextFix(table, status, &inView, fix, *buffer, abort);
      ++epochs;
    }
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  }
  state.counters["cpu_percent"] = 100.0 * cpu / wall;
  state.counters["calls"] = epochs;
}
BENCHMARK(BM_ReadNextFixCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
