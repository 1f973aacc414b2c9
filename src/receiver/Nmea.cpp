#include "receiver/Nmea.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "text/CText.h"

namespace {

// "$ttTTT," : fields start at this position of a sentence.
constexpr std::size_t kFieldsOffset = 7;
constexpr std::size_t kTypeOffset = 3;
// Characters of the text after position 7 that are read: the working copy of
// 6,100 characters less its terminator. The rest of a longer sentence is cut.
constexpr std::size_t kFieldTextMax = kNmeaWorkingCopySize - 1;
// Most fields any decoder reads (GSV: 0..18).
constexpr int kMaxFields = 19;

// One field of the text: at most 24 characters; length 0 = not present.
struct Field {
  const char* text = "";
  std::size_t length = 0;
  bool present() const { return length != 0; }
  Field sub(std::size_t from, std::size_t count) const {
    if (from >= length) return {};
    return {text + from, std::min(count, length - from)};
  }
};

// Fields 0..count-1 of a sentence, in one pass. A field ends at a comma, an
// asterisk or the end of the text; the next starts after the next comma (so
// commas after the asterisk still count), as GetNmeaField walks.
struct Fields {
  Field field[kMaxFields];
  const Field& operator[](int index) const { return field[index]; }
};

Fields SplitFields(const char* sentence, int count) {
  Fields fields;
  count = std::min(count, kMaxFields);
  // A sentence shorter than 7 characters has no fields.
  if (strnlen(sentence, kFieldsOffset) < kFieldsOffset) return fields;
  const char* p = sentence + kFieldsOffset;
  const char* const end = p + strnlen(p, kFieldTextMax);
  for (int index = 0; index < count; ++index) {
    const char* start = p;
    while (p < end && *p != ',' && *p != '*') ++p;
    fields.field[index] = {start, std::min<std::size_t>(p - start, kNmeaFieldMax)};
    if (p < end && *p != ',') {
      p = static_cast<const char*>(std::memchr(p, ',', end - p));
      if (p == nullptr) break;
    }
    if (p == end) break;
    ++p;  // past the comma
  }
  return fields;
}

int ReadInt(const Field& f) { return ReadIntC(f.text, f.length); }
double ReadDouble(const Field& f) { return ReadDoubleC(f.text, f.length); }

// ddmm.mmmm (2 degree digits) or dddmm.mmmm (3): minutes / 60 + degrees.
double ReadDegreesMinutes(const Field& f, std::size_t degreeDigits) {
  return ReadDouble(f.sub(degreeDigits, kNmeaFieldMax)) / 60.0 + ReadDouble(f.sub(0, degreeDigits));
}

struct TypeRow {
  char letters[4];
  NmeaSentenceType type;
};
constexpr TypeRow kTypeTable[] = {
    {"GGA", NmeaSentenceType::kGga}, {"GSA", NmeaSentenceType::kGsa},
    {"GSV", NmeaSentenceType::kGsv}, {"RMC", NmeaSentenceType::kRmc},
    {"ZDA", NmeaSentenceType::kZda},
};

bool SlotInRange(long long slot, int size) { return slot >= 0 && slot < size; }

bool HasType(const char* sentence, NmeaSentenceType type) { return NmeaTypeOf(sentence) == type; }

}  // namespace

NmeaSentenceType NmeaTypeAt(const char* data, std::size_t available) {
  if (data == nullptr || available < kTypeOffset + 3) return NmeaSentenceType::kOther;
  const char* const letters = data + kTypeOffset;
  for (const TypeRow& row : kTypeTable) {
    if (letters[0] == row.letters[0] && letters[1] == row.letters[1] &&
        letters[2] == row.letters[2])
      return row.type;
  }
  return NmeaSentenceType::kOther;
}

