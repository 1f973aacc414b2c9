// Decoding speed of the NMEA decoders, sentence by sentence into the fix
// records, per sentence type and for the mix of a real stream.
//
//   bench_nmea                       Google Benchmark run (ns_per_sentence)
//   bench_nmea --once [passes]       decode the mix `passes` times (default 1)
//                                    in DecodeCorpusPass, for instruction counts:
//   valgrind --tool=callgrind --toggle-collect='*DecodeCorpusPass*' bench_nmea --once 10
//
// Input: nmea-corpus/bench-corpus.nmea from the shared folder when present,
// otherwise a generated stream with the same mix of types.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "receiver/Nmea.h"

namespace {

struct Records {
  FixRecord fix;
  FixStatus status;
  SatelliteTable table;
  int messageCount = 0;
  int messageNumber = 0;
  bool previousWasGsa = false;
};

using Decoder = int (*)(const char*, Records&);

int DecodeGga(const char* s, Records& r) { return GPGGAParser(s, r.fix); }
int DecodeGsa(const char* s, Records& r) {
  // Consecutive GSA sentences of an epoch continue at usedCount.
  return GPGSAParser_Status(s, r.status, r.previousWasGsa ? r.status.usedCount : 0);
}
int DecodeGsv(const char* s, Records& r) {
  return GPGSVParser(s, r.table, r.messageCount, r.messageNumber, 0);
}
int DecodeRmc(const char* s, Records& r) { return GPRMCParser(s, r.fix); }
int DecodeZda(const char* s, Records& r) { return GPZDAParser(s, r.fix); }
int DecodeNothing(const char*, Records&) { return 0; }

// Indexed by NmeaSentenceType.
constexpr Decoder kDecoders[] = {DecodeNothing, DecodeGga, DecodeGsa,
                                 DecodeGsv,     DecodeRmc, DecodeZda};

inline int DecodeOne(const char* sentence, Records& records) {
  const NmeaSentenceType type = NmeaTypeOf(sentence);
  const int result = kDecoders[static_cast<int>(type)](sentence, records);
  records.previousWasGsa = type == NmeaSentenceType::kGsa;
  return result;
}

struct Corpus {
  std::vector<std::string> sentences;
  std::string origin;
};

// A stream of the same mix as the shared corpus (about 59 % GSV, 20 % GSA,
// 7 % each GGA, RMC, ZDA), for machines without it.
Corpus GenerateCorpus() {
  Corpus corpus;
  corpus.origin = "generated";
  char line[160];
  unsigned seed = 20260901;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int epoch = 0; epoch < 355; ++epoch) {
    const int s = epoch % 60;
    std::snprintf(line, sizeof line,
                  "$GNGGA,1234%02d.00,4807.%05u,N,01131.%05u,E,1,%02u,0.%02u,545.%u,M,46.9,M,,*47",
                  s, next(100000), next(100000), 6 + next(7), 50 + next(50), next(10));
    corpus.sentences.push_back(line);
    for (int gsa = 0; gsa < 3; ++gsa) {
      std::snprintf(line, sizeof line,
                    "$GNGSA,A,3,%02u,%02u,%02u,%02u,%02u,%02u,,,,,,,1.%02u,0.%02u,1.%02u,%d*2E",
                    next(32) + 1, next(32) + 1, next(32) + 1, next(32) + 1, next(32) + 1,
                    next(32) + 1, next(100), next(100), next(100), gsa + 1);
      corpus.sentences.push_back(line);
    }
    const char* talkers[] = {"GP", "GL", "GA"};
    for (const char* talker : talkers) {
      const int inView = 9 + static_cast<int>(next(4));
      const int messages = (inView + 3) / 4;
      for (int m = 1; m <= messages; ++m) {
        int n = std::snprintf(line, sizeof line, "$%sGSV,%d,%d,%02d", talker, messages, m, inView);
        for (int i = 0; i < 4 && 4 * (m - 1) + i < inView; ++i) {
          n += std::snprintf(line + n, sizeof line - n, ",%02u,%02u,%03u,%02u", next(99) + 1,
                             next(90), next(360), 20 + next(30));
        }
        std::snprintf(line + n, sizeof line - n, ",1*7D");
        corpus.sentences.push_back(line);
      }
    }
    std::snprintf(line, sizeof line,
                  "$GNRMC,1234%02d.00,A,4807.038,N,01131.000,E,0.02,,230394,,,A,V*6A", s);
    corpus.sentences.push_back(line);
    std::snprintf(line, sizeof line, "$GNZDA,1234%02d.00,23,03,2094,00,00*60", s);
    corpus.sentences.push_back(line);
  }
  return corpus;
}

const Corpus& TheCorpus() {
  static const Corpus corpus = [] {
    const std::string path = std::string(STATION_SHARED_DIR) + "/nmea-corpus/bench-corpus.nmea";
    std::ifstream in(path, std::ios::binary);
    if (!in) return GenerateCorpus();
    Corpus loaded;
    loaded.origin = path;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) loaded.sentences.push_back(line);
    }
    return loaded;
  }();
  return corpus;
}

std::vector<const char*> SentencesOf(NmeaSentenceType wanted, bool all) {
  std::vector<const char*> picked;
  for (const std::string& s : TheCorpus().sentences) {
    if (all || NmeaTypeOf(s.c_str()) == wanted) picked.push_back(s.c_str());
  }
  return picked;
}

__attribute__((noinline)) long DecodeCorpusPass(const std::vector<const char*>& sentences,
                                                Records& records) {
  long sum = 0;
  for (const char* sentence : sentences) sum += DecodeOne(sentence, records);
  return sum;
}

void BM_Decode(benchmark::State& state, NmeaSentenceType type, bool all) {
  const std::vector<const char*> sentences = SentencesOf(type, all);
  if (sentences.empty()) {
    state.SkipWithError("no sentences of this type");
    return;
  }
  Records records;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DecodeCorpusPass(sentences, records));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * sentences.size()));
  state.counters["ns_per_sentence"] = benchmark::Counter(
      static_cast<double>(sentences.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["sentences"] = static_cast<double>(sentences.size());
  state.SetLabel(TheCorpus().origin == "generated" ? "generated corpus" : "shared corpus");
}

BENCHMARK_CAPTURE(BM_Decode, GGA, NmeaSentenceType::kGga, false);
BENCHMARK_CAPTURE(BM_Decode, GSA, NmeaSentenceType::kGsa, false);
BENCHMARK_CAPTURE(BM_Decode, GSV, NmeaSentenceType::kGsv, false);
BENCHMARK_CAPTURE(BM_Decode, RMC, NmeaSentenceType::kRmc, false);
BENCHMARK_CAPTURE(BM_Decode, ZDA, NmeaSentenceType::kZda, false);
BENCHMARK_CAPTURE(BM_Decode, Mix, NmeaSentenceType::kOther, true);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--once") == 0) {
    const int passes = argc >= 3 ? std::atoi(argv[2]) : 1;
    const std::vector<const char*> sentences = SentencesOf(NmeaSentenceType::kOther, true);
    Records records;
    long sum = 0;
    for (int pass = 0; pass < passes; ++pass) sum += DecodeCorpusPass(sentences, records);
    std::printf("%s: %zu sentences x %d passes (checksum %ld)\n", TheCorpus().origin.c_str(),
                sentences.size(), passes, sum);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
