#include "nmea_reference.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace reference {
namespace {

struct WorkingCopy {
  char text[kNmeaWorkingCopySize] = {};
  explicit WorkingCopy(const char* sentence) {
    if (std::strlen(sentence) > 7) std::strncpy(text, sentence + 7, kNmeaWorkingCopySize - 1);
  }
  bool Get(int index, char (&out)[kNmeaFieldBufferSize]) const {
    return GetNmeaField(text, out, index) == 1;
  }
};

int Atoi(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Characters [from, from + count) of a field, as their own text.
struct Part {
  char text[kNmeaFieldBufferSize] = {};
  Part(const char* field, std::size_t from, std::size_t count) {
    if (std::strlen(field) > from) std::strncpy(text, field + from, count);
  }
};

bool IsType(const char* sentence, const char* type) {
  return std::strlen(sentence) >= 6 && std::strncmp(sentence + 3, type, 3) == 0;
}

}  // namespace

int Gga(const char* sentence, FixRecord& fix) {
  int hour = 0, minute = 0, second = 0, quality = 0;
  double latitude = 0, longitude = 0, msl = 0, separation = 0;
  if (IsType(sentence, "GGA") && std::strchr(sentence, '$')) {
    const WorkingCopy copy(sentence);
    char f[kNmeaFieldBufferSize];
    if (copy.Get(0, f)) {
      hour = Atoi(Part(f, 0, 2).text);
      minute = Atoi(Part(f, 2, 2).text);
      second = Atoi(Part(f, 4, 2).text);
    }
    if (copy.Get(1, f))
      latitude = std::atof(Part(f, 2, 24).text) / 60.0 + std::atof(Part(f, 0, 2).text);
    if (copy.Get(2, f) && f[0] == 'S') latitude = -latitude;
    if (copy.Get(3, f))
      longitude = std::atof(Part(f, 3, 24).text) / 60.0 + std::atof(Part(f, 0, 3).text);
    if (copy.Get(4, f) && f[0] == 'W') longitude = -longitude;
    if (copy.Get(5, f)) quality = Atoi(f);
    if (copy.Get(7, f)) fix.hdop = std::atof(f);
    if (copy.Get(8, f)) msl = std::atof(f);
    if (copy.Get(10, f)) separation = std::atof(f);
  }
  fix.position.longitude = longitude;
  fix.position.latitude = latitude;
  fix.position.altitude = msl + separation;
  fix.hour = hour;
  fix.minute = minute;
  fix.second = second;
  return quality;
}

int Gsa(const char* sentence, FixStatus& status, int firstSlot) {
  status.fixMode = 0;
  status.usedCount = firstSlot;
  if (!IsType(sentence, "GSA")) return -1;
  const WorkingCopy copy(sentence);
  char f[kNmeaFieldBufferSize];
  if (copy.Get(1, f)) status.fixMode = Atoi(f);
  for (long long slot = firstSlot; slot < static_cast<long long>(firstSlot) + 12; ++slot) {
    if (slot >= 0 && slot < kUsedPrnSlots) status.usedPrn[slot] = 0;
  }
  for (int field = 2; field <= 13; ++field) {
    if (!copy.Get(field, f)) continue;
    const long long slot = static_cast<long long>(firstSlot) + field - 2;
    if (slot >= 0 && slot < kUsedPrnSlots) status.usedPrn[slot] = Atoi(f);
    if (status.usedCount < INT_MAX) status.usedCount++;
  }
  status.pdop = copy.Get(14, f) ? std::atof(f) : -1.0;
  status.hdop = copy.Get(15, f) ? std::atof(f) : -1.0;
  status.vdop = copy.Get(16, f) ? std::atof(f) : -1.0;
  return status.usedCount;
}

int Zda(const char* sentence, FixRecord& fix) {
  if (!IsType(sentence, "ZDA")) return 0;
  const WorkingCopy copy(sentence);
  char f[kNmeaFieldBufferSize];
  fix.day = copy.Get(1, f) ? Atoi(f) : 0;
  fix.month = copy.Get(2, f) ? Atoi(f) : 0;
  fix.year = copy.Get(3, f) ? Atoi(f) : 0;
  return 1;
}

int Rmc(const char* sentence, FixRecord& fix) {
  if (!IsType(sentence, "RMC")) return 0;
  const WorkingCopy copy(sentence);
  char f[kNmeaFieldBufferSize];
  fix.day = fix.month = fix.year = 0;
  if (copy.Get(8, f)) {
    fix.day = Atoi(Part(f, 0, 2).text);
    fix.month = Atoi(Part(f, 2, 2).text);
    fix.year = Atoi(Part(f, 4, 2).text) + 2000;
  }
  return 1;
}

int Gsv(const char* sentence, SatelliteTable& table, int& messageCount, int& messageNumber,
        int firstSlot) {
  if (!IsType(sentence, "GSV")) return 0;
  const WorkingCopy copy(sentence);
  char f[kNmeaFieldBufferSize];
  if (copy.Get(0, f)) messageCount = Atoi(f);
  const int number = copy.Get(1, f) ? Atoi(f) : 0;
  const int inView = copy.Get(2, f) ? Atoi(f) : 0;
  long long carried = 0;
  if (number >= 1 && number <= 6) {
    carried = static_cast<long long>(inView) - 4LL * (number - 1);
    if (carried > 4) carried = 4;
  }
  for (int i = 0; i < carried; ++i) {
    const long long entry = static_cast<long long>(firstSlot) + 4LL * (number - 1) + i;
    if (entry < 0 || entry >= kSatelliteTableSize) continue;
    if (copy.Get(3 + 4 * i, f)) table[entry].prn = Atoi(f);
    if (copy.Get(4 + 4 * i, f)) table[entry].elevation = Atoi(f);
    if (copy.Get(5 + 4 * i, f)) table[entry].azimuth = Atoi(f);
    if (copy.Get(6 + 4 * i, f)) table[entry].cn0 = Atoi(f);
  }
  messageNumber = number;
  return inView;
}

}  // namespace reference