NmeaSentenceType NmeaTypeOf(const char* sentence) {
  if (sentence == nullptr) return NmeaSentenceType::kOther;
  // A terminator before position 6 ends the sentence before its type.
  for (std::size_t i = 0; i < kTypeOffset + 3; ++i) {
    if (sentence[i] == '\0') return NmeaSentenceType::kOther;
  }
  return NmeaTypeAt(sentence, kTypeOffset + 3);
}

int GetNmeaField(const char* text, char (&out)[kNmeaFieldBufferSize], int index) {
  if (text == nullptr || index < 0) return 0;
  std::size_t i = 0;
  if (index > 0 && text[0] == '\0') {
    out[0] = '\0';
    return 0;
  }
  for (int commas = 0; commas < index && i < kFieldTextMax;) {
    if (text[i] == ',') ++commas;
    ++i;
    if (text[i] == '\0') {
      out[0] = '\0';
      return 0;
    }
  }
  std::size_t kept = 0;
  for (; i < kFieldTextMax && text[i] != '\0' && text[i] != ',' && text[i] != '*'; ++i) {
    if (kept < kNmeaFieldMax) out[kept++] = text[i];
  }
  if (kept == 0) return 0;
  out[kept] = '\0';
  return 1;
}

int GPGGAParser(const char* sentence, FixRecord& fix) {
  // $--GGA,hhmmss.ss,ddmm.mmmm,N,dddmm.mmmm,E,q,nn,h.h,a.a,M,g.g,M,...
  //        0         1         2 3          4 5 6  7   8   9 10  11
  int hour = 0, minute = 0, second = 0, quality = 0;
  double latitude = 0.0, longitude = 0.0, altitudeMsl = 0.0, geoidSeparation = 0.0;
  if (HasType(sentence, NmeaSentenceType::kGga) && std::strchr(sentence, '$') != nullptr) {
    const Fields f = SplitFields(sentence, 11);
    if (f[0].present()) {
      hour = ReadInt(f[0].sub(0, 2));
      minute = ReadInt(f[0].sub(2, 2));
      second = ReadInt(f[0].sub(4, 2));
    }
    if (f[1].present()) latitude = ReadDegreesMinutes(f[1], 2);
    if (f[2].present() && f[2].text[0] == 'S') latitude = -latitude;
    if (f[3].present()) longitude = ReadDegreesMinutes(f[3], 3);
    if (f[4].present() && f[4].text[0] == 'W') longitude = -longitude;
    if (f[5].present()) quality = ReadInt(f[5]);
    if (f[7].present()) fix.hdop = ReadDouble(f[7]);
    if (f[8].present()) altitudeMsl = ReadDouble(f[8]);
    if (f[10].present()) geoidSeparation = ReadDouble(f[10]);
  }
  fix.position.longitude = longitude;
  fix.position.latitude = latitude;
  fix.position.altitude = altitudeMsl + geoidSeparation;
  fix.hour = hour;
  fix.minute = minute;
  fix.second = second;
  return quality;
}

int GPGSAParser_Status(const char* sentence, FixStatus& status, int firstSlot) {
  // $--GSA,a,m,p1,p2,...,p12,pdop,hdop,vdop[,sys]
  //        0 1 2  3      13  14   15   16
  constexpr int kFirstPrnField = 2;
  struct DopRow {
    int field;
    double FixStatus::*member;
  };
  static constexpr DopRow kDops[] = {
      {14, &FixStatus::pdop}, {15, &FixStatus::hdop}, {16, &FixStatus::vdop}};

  status.fixMode = 0;
  status.usedCount = firstSlot;
  if (!HasType(sentence, NmeaSentenceType::kGsa)) return -1;
  const Fields f = SplitFields(sentence, 17);
  if (f[1].present()) status.fixMode = ReadInt(f[1]);
  for (int n = 0; n < kPrnSlotsPerGsa; ++n) {
    const long long slot = static_cast<long long>(firstSlot) + n;
    if (SlotInRange(slot, kUsedPrnSlots)) status.usedPrn[slot] = 0;
  }
  for (int n = 0; n < kPrnSlotsPerGsa; ++n) {
    const Field& prn = f[kFirstPrnField + n];
    if (!prn.present()) continue;
    // Slots follow the field positions; PRNs beyond the last slot are dropped
    // but still counted.
    const long long slot = static_cast<long long>(firstSlot) + n;
    if (SlotInRange(slot, kUsedPrnSlots)) status.usedPrn[slot] = ReadInt(prn);
    if (status.usedCount < INT_MAX) ++status.usedCount;
  }
  for (const DopRow& dop : kDops) {
    status.*dop.member = f[dop.field].present() ? ReadDouble(f[dop.field]) : -1.0;
  }
  return status.usedCount;
}

