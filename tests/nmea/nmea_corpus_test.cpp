// Every GGA, GSA, GSV, RMC and ZDA sentence of the real receiver logs in the
// shared NMEA corpus, decoded and compared with the corpus's expected.csv
// (values computed outside this project with the C library's atoi/atof).
// The corpus is third-party data read in place; without it the test skips.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "receiver/Nmea.h"
#include "support/TextFile.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(STATION_SHARED_DIR) / "nmea-corpus" / "real";
constexpr int kValueColumns = 20;
constexpr double kUnwritten = -777.0;

struct Row {
  std::string file, talker, type, notes;
  int line = 0, col = 0;
  std::vector<std::string> values;  // v1..v20, "" where the cell is empty
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

std::vector<Row> ReadExpected() {
  const std::vector<std::string> lines = ReadTextLines(kCorpus / "expected.csv");
  std::vector<Row> rows;
  for (std::size_t i = 1; i < lines.size(); ++i) {  // after the header
    const std::vector<std::string> cells = Split(lines[i], ',');
    if (cells.size() < 6 + kValueColumns) continue;
    Row row;
    row.file = cells[0];
    row.line = std::atoi(cells[1].c_str());
    row.col = std::atoi(cells[2].c_str());
    row.talker = cells[3];
    row.type = cells[4];
    row.values.assign(cells.begin() + 6, cells.begin() + 6 + kValueColumns);
    for (std::size_t i = 6 + kValueColumns; i < cells.size(); ++i) row.notes += cells[i] + ",";
    rows.push_back(row);
  }
  return rows;
}

// The log's lines, split at LF only, as bytes.
const std::vector<std::string>& Lines(const std::string& file) {
  static std::map<std::string, std::vector<std::string>> cache;
  auto it = cache.find(file);
  if (it != cache.end()) return it->second;
  return cache.emplace(file, ReadTextLines(kCorpus / file)).first->second;
}

// The sentence as the stream reader hands it over: from its "$" to the end of
// the line, one CR before the LF removed, ending at the first NUL.
std::string Sentence(const Row& row) {
  const std::vector<std::string>& lines = Lines(row.file);
  if (row.line < 1 || static_cast<std::size_t>(row.line) > lines.size()) return {};
  std::string text = lines[row.line - 1];
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (row.col < 1 || static_cast<std::size_t>(row.col) > text.size()) return {};
  text = text.substr(row.col - 1);
  return text.substr(0, text.find('\0'));
}

// A number whose text is beyond the int range: the CSV shows glibc's atoi
// (undefined in ISO C); the station clamps as strtol does.
int ClampedField(const std::string& sentence, int field) {
  char out[kNmeaFieldBufferSize] = "";
  GetNmeaField(sentence.c_str() + 7, out, field);
  const long long value = std::strtoll(out, nullptr, 10);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Column (0-based into values) that shows field `field` of a sentence type.
int ColumnOfField(const std::string& type, int field) {
  if (type == "GSV") return field <= 2 ? field : field + 1;
  if (type == "GSA") return field - 1;
  if (type == "GGA" && field == 5) return 6;
  if (type == "ZDA") return field - 1;
  return -1;
}

class Checker {
 public:
  explicit Checker(const Row& row) : row_(row) {}
  std::string failures;

  void Int(int column, long long actual) {
    const std::string& cell = row_.values[column];
    const auto override = overrides_.find(column);
    const long long expected =
        override != overrides_.end() ? override->second : std::atoll(cell.c_str());
    if (cell.empty() || actual != expected) Fail(column, std::to_string(actual));
  }
  void Double(int column, double actual) {
    const std::string& cell = row_.values[column];
    const double expected = cell.empty() ? kUnwritten : std::strtod(cell.c_str(), nullptr);
    if (!(std::abs(actual - expected) <= 1e-9 * std::max(1.0, std::abs(expected)))) {
      std::ostringstream text;
      text.precision(15);
      text << actual;
      Fail(column, text.str());
    }
  }
  void Empty(int column) {
    if (!row_.values[column].empty()) Fail(column, "(not decoded)");
  }
  void Override(int column, long long value) { overrides_[column] = value; }

 private:
  void Fail(int column, const std::string& actual) {
    failures +=
        " v" + std::to_string(column + 1) + "=" + row_.values[column] + " got " + actual + ";";
  }
  const Row& row_;
  std::map<int, long long> overrides_;
};

std::string Check(const Row& row, const std::string& sentence) {
  Checker check(row);
  const char* text = sentence.c_str();
  const std::string& notes = row.notes;
  for (std::size_t at = notes.find("field"); at != std::string::npos;
       at = notes.find("field", at + 1)) {
    const std::size_t tag = notes.find("_atoi_out_of_int_range", at);
    if (tag == std::string::npos) break;
    const int field = std::atoi(notes.c_str() + at + 5);
    const int column = ColumnOfField(row.type, field);
    if (column < 0) return " out-of-range field " + std::to_string(field) + " not mapped";
    check.Override(column, ClampedField(sentence, field));
  }

  if (row.type == "GGA") {
    FixRecord fix;
    fix.hdop = kUnwritten;
    const int quality = GPGGAParser(text, fix);
    check.Int(0, fix.hour);
    check.Int(1, fix.minute);
    check.Int(2, fix.second);
    check.Double(3, fix.position.latitude);
    check.Double(4, fix.position.longitude);
    check.Double(5, fix.position.altitude);
    check.Int(6, quality);
    check.Double(7, fix.hdop);
  } else if (row.type == "GSA") {
    FixStatus status;
    status.usedPrn.fill(-5);
    const int used = GPGSAParser_Status(text, status, 0);
    check.Int(0, status.fixMode);
    for (int slot = 0; slot < kPrnSlotsPerGsa; ++slot) check.Int(1 + slot, status.usedPrn[slot]);
    check.Int(13, used);
    check.Double(14, status.pdop);
    check.Double(15, status.hdop);
    check.Double(16, status.vdop);
  } else if (row.type == "GSV") {
    SatelliteTable table;
    int messageCount = static_cast<int>(kUnwritten), messageNumber = -1;
    const int inView = GPGSVParser(text, table, messageCount, messageNumber, 0);
    if (row.values[0].empty()) {
      if (messageCount != kUnwritten) check.Empty(0);
    } else {
      check.Int(0, messageCount);
    }
    check.Int(1, messageNumber);
    check.Int(2, inView);
    const int stored = std::atoi(row.values[3].c_str());
    const int base = kSatellitesPerGsv * (messageNumber - 1);
    for (int slot = 0; slot < kSatelliteTableSize; ++slot) {
      const SatelliteEntry& e = table[slot];
      const int i = slot - base;
      if (i >= 0 && i < stored) {
        check.Int(4 + 4 * i, e.prn);
        check.Int(5 + 4 * i, e.elevation);
        check.Int(6 + 4 * i, e.azimuth);
        check.Int(7 + 4 * i, e.cn0);
      } else if (e.prn != -1 || e.elevation != -1 || e.azimuth != -1 || e.cn0 != -1) {
        return " entry " + std::to_string(slot) + " written outside the message's blocks";
      }
    }
  } else if (row.type == "RMC" || row.type == "ZDA") {
    FixRecord fix;
    fix.day = fix.month = fix.year = -9;
    const int result = row.type == "RMC" ? GPRMCParser(text, fix) : GPZDAParser(text, fix);
    if (result != 1) return " decoder refused the sentence";
    check.Int(0, fix.day);
    check.Int(1, fix.month);
    check.Int(2, fix.year);
  }
  return check.failures;
}

TEST(NmeaRealCorpus, EverySentenceDecodesAsExpected) {
  if (!fs::exists(kCorpus / "expected.csv")) {
    GTEST_SKIP() << "real NMEA corpus not found at " << kCorpus;
  }
  const std::vector<Row> rows = ReadExpected();
  ASSERT_FALSE(rows.empty()) << "expected.csv has no rows";
  int failed = 0;
  for (const Row& row : rows) {
    const std::string sentence = Sentence(row);
    std::string failure;
    if (sentence.size() < 6 || sentence[0] != '$' || sentence.compare(3, 3, row.type) != 0) {
      failure = " sentence not found in the log";
    } else {
      failure = Check(row, sentence);
    }
    if (!failure.empty()) {
      ++failed;
      ADD_FAILURE() << row.file << ":" << row.line << ":" << row.col << " " << row.talker
                    << row.type << failure << "\n  " << sentence;
    }
  }
  EXPECT_EQ(failed, 0) << "of " << rows.size() << " sentences";
}

}  // namespace
