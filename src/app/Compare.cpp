#include "app/Compare.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/files.h"
#include "platform/stdio.h"
#include "report/Json.h"
#include "text/CText.h"

namespace {

// A run's results.json of a one-hour drive is a few MB; this bounds a file
// that is not one.
constexpr std::size_t kResultsJsonMaxBytes = 256u << 20;

struct Figure {
  const char* name;     // as --tolerance names it
  const char* label;    // in the table
  const char* group;    // "accuracy", "time_to_fix" or "drive"
  const char* key;      // in that group of results.json
  bool higherIsBetter;  // availability
};

constexpr Figure kFigures[] = {
    {"cep50", "CEP50 [m]", "accuracy", "cep50_m", false},
    {"cep95", "CEP95 [m]", "accuracy", "cep95_m", false},
    {"2drms", "2DRMS [m]", "accuracy", "drms2_m", false},
    {"v95", "vertical 95% [m]", "accuracy", "vertical95_m", false},
    {"sep50", "SEP50 [m]", "accuracy", "sep50_m", false},
    {"mean2d", "mean 2D [m]", "accuracy", "mean_2d_m", false},
    {"max2d", "largest 2D [m]", "accuracy", "max_2d_m", false},
    {"mean3d", "mean 3D [m]", "accuracy", "mean_3d_m", false},
    {"max3d", "largest 3D [m]", "accuracy", "max_3d_m", false},
    {"ttffmean", "TTFF mean [s]", "time_to_fix", "mean_s", false},
    {"ttff50", "TTFF median [s]", "time_to_fix", "median_s", false},
    {"ttff95", "TTFF 95% [s]", "time_to_fix", "p95_s", false},
    {"ttffmax", "TTFF largest [s]", "time_to_fix", "max_s", false},
    {"availability", "availability", "drive", "availability", true},
};

const Figure* FigureNamed(const std::string& name) {
  for (const Figure& f : kFigures)
    if (name == f.name) return &f;
  return nullptr;
}

bool ReadRun(const std::string& where, JsonValue* run, std::string* error) {
  std::string path = where;
  std::error_code ignored;
  if (std::filesystem::is_directory(where, ignored)) path += "/results.json";
  std::string text;
  int errorNumber = 0;
  switch (ReadWholeFile(path, kResultsJsonMaxBytes, text, &errorNumber)) {
    case ReadOutcome::kComplete:
      break;
    case ReadOutcome::kCutAtBound:
      *error = path + ": larger than a results file can be";
      return false;
    case ReadOutcome::kMissing:
      *error = path + ": no such file (is it a run-log directory of this station?)";
      return false;
    case ReadOutcome::kNotRegular:
      *error = path + ": not a regular file";
      return false;
    case ReadOutcome::kFailed:
      *error = ErrnoText(path, errorNumber);
      return false;
  }
  std::string reason;
  if (!ParseJson(text, run, &reason)) {
    *error = path + ": " + reason;
    return false;
  }
  const JsonValue* tests = run->Find("tests");
  if (run->TextAt("format") != "gnss-station results" || tests == nullptr ||
      tests->kind != JsonValue::Kind::kArray) {
    *error = path + ": not a results file of this station";
    return false;
  }
  return true;
}

// Tests keyed by id and occurrence ("000#1"), so that two launches of one
// test in one directory pair up in order.
std::map<std::string, const JsonValue*> TestsById(const JsonValue& run) {
  std::map<std::string, const JsonValue*> out;
  std::map<std::string, int> seen;
  for (const JsonValue& t : run.Find("tests")->items) {
    const std::string id = t.TextAt("test_id");
    out[id + "#" + std::to_string(++seen[id])] = &t;
  }
  return out;
}

double FigureOf(const JsonValue* test, const Figure& f) {
  if (test == nullptr) return NAN;
  const JsonValue* statistics = test->Find("statistics");
  const JsonValue* group = statistics ? statistics->Find(f.group) : nullptr;
  return group ? group->NumberAt(f.key) : NAN;
}

std::string Cell(double v) { return std::isfinite(v) ? FormatC("%12.3f", v) : "         n/a"; }

std::string Verdict(const JsonValue* test) {
  if (test == nullptr) return "(absent)";
  const JsonValue* v = test->Find("verdict");
  return v ? v->TextAt("text") : "";
}

}  // namespace