int GPZDAParser(const char* sentence, FixRecord& fix) {
  // $--ZDA,hhmmss.ss,dd,mm,yyyy,zh,zm
  //        0         1  2  3
  if (!HasType(sentence, NmeaSentenceType::kZda)) return 0;
  const Fields f = SplitFields(sentence, 4);
  fix.day = f[1].present() ? ReadInt(f[1]) : 0;
  fix.month = f[2].present() ? ReadInt(f[2]) : 0;
  fix.year = f[3].present() ? ReadInt(f[3]) : 0;
  return 1;
}

int GPRMCParser(const char* sentence, FixRecord& fix) {
  // $--RMC,hhmmss.ss,A,ddmm.mm,N,dddmm.mm,E,sog,cog,ddmmyy,...
  //        0         1 2       3 4        5 6   7   8
  if (!HasType(sentence, NmeaSentenceType::kRmc)) return 0;
  const Fields f = SplitFields(sentence, 9);
  fix.day = 0;
  fix.month = 0;
  fix.year = 0;
  if (f[8].present()) {
    fix.day = ReadInt(f[8].sub(0, 2));
    fix.month = ReadInt(f[8].sub(2, 2));
    fix.year = ReadInt(f[8].sub(4, 2)) + 2000;  // the century is always 2000
  }
  return 1;
}

int GPGSVParser(const char* sentence, SatelliteTable& table, int& messageCount, int& messageNumber,
                int firstSlot) {
  // $--GSV,total,number,inView,prn,elev,azim,cn0,prn,...  (four blocks at most)
  //        0     1      2      3   4    5    6   7
  constexpr int kFirstBlockField = 3;
  constexpr int kLastCarryingMessage = 6;
  struct BlockRow {
    int offset;
    std::int32_t SatelliteEntry::*member;
  };
  static constexpr BlockRow kBlock[] = {{0, &SatelliteEntry::prn},
                                        {1, &SatelliteEntry::elevation},
                                        {2, &SatelliteEntry::azimuth},
                                        {3, &SatelliteEntry::cn0}};

  if (!HasType(sentence, NmeaSentenceType::kGsv)) return 0;
  const Fields f = SplitFields(sentence, kMaxFields);
  if (f[0].present()) messageCount = ReadInt(f[0]);
  const int number = f[1].present() ? ReadInt(f[1]) : 0;
  const int inView = f[2].present() ? ReadInt(f[2]) : 0;

  long long carried = 0;
  if (number >= 1 && number <= kLastCarryingMessage) {
    carried = std::min<long long>(
        kSatellitesPerGsv, static_cast<long long>(inView) - kSatellitesPerGsv * (number - 1));
  }
  for (long long i = 0; i < carried; ++i) {
    const long long entry =
        static_cast<long long>(firstSlot) + kSatellitesPerGsv * (number - 1) + i;
    if (!SlotInRange(entry, kSatelliteTableSize)) continue;  // beyond the table: dropped
    for (const BlockRow& row : kBlock) {
      const Field& value =
          f[kFirstBlockField + kSatellitesPerGsv * static_cast<int>(i) + row.offset];
      if (value.present()) table[entry].*row.member = ReadInt(value);
    }
  }
  messageNumber = number;
  return inView;
}
