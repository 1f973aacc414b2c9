#include "report/Results.h"

#include <cstdio>
#include <utility>

#include "platform/clock.h"
#include "platform/files.h"
#include "report/Json.h"
#include "report/ProgressLog.h"
#include "report/StatisticsPage.h"
#include "state/StationState.h"

#ifndef STATION_VERSION
#define STATION_VERSION "unknown"
#endif

namespace {

// Bumped when a key changes meaning or disappears; new keys do not bump it.
constexpr int kResultsFormatVersion = 1;

ResultsRun run;

TestResults* OpenTest() {
  if (run.tests.empty() || run.tests.back().ended) return nullptr;
  return &run.tests.back();
}

// ---- JSON ------------------------------------------------------------------

class JsonOut {
 public:
  explicit JsonOut(std::string& out) : out_(out) {}
  void Open(char bracket) {
    out_ += bracket;
    first_ = true;
  }
  void Close(char bracket) {
    out_ += bracket;
    first_ = false;
  }
  void Key(const char* key) {
    Comma();
    AppendJsonString(out_, key);
    out_ += ':';
  }
  void Item() { Comma(); }
  void Number(const char* key, double value) {
    Key(key);
    AppendJsonNumber(out_, value);
  }
  void Integer(const char* key, int value) {
    Key(key);
    out_ += std::to_string(value);
  }
  void Text(const char* key, const std::string& text) {
    Key(key);
    AppendJsonString(out_, text);
  }
  void TextOrNull(const char* key, const std::string& text) {
    Key(key);
    if (text.empty())
      out_ += "null";
    else
      AppendJsonString(out_, text);
  }
  void Bool(const char* key, bool value) {
    Key(key);
    out_ += value ? "true" : "false";
  }
  void Null(const char* key) {
    Key(key);
    out_ += "null";
  }
  void Fields(const char* key, const std::vector<ResultsField>& fields) {
    Key(key);
    Open('{');
    for (const ResultsField& f : fields) {
      Key(f.key.c_str());
      if (f.isText)
        AppendJsonString(out_, f.text);
      else
        AppendJsonNumber(out_, f.number);
    }
    Close('}');
  }
  std::string& Raw() { return out_; }

