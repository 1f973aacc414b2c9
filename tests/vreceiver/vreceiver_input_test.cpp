// What the virtual receiver makes of the bytes a station writes: the station's
// built-in command texts (their checksums are part of the texts, so they are
// an outside check of our UBX and NMEA checksums), corrupted copies of them,
// and the same bytes split into single-byte reads behind line noise.
#include <gtest/gtest.h>

#include "VirtualReceiverInput.h"
#include "vreceiver_lab.h"

namespace {

using emu::ReceiverCommand;
using emu::ReceiverInputParser;
using emu::ResetKind;
using Kind = ReceiverCommand::Kind;

struct InputCase {
  const char* name;
  std::string bytes;
  Kind kind;
  ResetKind reset = ResetKind::Cold;
  std::string sentence = {};
  int rate = 0;
  unsigned systemMask = 0;
  unsigned systemsNamed = 0;
};

std::string Corrupt(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  return bytes;
}

const std::string kColdStart =
    vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0xFF, 0x07, 0x02, 0x00, 0x16, 0x79");
const std::string kHotStart =
    vrx::HexBytes("0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x68");
const std::string kDefaults = vrx::HexBytes(
    "0xB5, 0x62, 0x06, 0x09, 0x0D, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, "
    "0xFF, 0x00, 0x00, 0x17, 0x2F, 0xAE");
const std::string kGlonassOnly = vrx::HexBytes(
    "0xB5, 0x62, 0x06, 0x3E, 0x24, 0x00, 0x00, 0x00, 0x10, 0x04, 0x00, 0x04, 0xFF, 0x00, 0x00, "
    "0x00, 0x00, 0x00, 0x01, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x00, "
    "0x00, 0x00, 0x00, 0x00, 0x06, 0x08, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x9B, 0x1C ");
const std::string kZdaOn =
    vrx::HexBytes("0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x08, 0x01, 0x03, 0x20");
const std::string kGsvOn =
    vrx::HexBytes("0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0xF0, 0x03, 0x01, 0xFE, 0x16");

std::vector<InputCase> Cases() {
  return {
      {"ubx_cold_start", kColdStart, Kind::Reset, ResetKind::Cold},
      {"ubx_hot_start", kHotStart, Kind::Reset, ResetKind::Hot},
      {"ubx_warm_start", emu::UbxFrame(0x06, 0x04, {0x01, 0x00, 0x02, 0x00}), Kind::Reset,
       ResetKind::Warm},
      {"nmea_cold_start", "$PORST,F*20\r\n", Kind::Reset, ResetKind::Cold},
      {"restore_defaults", kDefaults, Kind::RestoreDefaults},
      {"glonass_only", kGlonassOnly, Kind::EnableSystems, ResetKind::Cold, "", 0,
       emu::kSystemGlonass, emu::kSystemGps | emu::kSystemGlonass},
      {"zda_on", kZdaOn, Kind::SentenceRate, ResetKind::Cold, "ZDA", 1},
      {"gsv_on", kGsvOn, Kind::SentenceRate, ResetKind::Cold, "GSV", 1},
      {"proprietary_zda_on", "$PORZB,ZDA,1*3B\r\n", Kind::SentenceRate, ResetKind::Cold, "ZDA", 1},
      {"ubx_bad_checksum", Corrupt(kColdStart, kColdStart.size() - 1), Kind::BadChecksum},
      {"ubx_bad_payload", Corrupt(kColdStart, 6), Kind::BadChecksum},
      {"nmea_bad_checksum", "$PORST,F*21\r\n", Kind::BadChecksum},
      {"nmea_other", "$PXYZ,1,2*08\r\n", Kind::OtherNmea},
      {"nmea_unchecked", "$PXYZ,1,2\r\n", Kind::OtherNmea},
  };
}

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class InputTest : public testing::TestWithParam<InputCase> {};

void ExpectOne(const InputCase& c, const std::vector<ReceiverCommand>& got) {
  ASSERT_EQ(got.size(), 1u);
  const ReceiverCommand& r = got[0];
  EXPECT_EQ(r.kind, c.kind);
  if (c.kind == Kind::Reset) EXPECT_EQ(r.reset, c.reset);
  if (c.kind == Kind::SentenceRate) {
    EXPECT_EQ(r.sentence, c.sentence);
    EXPECT_EQ(r.rate, c.rate);
  }
  if (c.kind == Kind::EnableSystems) {
    EXPECT_EQ(r.systemMask, c.systemMask);
    EXPECT_EQ(r.systemsNamed, c.systemsNamed);
  }
}

TEST_P(InputTest, WholeWrite) {
  ReceiverInputParser parser;
  ExpectOne(GetParam(), parser.Feed(GetParam().bytes.data(), GetParam().bytes.size()));
}

// Byte by byte behind noise that holds a stray sync byte, a cut-off sentence
// and binary junk: the command must still be found exactly once.
TEST_P(InputTest, SingleBytesAfterNoise) {
  const std::string noise("\x00\xB5\x13$GPGGA,12", 12);
  const std::string bytes = noise + GetParam().bytes;
  ReceiverInputParser parser;
  std::vector<ReceiverCommand> got;
  for (char b : bytes) {
    auto some = parser.Feed(&b, 1);
    got.insert(got.end(), some.begin(), some.end());
  }
  ExpectOne(GetParam(), got);
}

INSTANTIATE_TEST_SUITE_P(Commands, InputTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A UBX header announcing a huge payload must not make the parser swallow the
// commands that follow for ever.
TEST(InputTest, OversizedFrameIsSkipped) {
  ReceiverInputParser parser;
  const std::string bogus = std::string("\xB5\x62\x06\x04\xFF\xFF", 6);
  const std::string bytes = bogus + "$PORST,F*20\r\n";
  auto got = parser.Feed(bytes.data(), bytes.size());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].kind, Kind::Reset);
}

}  // namespace
