#include "app/JUnit.h"

#include <cmath>
#include <cstdio>

#include "platform/files.h"
#include "text/CText.h"

namespace {

// Length of the valid UTF-8 sequence at text[i] (0: not one).
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  std::size_t length = 0;
  if (c >= 0xC2 && c <= 0xDF)
    length = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    length = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    length = 4;
  else
    return 0;
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
  // Overlong three- and four-byte forms and surrogates.
  if (c == 0xE0 && byte(i + 1) < 0xA0) return 0;
  if (c == 0xED && byte(i + 1) >= 0xA0) return 0;
  if (c == 0xF0 && byte(i + 1) < 0x90) return 0;
  if (c == 0xF4 && byte(i + 1) >= 0x90) return 0;
  return length;
}

// Text for an attribute or element: markup escaped, line ends kept as
// references, bytes XML 1.0 cannot hold replaced by U+FFFD, other non-UTF-8
// bytes read as Latin-1.
std::string Xml(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        if (c < 0x20) {
          out += "\xEF\xBF\xBD";
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8Length(text, i); n > 0) {
          out.append(text, i, n);
          i += n;
          continue;
        } else {
          out += FormatC("&#x%X;", c);
        }
    }
    ++i;
  }
  return out;
}

void Property(std::string& out, const char* indent, const std::string& name,
              const std::string& value) {
  out +=
      std::string(indent) + "<property name=\"" + Xml(name) + "\" value=\"" + Xml(value) + "\"/>\n";
}

void NumberProperty(std::string& out, const char* indent, const char* name, double value) {
  if (std::isfinite(value)) Property(out, indent, name, FormatC("%.6f", value));
}

std::string Seconds(double value) { return FormatC("%.3f", std::isfinite(value) ? value : 0.0); }

void StatisticsProperties(std::string& out, const TestResults& t) {
  const char* in = "        ";
  const AccuracyStatistics& a = t.accuracy;
  Property(out, in, "verdict", t.verdict);
  Property(out, in, "samples", std::to_string(a.samples));
  NumberProperty(out, in, "cep50_m", a.cep50);
  NumberProperty(out, in, "cep95_m", a.cep95);
  NumberProperty(out, in, "drms2_m", a.drms2);
  NumberProperty(out, in, "vertical95_m", a.vertical95);
  NumberProperty(out, in, "sep50_m", a.sep50);
  NumberProperty(out, in, "mean_2d_m", a.mean2d);
  NumberProperty(out, in, "max_2d_m", a.max2d);
  NumberProperty(out, in, "mean_3d_m", a.mean3d);
  NumberProperty(out, in, "max_3d_m", a.max3d);
  if (t.kind == ResultsTestKind::kBasic) {
    const TimeToFixStatistics& f = t.timeToFix;
    Property(out, in, "ttff_fixes", std::to_string(f.fixes));
    Property(out, in, "ttff_without_fix", std::to_string(f.withoutFix));
    NumberProperty(out, in, "ttff_mean_s", f.mean);
    NumberProperty(out, in, "ttff_median_s", f.median);
    NumberProperty(out, in, "ttff_p95_s", f.p95);
    NumberProperty(out, in, "ttff_max_s", f.max);
  } else {
    Property(out, in, "passes", std::to_string(t.drive.passes));
    NumberProperty(out, in, "availability", t.drive.availability);
  }
  for (const ResultsField& f : t.verdictDetails) {
    if (f.isText)
      Property(out, in, f.key, f.text);
    else
      NumberProperty(out, in, f.key.c_str(), f.number);
  }
}

}  // namespace

std::string JUnitXml(const ResultsRun& run, const std::string& launch, int exitCode) {
  int failures = 0, errors = 0, tests = 0;
  double total = 0.0;
  for (const TestResults& t : run.tests) {
    ++tests;
    if (!t.ended)
      ++errors;
    else if (!t.passed)
      ++failures;
    total += std::isfinite(t.duration) ? t.duration : 0.0;
  }
  const bool noTest = run.tests.empty();
  if (noTest) tests = errors = 1;

  const std::string suite = "gnss-station." + (run.directory.empty() ? launch : run.directory);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += FormatC(
      "<testsuites name=\"gnss-station\" tests=\"%d\" failures=\"%d\" errors=\"%d\" "
      "time=\"%s\">\n",
      tests, failures, errors, Seconds(total).c_str());
  out += "  <testsuite name=\"" + Xml(suite) +
         FormatC("\" tests=\"%d\" failures=\"%d\" errors=\"%d\" skipped=\"0\" time=\"%s\">\n",
                 tests, failures, errors, Seconds(total).c_str());
  out += "    <properties>\n";
  const char* in = "      ";
  Property(out, in, "launch", launch);
  Property(out, in, "station_version", StationVersion());
  Property(out, in, "run_log_directory", run.directory);
  Property(out, in, "simulator_identification", run.simulatorIdentification);
  Property(out, in, "receiver_type", std::to_string(run.receiverType));
  Property(out, in, "receiver_port", std::to_string(run.receiverPort));
  Property(out, in, "time_scale", FormatC("%g", run.timeScale));
  out += "    </properties>\n";

  if (noTest) {
    out += "    <testcase classname=\"" + Xml(suite) + "\" name=\"" + Xml("--run " + launch) +
           "\" time=\"0.000\">\n";
    out += FormatC(
        "      <error message=\"no test ran (exit code %d)\" type=\"no verdict\">"
        "The launch came to no test: see the station's output (no simulator, no "
        "receiver port?).</error>\n",
        exitCode);
    out += "    </testcase>\n";
  }
  for (const TestResults& t : run.tests) {
    out += "    <testcase classname=\"" + Xml(suite) + "\" name=\"" + Xml(t.id + " " + t.name) +
           "\" time=\"" + Seconds(t.duration) + "\">\n";
    out += "      <properties>\n";
    StatisticsProperties(out, t);
    out += "      </properties>\n";
    if (!t.ended) {
      out += "      <error message=\"the test did not end\" type=\"no verdict\"/>\n";
    } else if (!t.passed) {
      out += "      <failure message=\"" + Xml(t.verdict) + "\" type=\"verdict\">" +
             Xml(t.name + ": " + t.verdict + "; details in " + run.directory + "/GNSS_" + t.id +
                 ".html and results.json") +
             "</failure>\n";
    }
    out += "    </testcase>\n";
  }
  out += "  </testsuite>\n</testsuites>\n";
  return out;
}

int WriteJUnitFile(const std::string& path, const ResultsRun& run, const std::string& launch,
                   int exitCode) {
  const int error = WriteFileAtomically(path, JUnitXml(run, launch, exitCode));
  if (error != 0)
    std::fprintf(stderr, "gnss-station: --junit %s\n", ErrnoText(path, error).c_str());
  return error;
}
