// gnss-station --decode-nmea on a small capture of our own and, where it is
// present, on the shared NMEA corpus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/DecodeNmea.h"
#include "support/TextFile.h"

namespace {

std::vector<std::string> DecodeLines(const std::string& path, int* result,
                                     std::size_t maxBytes = kDecodeNmeaReadMax) {
  testing::internal::CaptureStdout();
  *result = RunDecodeNmea(path.c_str(), maxBytes);
  std::istringstream out(testing::internal::GetCapturedStdout());
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

// The text after "key": up to the next "," or "}" at the same level.
std::string Raw(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const std::size_t at = line.find(tag);
  if (at == std::string::npos) return "<missing " + key + ">";
  const std::size_t from = at + tag.size();
  if (line[from] == '[') return line.substr(from, line.find(']', from) - from + 1);
  return line.substr(from, line.find_first_of(",}", from) - from);
}

double Number(const std::string& line, const std::string& key) {
  return std::strtod(Raw(line, key).c_str(), nullptr);
}

std::string Zeros(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += ",0";
  return s;
}

TEST(DecodeNmea, CaptureOfOurOwn) {
  int result = -1;
  const auto lines = DecodeLines(
      std::string(STATION_SOURCE_DIR) + "/tests/data/decode_nmea_capture.nmea", &result);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(lines.size(), 3u) << "the last epoch has no successor";

  struct Expected {
    const char* time;
    const char* date;
    double lat, lon, alt, hdop, vdop, pdop;
    int fixMode, usedCount, gsaCount, inView;
    std::string usedPrn;
  };
  const Expected expected[] = {
      {"\"23:59:58\"", "\"31.12.2026\"", -(33 + 51.5 / 60), 151 + 12.6 / 60, 61.0, 1.2, 1.7, 2.1, 3,
       5, 5, 6, "[2,5,13,66,67" + Zeros(27) + "]"},
      {"\"23:59:59\"", "\"31.12.2026\"", -(33 + 51.501 / 60), 151 + 12.601 / 60, 61.5, 1.3, 2.7,
       3.0, 2, 2, 2, 2, "[2,5" + Zeros(30) + "]"},
      // No fix: empty position fields, HDOP kept, GSA records of the epoch before.
      {"\"00:00:00\"", "\"31.12.2026\"", 0.0, 0.0, 0.0, 1.3, 2.7, 3.0, 2, 2, 0, 0,
       "[2,5" + Zeros(30) + "]"},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string& line = lines[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(line);
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    EXPECT_EQ(Raw(line, "time"), e.time);
    EXPECT_EQ(Raw(line, "date"), e.date);
    EXPECT_DOUBLE_EQ(Number(line, "lat"), e.lat);
    EXPECT_DOUBLE_EQ(Number(line, "lon"), e.lon);
    EXPECT_DOUBLE_EQ(Number(line, "alt"), e.alt);
    EXPECT_DOUBLE_EQ(Number(line, "hdop"), e.hdop);
    EXPECT_DOUBLE_EQ(Number(line, "vdop"), e.vdop);
    EXPECT_DOUBLE_EQ(Number(line, "pdop"), e.pdop);
    EXPECT_EQ(Number(line, "fixMode"), e.fixMode);
    EXPECT_EQ(Number(line, "usedCount"), e.usedCount);
    EXPECT_EQ(Number(line, "gsaCount"), e.gsaCount);
    EXPECT_EQ(Number(line, "inView"), e.inView);
    EXPECT_EQ(Raw(line, "usedPrn"), e.usedPrn);
  }
  EXPECT_NE(lines[0].find("\"sats\":[{\"prn\":2,\"elev\":50,\"azim\":90,\"cn0\":45,\"used\":true},"
                          "{\"prn\":5,\"elev\":40,\"azim\":180,\"cn0\":38,\"used\":true},"
                          "{\"prn\":13,\"elev\":20,\"azim\":270,\"cn0\":18,\"used\":false},"
                          "{\"prn\":29,\"elev\":5,\"azim\":10,\"cn0\":-1,\"used\":false},"
                          "{\"prn\":66,\"elev\":60,\"azim\":120,\"cn0\":41,\"used\":true},"
                          "{\"prn\":67,\"elev\":30,\"azim\":240,\"cn0\":36,\"used\":true}]}"),
            std::string::npos);
  EXPECT_NE(lines[2].find("\"sats\":[]}"), std::string::npos);
}

TEST(DecodeNmea, ExtremeFieldValuesStayOneObject) {
  const std::string path = testing::TempDir() + "decode_nmea_extreme.nmea";
  ASSERT_TRUE(WriteTextFile(path,
                            "$GPGGA,-9-9-9,,,,,1,08,1e999,,M,,M,,*00\r\n"
                            "$GPGSV,1,1,01,99999999999,-99999999999,99999999999,99999999999*00\r\n"
                            "$GPZDA,000000,99999999999,99999999999,99999999999*00\r\n"
                            "$GPGGA,000001,,,,,1,08,0.9,,M,,M,,*00\r\n"));
  int result = -1;
  const auto lines = DecodeLines(path, &result);
  ASSERT_EQ(lines.size(), 1u);
  const std::string& line = lines[0];
  EXPECT_EQ(Raw(line, "date"), "\"2147483647.2147483647.2147483647\"");
  EXPECT_EQ(Raw(line, "hdop"), "null") << "JSON has no infinity";
  EXPECT_NE(line.find("{\"prn\":2147483647,\"elev\":-2147483648,\"azim\":2147483647,"
                      "\"cn0\":2147483647,\"used\":false}]}"),
            std::string::npos)
      << line;
}

TEST(DecodeNmea, UnreadableFile) {
  int result = 0;
  EXPECT_TRUE(DecodeLines("/nonexistent/capture.nmea", &result).empty());
  EXPECT_NE(result, 0);
  EXPECT_NE(RunDecodeNmea(STATION_SOURCE_DIR), 0) << "a directory is not a capture";
}

TEST(DecodeNmea, EndlessInputStopsAtTheBoundWithAMessage) {
  // A device that never ends is read in pieces up to the bound, then given up.
  int result = 0;
  testing::internal::CaptureStderr();
  const auto lines = DecodeLines("/dev/zero", &result, 10u << 20);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(result, 1);
  EXPECT_NE(err.find("/dev/zero: stopped after the first 10485760 bytes"), std::string::npos)
      << err;
}

TEST(DecodeNmea, SharedCorpus) {
  const std::filesystem::path corpus = std::filesystem::path(STATION_SHARED_DIR) / "nmea-corpus";
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no NMEA corpus at " << corpus;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus))
    if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path());
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) {
    int result = -1;
    const auto lines = DecodeLines(file.string(), &result);
    EXPECT_EQ(result, 0) << file;
    for (const std::string& line : lines) {
      ASSERT_TRUE(line.rfind("{\"time\":", 0) == 0 && line.back() == '}') << file << ": " << line;
      const double inView = Number(line, "inView");
      EXPECT_TRUE(inView >= 0 && inView <= 32) << file << ": " << line;
    }
    // 355 GGA sentences: every epoch but the last one has a successor.
    if (file.filename() == "bench-corpus.nmea") EXPECT_EQ(lines.size(), 354u);
  }
}

}  // namespace
