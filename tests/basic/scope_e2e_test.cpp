// Test 011 end to end: the waveform in SCOPE_OUT.txt (compared with the block
// the oscilloscope double sends when asked directly), its failures, and the
// basic test that follows the message box.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "BasicLab.h"

namespace {

using namespace basic_lab;

constexpr const char* kMessageBox =
    "Basic Localization: Connected to QARN...\nRunning basic localization looping test...\n";

// The samples of one CURVE? block, read over a connection of the test's own.
std::vector<signed char> ReadBlock(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  std::vector<signed char> samples;
  const std::string ask = "HEAD OFF;:DATA:ENC RIB;:DATA:START 1;:DATA:STOP 10000;:CURVE?\n";
  if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::write(s, ask.data(), ask.size()) != static_cast<ssize_t>(ask.size())) {
    ::close(s);
    return samples;
  }
  auto readExactly = [s](std::size_t n) {
    std::string bytes;
    char chunk[4096];
    while (bytes.size() < n) {
      const ssize_t got = ::read(s, chunk, std::min(sizeof chunk, n - bytes.size()));
      if (got <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
  };
  const std::string head = readExactly(2);
  if (head.size() == 2 && head[0] == '#') {
    const std::size_t count = std::stoul(readExactly(static_cast<std::size_t>(head[1] - '0')));
    for (char c : readExactly(count)) samples.push_back(static_cast<signed char>(c));
  }
  ::close(s);
  return samples;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

struct ScopeCase {
  const char* name;
  std::vector<std::string> lab;
  float offset, multiplier;  // what the oscilloscope reports
  std::size_t lines;
};

void PrintTo(const ScopeCase& c, std::ostream* os) { *os << c.name; }

class ScopeCapture : public testing::TestWithParam<ScopeCase> {};

TEST_P(ScopeCapture, FileHoldsOneValuePerSampleReceived) {
  const ScopeCase& c = GetParam();
  Lab lab(c.name);
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  for (const std::string& command : c.lab) lab.Command(command);
  const std::vector<signed char> block = ReadBlock(lab.Port());
  ASSERT_GE(block.size(), c.lines);

  const StationRun run = lab.Run({"set BASIC_ITERATIONS=1"}, "011");
  EXPECT_EQ(run.err.find("failure: "), std::string::npos) << run.err;
  const std::vector<std::string> lines = Lines(ReadFile(lab.Dir() / "SCOPE_OUT.txt"));
  ASSERT_EQ(lines.size(), c.lines);
  int lineFeedSamples = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%f",
                  (block[i] - static_cast<double>(c.offset)) * static_cast<double>(c.multiplier));
    ASSERT_EQ(lines[i], expected) << "line " << i + 1;
    if (block[i] == '\n') ++lineFeedSamples;
  }
  // The record holds line-feed bytes as samples, and they came through.
  EXPECT_GT(lineFeedSamples, 0);
  // Then the message box and the basic test.
  const auto box = run.out.find(kMessageBox);
  EXPECT_NE(box, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Basic Localization test completed!\n", box), std::string::npos);
  EXPECT_TRUE(fs::exists(lab.RunLog() / "GNSS_000.html"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScopeCapture,
    testing::Values(
        // 0x80 with offset 0 and multiplier 0.01 is -1.280000: the first line.
        ScopeCase{
            "full", {"EMULator:SCOPe:YOFFset 0", "EMULator:SCOPe:YMULt 0.01"}, 0.0f, 0.01f, 10000},
        ScopeCase{"short_record",
                  {"EMULator:SCOPe:SHORt 2500", "EMULator:SCOPe:YOFFset 12.5",
                   "EMULator:SCOPe:YMULt 0.04"},
                  12.5f,
                  0.04f,
                  2500}),
    [](const testing::TestParamInfo<ScopeCase>& info) { return info.param.name; });

TEST(ScopeCapture, FirstSampleOfTheFullRecord) {
  Lab lab("first_sample");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  lab.Command("EMULator:SCOPe:YOFFset 0;:EMULator:SCOPe:YMULt 0.01");
  lab.Run({"set BASIC_ITERATIONS=0"}, "011");
  EXPECT_TRUE(ReadFile(lab.Dir() / "SCOPE_OUT.txt").starts_with("-1.280000\n"));
}

TEST(ScopeCapture, FailedStepLeavesAnEmptyFileAndTheBasicTestStillRuns) {
  Lab lab("header_fails");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  lab.Command("EMULator:SCOPe:FAIL HEADer");
  std::FILE* old = std::fopen((lab.Dir() / "SCOPE_OUT.txt").c_str(), "w");
  std::fputs("an earlier capture\n", old);
  std::fclose(old);

  const StationRun run = lab.Run({"set BASIC_ITERATIONS=1", "set BASIC_MAX_FIXTIME=5"}, "011");
  EXPECT_TRUE(run.err.starts_with("failure: ")) << run.err;
  EXPECT_EQ(ReadFile(lab.Dir() / "SCOPE_OUT.txt"), "");
  const auto box = run.out.find(kMessageBox);
  EXPECT_NE(box, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Basic Localization test completed!\n", box), std::string::npos);
  EXPECT_NE(ReadFile(lab.RunLog() / "GNSS_000.html").find("Basic Test: Point #1"),
            std::string::npos);
}

TEST(ScopeCapture, FileThatCannotBeCreatedIsReportedAndTheTestGoesOn) {
  Lab lab("no_file");
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;
  fs::create_directory(lab.Dir() / "SCOPE_OUT.txt");
  const StationRun run = lab.Run({"set BASIC_ITERATIONS=0"}, "011");
  const auto report = run.out.find("Error opening file\n");
  ASSERT_NE(report, std::string::npos) << run.out;
  EXPECT_NE(run.out.find(kMessageBox, report), std::string::npos) << run.out;
  EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