 private:
  void Comma() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  std::string& out_;
  bool first_ = true;
};

void WritePosition(JsonOut& j, const char* key, const ResultsPosition& p) {
  j.Key(key);
  j.Open('{');
  j.Number("latitude_deg", p.latitude);
  j.Number("longitude_deg", p.longitude);
  j.Number("altitude_m", p.altitude);
  j.Close('}');
}

void WriteFix(JsonOut& j, const ResultsFix& fix) {
  if (!fix.present) {
    j.Null("fix");
    return;
  }
  j.Key("fix");
  j.Open('{');
  j.Number("latitude_deg", fix.position.latitude);
  j.Number("longitude_deg", fix.position.longitude);
  j.Number("altitude_m", fix.position.altitude);
  j.TextOrNull("utc", fix.utc);
  j.Integer("fix_mode", fix.fixMode);
  j.Integer("satellites_used", fix.satellitesUsed);
  j.Number("pdop", fix.pdop);
  j.Number("hdop", fix.hdop);
  j.Number("vdop", fix.vdop);
  j.Key("satellites");
  j.Open('[');
  for (const ResultsSatellite& s : fix.satellites) {
    j.Item();
    j.Open('{');
    j.Integer("prn", s.prn);
    j.Integer("cn0_dbhz", s.cn0);
    j.Integer("elevation_deg", s.elevation);
    j.Integer("azimuth_deg", s.azimuth);
    j.Close('}');
  }
  j.Close(']');
  j.Close('}');
}

void WriteErrors(JsonOut& j, const ResultsErrors& e) {
  if (!e.present) {
    j.Null("errors");
    return;
  }
  j.Key("errors");
  j.Open('{');
  j.Number("error_2d_m", e.error2d);
  j.Number("error_3d_m", e.error3d);
  j.Number("error_east_m", e.east);
  j.Number("error_north_m", e.north);
  j.Number("error_up_m", e.up);
  j.Close('}');
}

void WriteAccuracy(JsonOut& j, const AccuracyStatistics& a) {
  j.Key("accuracy");
  j.Open('{');
  j.Integer("samples", a.samples);
  j.Number("cep50_m", a.cep50);
  j.Number("cep95_m", a.cep95);
  j.Number("drms2_m", a.drms2);
  j.Number("vertical95_m", a.vertical95);
  j.Number("sep50_m", a.sep50);
  j.Number("mean_2d_m", a.mean2d);
  j.Number("max_2d_m", a.max2d);
  j.Number("mean_3d_m", a.mean3d);
  j.Number("max_3d_m", a.max3d);
  j.Number("mean_vertical_m", a.meanVertical);
  j.Close('}');
}

void WriteStatistics(JsonOut& j, const TestResults& t) {
  j.Key("statistics");
  j.Open('{');
  j.Text("percentiles", "nearest rank");
  WriteAccuracy(j, t.accuracy);
  if (t.kind == ResultsTestKind::kBasic) {
    const TimeToFixStatistics& f = t.timeToFix;
    j.Key("time_to_fix");
    j.Open('{');
    j.Integer("fixes", f.fixes);
    j.Integer("without_fix", f.withoutFix);
    j.Number("mean_s", f.mean);
    j.Number("median_s", f.median);
    j.Number("p95_s", f.p95);
    j.Number("max_s", f.max);
    j.Close('}');
  } else {
    const DriveStatistics& d = t.drive;
    j.Key("drive");
    j.Open('{');
    j.Integer("passes", d.passes);
    j.Integer("good_fix_passes", d.goodFixPasses);
    j.Number("availability", d.availability);
    j.Number("window_s", d.windowSeconds);
    j.Key("windows");
    j.Open('[');
    for (const DriveWindow& w : d.windows) {
      j.Item();
      j.Open('{');
      j.Number("start_s", w.start);
      j.Number("end_s", w.end);
      j.Integer("passes", w.passes);
      j.Integer("good_fix_passes", w.goodFixPasses);
      j.Integer("samples", w.samples);
      j.Number("cep50_m", w.cep50);
      j.Number("cep95_m", w.cep95);
      j.Number("p95_3d_m", w.p95_3d);
      j.Close('}');
    }
    j.Close(']');
    j.Close('}');
  }
  j.Close('}');
}

void WriteTest(JsonOut& j, const TestResults& t) {
  j.Open('{');
  j.Text("test_id", t.id);
  j.Text("name", t.name);
  j.Text("kind", t.kind == ResultsTestKind::kBasic ? "basic" : "moving");
  j.Number("duration_s", t.duration);
  j.Text("csv_file", ResultsCsvName(t.id));
  j.Text("nmea_file", NmeaCaptureName(t.id));
  j.Fields("settings", t.settings);
  j.Key("verdict");
  j.Open('{');
  j.Text("text", t.verdict);
  j.Bool("passed", t.passed);
  for (const ResultsField& f : t.verdictDetails) {
    j.Key(f.key.c_str());
    if (f.isText)
      AppendJsonString(j.Raw(), f.text);
    else
      AppendJsonNumber(j.Raw(), f.number);
  }
  j.Close('}');
  WriteStatistics(j, t);
  if (t.kind == ResultsTestKind::kBasic) {
    j.Key("points");
    j.Open('[');
    for (const BasicPointResult& p : t.points) {
      j.Item();
      j.Open('{');
      j.Integer("point", p.point);
      j.Text("outcome", ResultsOutcomeName(p.outcome));
      j.TextOrNull("reason", p.reason);
      j.Number("time_to_fix_s", p.timeToFix);
      j.Number("first_wait_s", p.firstWait);
      WritePosition(j, "truth", p.truth);
      WriteFix(j, p.fix);
      WriteErrors(j, p.errors);
      j.Close('}');
    }
    j.Close(']');
  } else {
    j.Key("passes");
    j.Open('[');
    for (const MovingPassResult& p : t.passes) {
      j.Item();
      j.Open('{');
      j.Integer("pass", p.pass);
      j.Number("elapsed_s", p.elapsed);
      j.Bool("in_ignore_window", p.inIgnoreWindow);
      j.Text("outcome", ResultsOutcomeName(p.outcome));
      j.TextOrNull("reason", p.reason);
      j.Bool("good_fix", p.goodFix);
      j.Bool("degraded", p.degraded);
      j.Integer("satellites_usable", p.satellitesUsable);
      WritePosition(j, "truth", p.truth);
      WriteFix(j, p.fix);
      WriteErrors(j, p.errors);
      j.Close('}');
    }
    j.Close(']');
  }
  j.Close('}');
}

// ---- CSV -------------------------------------------------------------------

void CsvText(std::string& out, const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void CsvCells(std::string& out, std::initializer_list<double> values) {
  for (double v : values) {
    out += ',';
    out += ShortestNumberText(v);
  }
}

void CsvFixAndErrors(std::string& out, const ResultsPosition& truth, const ResultsFix& fix,
                     const ResultsErrors& e) {
  CsvCells(out, {truth.latitude, truth.longitude, truth.altitude});
  if (fix.present) {
    CsvCells(out, {fix.position.latitude, fix.position.longitude, fix.position.altitude});
    out += ',';
    CsvText(out, fix.utc);
    out += ',' + std::to_string(fix.fixMode) + ',' + std::to_string(fix.satellitesUsed);
  } else {
    out += ",,,,,,";
  }
  if (e.present)
    CsvCells(out, {e.error2d, e.error3d, e.east, e.north, e.up});
  else
    out += ",,,,,";
  if (fix.present) {
    CsvCells(out, {fix.pdop, fix.hdop, fix.vdop});
    std::string sats;
    for (const ResultsSatellite& s : fix.satellites) {
      if (!sats.empty()) sats += ' ';
      sats += std::to_string(s.prn) + ':' + std::to_string(s.cn0);
    }
    out += ',';
    CsvText(out, sats);
  } else {
    out += ",,,,";
  }
}

const char kCsvFixColumns[] =
    "truth_latitude_deg,truth_longitude_deg,truth_altitude_m,fix_latitude_deg,"
    "fix_longitude_deg,fix_altitude_m,fix_utc,fix_mode,satellites_used,error_2d_m,error_3d_m,"
    "error_east_m,error_north_m,error_up_m,pdop,hdop,vdop,satellites_prn_cn0_dbhz";

}  // namespace

ResultsField NumberField(std::string key, double value) {
  ResultsField f;
  f.key = std::move(key);
  f.number = value;
  return f;
}

ResultsField TextField(std::string key, std::string text) {
  ResultsField f;
  f.key = std::move(key);
  f.isText = true;
  f.text = std::move(text);
  return f;
}

const char* ResultsOutcomeName(ResultsOutcome outcome) {
  switch (outcome) {
    case ResultsOutcome::kSampled:
      return "sampled";
    case ResultsOutcome::kFailed:
      return "failed";
    case ResultsOutcome::kNoFix:
      return "no_fix";
    case ResultsOutcome::kDropped:
      return "dropped";
  }
  return "dropped";
}

const char* StationVersion() { return STATION_VERSION; }

std::string ResultsCsvName(const std::string& testId) { return "results_" + testId + ".csv"; }
std::string NmeaCaptureName(const std::string& testId) { return "NMEA_" + testId + ".nmea"; }

std::string RunLogPath(const std::string& name) {
  std::string path = "LOG/" + RunLogDirectory + "/" + name;
  ReplaceChar(path.data(), ':', '.');
  return path;
}

void ResultsBeginRun(const std::string& simulatorIdentification, int receiverType,
                     int receiverPort) {
  if (run.directory != RunLogDirectory) {
    run = ResultsRun{};
    run.directory = RunLogDirectory;
  }
  run.simulatorIdentification = simulatorIdentification;
  run.receiverType = receiverType;
  run.receiverPort = receiverPort;
  run.timeScale = TimeScale();
}

void ResultsBeginTest(const std::string& testId, const std::string& name, ResultsTestKind kind,
                      std::vector<ResultsField> settings) {
  // A test started without a launch (tests of the procedures) still records.
  if (run.directory != RunLogDirectory) {
    run = ResultsRun{};
    run.directory = RunLogDirectory;
    run.timeScale = TimeScale();
  }
  TestResults test;
  test.id = testId;
  test.name = name;
  test.kind = kind;
  test.started = ClockSeconds();
  test.settings = std::move(settings);
  run.tests.push_back(std::move(test));
}

void ResultsAddBasicPoint(const BasicPointResult& point) {
  if (TestResults* test = OpenTest()) test->points.push_back(point);
}

void ResultsAddMovingPass(const MovingPassResult& pass) {
  if (TestResults* test = OpenTest()) test->passes.push_back(pass);
}

void ComputeTestStatistics(TestResults& t) {
  std::vector<ErrorSample> samples;
  if (t.kind == ResultsTestKind::kBasic) {
    std::vector<double> ttff;
    int withoutFix = 0;
    for (const BasicPointResult& p : t.points) {
      if (p.outcome == ResultsOutcome::kSampled && p.errors.present)
        samples.push_back(
            {p.errors.error2d, p.errors.error3d, p.errors.east, p.errors.north, p.errors.up});
      if (std::isfinite(p.timeToFix))
        ttff.push_back(p.timeToFix);
      else
        ++withoutFix;
    }
    t.timeToFix = ComputeTimeToFix(ttff, withoutFix);
  } else {
    std::vector<DrivePassSample> passes;
    passes.reserve(t.passes.size());
    double duration = 0.0;
    for (const MovingPassResult& p : t.passes) {
      const bool measured = p.outcome == ResultsOutcome::kSampled && p.errors.present;
      passes.push_back(
          {p.elapsed, !p.inIgnoreWindow, p.goodFix, measured, p.errors.error2d, p.errors.error3d});
      if (measured && p.goodFix && !p.inIgnoreWindow)
        samples.push_back(
            {p.errors.error2d, p.errors.error3d, p.errors.east, p.errors.north, p.errors.up});
      if (std::isfinite(p.elapsed) && p.elapsed > duration) duration = p.elapsed;
    }
    for (const ResultsField& f : t.settings)
      if (f.key == "duration_s" && !f.isText && f.number > 0) duration = f.number;
    t.drive = ComputeDrive(passes, duration);
  }
  t.accuracy = ComputeAccuracy(samples);
}

std::string ResultsJson(const ResultsRun& r) {
  std::string out;
  std::size_t passes = 0;
  for (const TestResults& t : r.tests) passes += t.points.size() + t.passes.size();
  out.reserve(4096 + passes * 700);
  JsonOut j(out);
  j.Open('{');
  j.Text("format", "gnss-station results");
  j.Integer("format_version", kResultsFormatVersion);
  j.Text("station_version", StationVersion());
  j.Text("run_log_directory", r.directory);
  j.Number("time_scale", r.timeScale);
  j.Text("simulator_identification", r.simulatorIdentification);
  j.Key("receiver");
  j.Open('{');
  j.Integer("type", r.receiverType);
  j.Integer("port", r.receiverPort);
  j.Close('}');
  j.Key("tests");
  j.Open('[');
  for (const TestResults& t : r.tests) {
    j.Item();
    WriteTest(j, t);
  }
  j.Close(']');
  j.Close('}');
  out += '\n';
  return out;
}

std::string ResultsCsv(const TestResults& t) {
  std::string out;
  out.reserve(256 + (t.points.size() + t.passes.size()) * 300);
  if (t.kind == ResultsTestKind::kBasic) {
    out += "point,outcome,reason,time_to_fix_s,first_wait_s,";
    out += kCsvFixColumns;
    out += "\r\n";
    for (const BasicPointResult& p : t.points) {
      out += std::to_string(p.point) + ',' + ResultsOutcomeName(p.outcome) + ',';
      CsvText(out, p.reason);
      CsvCells(out, {p.timeToFix, p.firstWait});
      CsvFixAndErrors(out, p.truth, p.fix, p.errors);
      out += "\r\n";
    }
  } else {
    out += "pass,elapsed_s,in_ignore_window,outcome,reason,good_fix,degraded,satellites_usable,";
    out += kCsvFixColumns;
    out += "\r\n";
    for (const MovingPassResult& p : t.passes) {
      out += std::to_string(p.pass);
      CsvCells(out, {p.elapsed});
      out += p.inIgnoreWindow ? ",1," : ",0,";
      out += ResultsOutcomeName(p.outcome);
      out += ',';
      CsvText(out, p.reason);
      out += p.goodFix ? ",1" : ",0";
      out += p.degraded ? ",1," : ",0,";
      out += std::to_string(p.satellitesUsable);
      CsvFixAndErrors(out, p.truth, p.fix, p.errors);
      out += "\r\n";
    }
  }
  return out;
}

int WriteResultsFiles(const ResultsRun& r, const TestResults& t, const std::string& directory) {
  int first = 0;
  const auto write = [&](const std::string& name, const std::string& text) {
    std::string path = directory + "/" + name;
    ReplaceChar(path.data(), ':', '.');
    const int error = WriteFileAtomically(path, text);
    if (error != 0) {
      std::fprintf(stderr, "gnss-station: %s\n", ErrnoText(path, error).c_str());
      if (first == 0) first = error;
    }
  };
  write("results.json", ResultsJson(r));
  write(ResultsCsvName(t.id), ResultsCsv(t));
  std::string pageError;
  const int pageStatus = WriteStatisticsPage(r, directory, &pageError);
  if (pageStatus != 0) {
    std::fprintf(stderr, "gnss-station: %s\n", pageError.c_str());
    if (first == 0) first = pageStatus;
  }
  return first;
}

int ResultsEndTest(const std::string& verdict, std::vector<ResultsField> details) {
  TestResults* t = OpenTest();
  if (t == nullptr) return 0;
  t->ended = true;
  t->duration = ClockSeconds() - t->started;
  t->verdict = verdict;
  t->passed = verdict.compare(0, 4, "PASS") == 0;
  t->verdictDetails = std::move(details);
  ComputeTestStatistics(*t);
  return WriteResultsFiles(run, *t, "LOG/" + run.directory);
}

const ResultsRun& CurrentResults() { return run; }

void ResetResults() { run = ResultsRun{}; }