const char* ToleranceNames() {
  return "cep50 cep95 2drms v95 sep50 mean2d max2d mean3d max3d (m), ttffmean ttff50 ttff95 "
         "ttffmax (s), availability (share 0..1)";
}

bool ParseTolerances(const std::string& text, std::vector<CompareTolerance>* out,
                     std::string* error) {
  out->clear();
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    const std::size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    if (equals == std::string::npos || FigureNamed(name) == nullptr) {
      *error =
          "--tolerance: \"" + item + "\" is not NAME=VALUE with NAME one of " + ToleranceNames();
      return false;
    }
    const std::string number = item.substr(equals + 1);
    char* end = nullptr;
    const double value = number.empty() ? NAN : strtod_l(number.c_str(), &end, CLocale());
    if (!(value >= 0.0) || !std::isfinite(value) || end == nullptr || *end != '\0') {
      *error = "--tolerance: \"" + item + "\" needs a number of 0 or more";
      return false;
    }
    out->push_back({name, value});
    start = comma + 1;
  }
  return true;
}

int RunCompare(const std::string& runA, const std::string& runB,
               const std::vector<CompareTolerance>& tolerances) {
  JsonValue a, b;
  std::string error;
  if (!ReadRun(runA, &a, &error) || !ReadRun(runB, &b, &error)) {
    std::fprintf(stderr, "gnss-station: --compare: %s\n", error.c_str());
    return 2;
  }
  std::map<std::string, double> tolerance;
  for (const CompareTolerance& t : tolerances) tolerance[t.name] = t.value;

  StdPrintf("A: %s (%s)\nB: %s (%s)\n", runA.c_str(), a.TextAt("run_log_directory").c_str(),
            runB.c_str(), b.TextAt("run_log_directory").c_str());
  const auto testsA = TestsById(a);
  const auto testsB = TestsById(b);
  std::map<std::string, bool> keys;
  for (const auto& [key, test] : testsA) keys[key] = true;
  for (const auto& [key, test] : testsB) keys[key] = true;

  int worse = 0;
  for (const auto& [key, present] : keys) {
    const JsonValue* ta = testsA.count(key) ? testsA.at(key) : nullptr;
    const JsonValue* tb = testsB.count(key) ? testsB.at(key) : nullptr;
    const JsonValue* either = ta ? ta : tb;
    StdPrintf("\nTest %s %s: A %s, B %s\n", either->TextAt("test_id").c_str(),
              either->TextAt("name").c_str(), Verdict(ta).c_str(), Verdict(tb).c_str());
    StdPrintf("  %-18s %12s %12s %12s  %s\n", "figure", "A", "B", "B - A", "tolerance");
    for (const Figure& f : kFigures) {
      const double va = FigureOf(ta, f), vb = FigureOf(tb, f);
      if (!std::isfinite(va) && !std::isfinite(vb) && !tolerance.count(f.name)) continue;
      const double diff = vb - va;
      std::string judged;
      if (tolerance.count(f.name)) {
        const double limit = tolerance[f.name];
        const double loss = f.higherIsBetter ? -diff : diff;
        // A figure B no longer has (no sample, or the test missing) is worse.
        const bool beyond = std::isfinite(va) ? !std::isfinite(vb) || loss > limit : false;
        judged = FormatC("%g", limit) + (beyond ? "  WORSE" : "  ok");
        worse += beyond ? 1 : 0;
      }
      StdPrintf("  %-18s %s %s %s  %s\n", f.label, Cell(va).c_str(), Cell(vb).c_str(),
                std::isfinite(diff) ? FormatC("%+12.3f", diff).c_str() : "         n/a",
                judged.c_str());
    }
  }
  if (!tolerances.empty())
    StdPrintf("\n%s\n",
              worse > 0
                  ? FormatC("B is worse than A beyond tolerance in %d figure(s)", worse).c_str()
                  : "B is within every tolerance of A");
  return worse > 0 ? 1 : 0;
}
