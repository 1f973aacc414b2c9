// The NMEA decoders on small hand-made sentences: the documented examples,
// empty fields, foreign sentences, and input that must not write outside the
// records.
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "receiver/Nmea.h"
#include "support/CommaLocale.h"
#include "text/CText.h"

namespace {

// --- GetNmeaField ------------------------------------------------------------

TEST(GetNmeaField, Table) {
  const std::string longText(6098, 'x');
  const std::string atBound(6097, 'x');
  struct Case {
    const char* name;
    std::string text;
    int index;
    int result;
    const char* out;  // "~" = left as it was
  } cases[] = {
      {"first field", "A,B,C", 0, 1, "A"},
      {"last field", "A,B,C", 2, 1, "C"},
      {"empty field keeps out", "A,,C", 1, 0, "~"},
      {"empty text, field 0 keeps out", "", 0, 0, "~"},
      {"walk runs into the end empties out", "A,B,C", 3, 0, ""},
      {"empty text, later field empties out", "", 2, 0, ""},
      {"trailing comma", "A,", 1, 0, ""},
      {"field ends at asterisk", "A*47", 0, 1, "A"},
      {"commas after the asterisk still count", "1,2*47,x", 2, 1, "x"},
      {"30 characters cut to 24", "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234,B", 0, 1,
       "ABCDEFGHIJKLMNOPQRSTUVWX"},
      {"negative index", "A,B", -1, 0, "~"},
      {"field starting at position 6,099 is not read", longText + ",tail", 1, 0, "~"},
      {"field copy stops at position 6,099", atBound + ",tail", 1, 1, "t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char out[kNmeaFieldBufferSize] = "~";
    EXPECT_EQ(GetNmeaField(c.text.c_str(), out, c.index), c.result);
    EXPECT_STREQ(out, c.out);
  }
  char out[kNmeaFieldBufferSize] = "~";
  EXPECT_EQ(GetNmeaField(nullptr, out, 0), 0);
}

// --- GGA ---------------------------------------------------------------------

constexpr double kNoValue = -777.0;

TEST(GgaDecoder, Table) {
  struct Case {
    const char* name;
    const char* sentence;
    double latitude, longitude, altitude;
    int hour, minute, second;
    double hdop;  // kNoValue: the previous hdop stays
    int result;
  } cases[] = {
      {"example", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", 48.1173,
       11.0 + 31.0 / 60.0, 592.3, 12, 35, 19, 0.9, 1},
      {"south and west", "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47",
       -48.1173, -(11.0 + 31.0 / 60.0), 592.3, 12, 35, 19, 0.9, 1},
      {"any talker", "$GNGGA,001122.90,0000.600,N,18000.000,E,2,12,1.25,-10.5,M,0.5,M,,*47", 0.01,
       180.0, -10.0, 0, 11, 22, 1.25, 2},
      {"empty hdop keeps the previous one",
       "$GPGGA,123519,4807.038,N,01131.000,E,1,08,,545.4,M,46.9,M,,*47", 48.1173,
       11.0 + 31.0 / 60.0, 592.3, 12, 35, 19, kNoValue, 1},
      {"empty altitude and separation", "$GPGGA,123519,4807.038,N,01131.000,E,6,08,0.9,,M,,M,,*47",
       48.1173, 11.0 + 31.0 / 60.0, 0.0, 12, 35, 19, 0.9, 6},
      {"no fix, every field empty", "$GPGGA,,,,,,0,,,,,,,,*66", 0, 0, 0, 0, 0, 0, kNoValue, 0},
      {"short time and position fields", "$GPGGA,1,4,N,0,E,1,,,,,,,,", 4.0, 0.0, 0, 1, 0, 0,
       kNoValue, 1},
      {"foreign sentence writes zeros",
       "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", 0, 0, 0, 0, 0, 0,
       kNoValue, 0},
      {"no dollar writes zeros", "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
       0, 0, 0, 0, 0, 0, kNoValue, 0},
      {"shorter than the address", "$GPGGA", 0, 0, 0, 0, 0, 0, kNoValue, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixRecord fix;
    fix.position.latitude = fix.position.longitude = fix.position.altitude = 55.0;
    fix.hour = fix.minute = fix.second = 55;
    fix.day = 3;
    fix.hdop = kNoValue;
    EXPECT_EQ(GPGGAParser(c.sentence, fix), c.result);
    EXPECT_NEAR(fix.position.latitude, c.latitude, 1e-9);
    EXPECT_NEAR(fix.position.longitude, c.longitude, 1e-9);
    EXPECT_NEAR(fix.position.altitude, c.altitude, 1e-9);
    EXPECT_EQ(fix.hour, c.hour);
    EXPECT_EQ(fix.minute, c.minute);
    EXPECT_EQ(fix.second, c.second);
    EXPECT_DOUBLE_EQ(fix.hdop, c.hdop);
    EXPECT_EQ(fix.day, 3);  // never GGA's
  }
}

// --- GSA ---------------------------------------------------------------------

constexpr int kUntouched = 99;

FixStatus PresetStatus() {
  FixStatus status;
  status.fixMode = 7;
  status.usedPrn.fill(kUntouched);
  status.inViewCount = 21;
  status.minSatellites = 4;
  status.maxFixSeconds = 60;
  status.pdop = status.hdop = status.vdop = 5.5;
  return status;
}

TEST(GsaDecoder, ChainOfTwoSentencesFillsSlotsOneAfterAnother) {
  FixStatus status = PresetStatus();
  EXPECT_EQ(GPGSAParser_Status("$GNGSA,A,3,05,12,,,,,,,,,,,1.8,1.0,1.5*2E", status, 0), 2);
  EXPECT_EQ(status.fixMode, 3);
  EXPECT_EQ(status.usedPrn[0], 5);
  EXPECT_EQ(status.usedPrn[1], 12);
  for (int slot = 2; slot < 12; ++slot) EXPECT_EQ(status.usedPrn[slot], 0) << slot;
  for (int slot = 12; slot < kUsedPrnSlots; ++slot)
    EXPECT_EQ(status.usedPrn[slot], kUntouched) << slot;
  EXPECT_DOUBLE_EQ(status.pdop, 1.8);
  EXPECT_DOUBLE_EQ(status.hdop, 1.0);
  EXPECT_DOUBLE_EQ(status.vdop, 1.5);

  // Slots follow the field positions: an empty third field leaves slot 4 at 0.
  EXPECT_EQ(GPGSAParser_Status("$GNGSA,A,3,65,66,,72,,,,,,,,,2.0,,*11", status, status.usedCount),
            5);
  EXPECT_EQ(status.usedPrn[0], 5);
  EXPECT_EQ(status.usedPrn[2], 65);
  EXPECT_EQ(status.usedPrn[3], 66);
  EXPECT_EQ(status.usedPrn[4], 0);
  EXPECT_EQ(status.usedPrn[5], 72);
  EXPECT_EQ(status.usedPrn[13], 0);
  EXPECT_EQ(status.usedPrn[14], kUntouched);
  EXPECT_DOUBLE_EQ(status.pdop, 2.0);
  EXPECT_DOUBLE_EQ(status.hdop, -1.0);
  EXPECT_DOUBLE_EQ(status.vdop, -1.0);
}

TEST(GsaDecoder, EmptyDopsAndFixMode) {
  FixStatus status = PresetStatus();
  EXPECT_EQ(GPGSAParser_Status("$GPGSA,A,,,,,,,,,,,,,,,,*1E", status, 0), 0);
  EXPECT_EQ(status.fixMode, 0);
  EXPECT_DOUBLE_EQ(status.pdop, -1.0);
  EXPECT_DOUBLE_EQ(status.hdop, -1.0);
  EXPECT_DOUBLE_EQ(status.vdop, -1.0);
}

TEST(GsaDecoder, ForeignOrTruncatedSentence) {
  struct Case {
    const char* sentence;
    int result;
  } cases[] = {
      {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", -1},
      {"$GPGS", -1},
      {"", -1},
      {nullptr, -1},
      {"$GPGSA", 6},  // right type, no fields: decoded as all empty
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sentence ? c.sentence : "(null)");
    FixStatus status = PresetStatus();
    EXPECT_EQ(GPGSAParser_Status(c.sentence, status, 6), c.result);
    EXPECT_EQ(status.fixMode, 0);
    EXPECT_EQ(status.usedCount, 6);
    EXPECT_EQ(status.usedPrn[0], kUntouched);
  }
}

// Real receivers chain four to six GSA sentences: slots past the 32nd are
// dropped, counted, and nothing beside usedPrn changes.
TEST(GsaDecoder, SlotsBeyondTheArrayAreDroppedNotWritten) {
  const char* full = "$GNGSA,A,3,1,2,3,4,5,6,7,8,9,10,11,12,1.0,1.0,1.0*00";
  struct Case {
    int firstSlot;
    int result;
    std::vector<std::pair<int, int>> written;  // slot, prn
  } cases[] = {
      {28, 40, {{28, 1}, {29, 2}, {30, 3}, {31, 4}}},
      {40, 52, {}},
      {-5, 7, {{0, 6}, {1, 7}, {6, 12}}},
      {INT_MAX - 3, INT_MAX, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstSlot);
    FixStatus status = PresetStatus();
    const FixStatus before = status;
    EXPECT_EQ(GPGSAParser_Status(full, status, c.firstSlot), c.result);
    for (const auto& [slot, prn] : c.written) EXPECT_EQ(status.usedPrn[slot], prn) << slot;
    if (c.firstSlot >= kUsedPrnSlots) EXPECT_EQ(status.usedPrn, before.usedPrn);
    EXPECT_EQ(status.inViewCount, before.inViewCount);
    EXPECT_EQ(status.minSatellites, before.minSatellites);
    EXPECT_EQ(status.maxFixSeconds, before.maxFixSeconds);
  }
}

// --- GSV ---------------------------------------------------------------------

struct GuardedTable {
  SatelliteEntry before{7, 7, 7, 7, 'G'};
  SatelliteTable table;
  SatelliteEntry after{7, 7, 7, 7, 'G'};
};

TEST(GsvDecoder, Table) {
  struct Entry {
    int slot, prn, elevation, azimuth, cn0;
  };
  struct Case {
    const char* name;
    const char* sentence;
    int firstSlot;
    int result, messageCount, messageNumber;
    std::vector<Entry> entries;  // every other entry stays at -1
  } cases[] = {
      {"message 3 of 10 stores two",
       "$GPGSV,3,3,10,07,79,048,42,02,51,062,43*7D",
       0,
       10,
       3,
       3,
       {{8, 7, 79, 48, 42}, {9, 2, 51, 62, 43}}},
      {"from firstSlot",
       "$GPGSV,3,3,10,07,79,048,42,02,51,062,43*7D",
       12,
       10,
       3,
       3,
       {{20, 7, 79, 48, 42}, {21, 2, 51, 62, 43}}},
      {"signal id after the last block is not a satellite",
       "$GLGSV,3,3,10,07,79,048,42,02,51,062,43,1*7D",
       0,
       10,
       3,
       3,
       {{8, 7, 79, 48, 42}, {9, 2, 51, 62, 43}}},
      {"message 1 of 3 in view",
       "$GPGSV,1,1,03,01,10,100,30,02,20,200,31,03,30,300,32*70",
       0,
       3,
       1,
       1,
       {{0, 1, 10, 100, 30}, {1, 2, 20, 200, 31}, {2, 3, 30, 300, 32}}},
      {"message 7 stores none", "$GBGSV,7,7,25,14,31,261,49*52", 0, 25, 7, 7, {}},
      {"empty C/N0 stays -1",
       "$GPGSV,1,1,02,05,40,083,,06,,,*70",
       0,
       2,
       1,
       1,
       {{0, 5, 40, 83, -1}, {1, 6, -1, -1, -1}}},
      {"empty message count is not written",
       "$GPGSV,,1,01,05,40,083,20*70",
       0,
       1,
       42,
       1,
       {{0, 5, 40, 83, 20}}},
      {"no number, no in-view", "$GPGSV,2,,,05,40,083,20*70", 0, 0, 2, 0, {}},
      {"in view beyond int is clamped",
       "$GPGSV,9,2,99999999999,05,40,083,20*70",
       0,
       INT_MAX,
       9,
       2,
       {{4, 5, 40, 83, 20}}},
      {"entries past 32 are dropped",
       "$GPGSV,4,2,16,05,40,083,20,06,41,084,21,07,42,085,22,08,43,086,23*70",
       26,
       16,
       4,
       2,
       {{30, 5, 40, 83, 20}, {31, 6, 41, 84, 21}}},
      {"entries before 0 are dropped",
       "$GPGSV,4,1,16,05,40,083,20,06,41,084,21,07,42,085,22,08,43,086,23*70",
       -3,
       16,
       4,
       1,
       {{0, 8, 43, 86, 23}}},
      {"foreign sentence", "$GPGSA,A,3,05,12,,,,,,,,,,,1.8,1.0,1.5*2E", 0, 0, 42, 42, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GuardedTable guarded;
    int messageCount = 42, messageNumber = 42;
    EXPECT_EQ(GPGSVParser(c.sentence, guarded.table, messageCount, messageNumber, c.firstSlot),
              c.result);
    EXPECT_EQ(messageCount, c.messageCount);
    EXPECT_EQ(messageNumber, c.messageNumber);
    SatelliteTable expected;
    for (const Entry& e : c.entries) expected[e.slot] = {e.prn, e.elevation, e.azimuth, e.cn0, 0};
    for (int slot = 0; slot < kSatelliteTableSize; ++slot) {
      SCOPED_TRACE(slot);
      EXPECT_EQ(guarded.table[slot].prn, expected[slot].prn);
      EXPECT_EQ(guarded.table[slot].elevation, expected[slot].elevation);
      EXPECT_EQ(guarded.table[slot].azimuth, expected[slot].azimuth);
      EXPECT_EQ(guarded.table[slot].cn0, expected[slot].cn0);
      EXPECT_EQ(guarded.table[slot].usedFlag, 0);
    }
    EXPECT_EQ(guarded.before.prn, 7);
    EXPECT_EQ(guarded.after.prn, 7);
  }
}

// --- RMC and ZDA ---------------------------------------------------------------

TEST(DateDecoders, Table) {
  using Parser = int (*)(const char*, FixRecord&);
  struct Case {
    const char* name;
    Parser parser;
    const char* sentence;
    int result, day, month, year;  // 9/9/9: left as it was
  } cases[] = {
      {"RMC date, century always 2000", GPRMCParser,
       "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A", 1, 23, 3, 2094},
      {"RMC empty date", GPRMCParser, "$GPRMC,123519,V,,,,,,,,,N*6A", 1, 0, 0, 0},
      {"RMC malformed year reads as atoi", GPRMCParser, "$GPRMC,1,A,,,,,,,2208-1,,*6A", 1, 22, 8,
       1999},
      {"RMC short date", GPRMCParser, "$GPRMC,1,A,,,,,,,2308,,*6A", 1, 23, 8, 2000},
      {"RMC given a ZDA", GPRMCParser, "$GPZDA,201530.00,04,07,2002,00,00*60", 0, 9, 9, 9},
      {"ZDA", GPZDAParser, "$GPZDA,201530.00,04,07,2002,00,00*60", 1, 4, 7, 2002},
      {"ZDA empty fields", GPZDAParser, "$GPZDA,201530.00,,,,00,00*60", 1, 0, 0, 0},
      {"ZDA given an RMC", GPZDAParser, "$GPRMC,123519,A,,,,,,,230394,,*6A", 0, 9, 9, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixRecord fix;
    fix.day = fix.month = fix.year = 9;
    fix.hour = 5;
    EXPECT_EQ(c.parser(c.sentence, fix), c.result);
    EXPECT_EQ(fix.day, c.day);
    EXPECT_EQ(fix.month, c.month);
    EXPECT_EQ(fix.year, c.year);
    EXPECT_EQ(fix.hour, 5);
  }
}

// --- bad input ---------------------------------------------------------------

// The text after position 7 is read up to 6,099 characters; the rest is cut.
TEST(BadInput, OverlongSentenceIsCut) {
  FixStatus status = PresetStatus();
  const std::string overlong = "$GPGSA," + std::string(6100, 'A') + ",3,07";
  EXPECT_EQ(GPGSAParser_Status(overlong.c_str(), status, 0), 0);
  EXPECT_EQ(status.fixMode, 0);

  const std::string fits = "$GPGSA," + std::string(6090, 'A') + ",3,07";
  EXPECT_EQ(GPGSAParser_Status(fits.c_str(), status, 0), 1);
  EXPECT_EQ(status.fixMode, 3);
  EXPECT_EQ(status.usedPrn[0], 7);
}

TEST(BadInput, NumbersReadAsAtoiAndAtof) {
  struct Case {
    const char* text;
    int asInt;
    double asDouble;
  } cases[] = {
      {"42", 42, 42.0},
      {" \t+7.5", 7, 7.5},
      {"-3x", -3, -3.0},
      {"abc", 0, 0.0},
      {"", 0, 0.0},
      {"-", 0, 0.0},
      {".5", 0, 0.5},
      {"1,5", 1, 1.0},
      {"1e3", 1, 1000.0},
      {"0x1A", 0, 26.0},
      {"2147483647", INT_MAX, 2147483647.0},
      {"2147483648", INT_MAX, 2147483648.0},
      {"20160203131539", INT_MAX, 20160203131539.0},
      {"-2147483648", INT_MIN, -2147483648.0},
      {"-99999999999999999999999", INT_MIN, -99999999999999999999999.0},
      {"1e999", 1, HUGE_VAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadIntC(c.text, std::strlen(c.text)), c.asInt);
    EXPECT_EQ(ReadDoubleC(c.text, std::strlen(c.text)), c.asDouble);
  }
}

// The station may run under a decimal-comma locale; NMEA always uses a point,
// on the fast path and on the C library's path (hexadecimal) alike.
TEST(BadInput, DecimalCommaLocaleDoesNotChangeReading) {
  CommaLocale comma;
  const bool switched = comma.Active();
  FixRecord fix;
  FixStatus status;
  int quality = -1;
  if (switched) {
    EXPECT_EQ(std::atof("0,5"), 0.5);  // the locale is in force for the C library
    quality = GPGGAParser("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", fix);
    GPGSAParser_Status("$GPGSA,A,3,05,,,,,,,,,,,,0x1.8p1,1.0,1.5*00", status, 0);
  }
  comma.Restore();
  if (!switched) GTEST_SKIP() << "no de_DE.UTF-8";
  EXPECT_EQ(quality, 1);
  EXPECT_DOUBLE_EQ(fix.hdop, 0.9);
  EXPECT_NEAR(fix.position.altitude, 592.3, 1e-9);
  EXPECT_NEAR(fix.position.latitude, 48.1173, 1e-9);
  EXPECT_DOUBLE_EQ(status.pdop, 3.0);
}

}  // namespace
