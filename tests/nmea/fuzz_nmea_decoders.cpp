// libFuzzer target over GetNmeaField and the five decoders. Byte 0 picks the
// firstSlot (-8..55, so GSA chains and GSV groups run past the 32 slots); the
// rest is the sentence, ending at its first NUL as a C string would. Every
// decoder must agree bit for bit with the plain reference decoders, write
// nothing outside its records (the table sits alone on the heap, so ASan sees
// a write past it) and leave the fields it does not own alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "nmea_reference.h"
#include "receiver/Nmea.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

template <typename T>
bool SameBits(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool SameFix(const FixRecord& a, const FixRecord& b) {
  return SameBits(a.position, b.position) && a.day == b.day && a.month == b.month &&
         a.year == b.year && a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
         SameBits(a.hdop, b.hdop) && SameBits(a.vdop, b.vdop);
}

bool SameEntries(const SatelliteTable& a, const SatelliteTable& b) {
  for (int i = 0; i < kSatelliteTableSize; ++i) {
    if (a[i].prn != b[i].prn || a[i].elevation != b[i].elevation || a[i].azimuth != b[i].azimuth ||
        a[i].cn0 != b[i].cn0 || a[i].usedFlag != b[i].usedFlag) {
      return false;
    }
  }
  return true;
}

FixRecord StartFix() {
  FixRecord fix;
  fix.position = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  fix.day = 11;
  fix.month = 12;
  fix.year = 13;
  fix.hour = 14;
  fix.minute = 15;
  fix.second = 16;
  fix.hdop = 17.5;
  fix.vdop = 18.5;
  return fix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int firstSlot = static_cast<int>(data[0] % 64) - 8;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* sentence = text.c_str();

  for (int index = 0; index < 24; ++index) {
    char out[kNmeaFieldBufferSize];
    std::memset(out, 'z', sizeof out);
    if (GetNmeaField(sentence, out, index) == 1) {
      const std::size_t length = strnlen(out, sizeof out);
      Require(length >= 1 && length <= kNmeaFieldMax);
    }
  }

  using FixDecoder = int (*)(const char*, FixRecord&);
  const struct {
    FixDecoder ours, plain;
  } fixDecoders[] = {
      {GPGGAParser, reference::Gga}, {GPZDAParser, reference::Zda}, {GPRMCParser, reference::Rmc}};
  for (const auto& decoder : fixDecoders) {
    FixRecord ours = StartFix(), plain = StartFix();
    Require(decoder.ours(sentence, ours) == decoder.plain(sentence, plain));
    Require(SameFix(ours, plain));
  }

  {
    auto ours = std::make_unique<FixStatus>();
    auto plain = std::make_unique<FixStatus>();
    ours->usedPrn.fill(-3);
    plain->usedPrn.fill(-3);
    ours->inViewCount = plain->inViewCount = 21;
    ours->minSatellites = plain->minSatellites = 4;
    ours->maxFixSeconds = plain->maxFixSeconds = 60;
    Require(GPGSAParser_Status(sentence, *ours, firstSlot) ==
            reference::Gsa(sentence, *plain, firstSlot));
    Require(SameBits(ours->pdop, plain->pdop) && SameBits(ours->hdop, plain->hdop) &&
            SameBits(ours->vdop, plain->vdop));
    Require(ours->fixMode == plain->fixMode && ours->usedCount == plain->usedCount &&
            ours->usedPrn == plain->usedPrn);
    Require(ours->inViewCount == 21 && ours->minSatellites == 4 && ours->maxFixSeconds == 60);
  }

  {
    auto ours = std::make_unique<SatelliteTable>();
    auto plain = std::make_unique<SatelliteTable>();
    int oursCount = -9, oursNumber = -9, plainCount = -9, plainNumber = -9;
    Require(GPGSVParser(sentence, *ours, oursCount, oursNumber, firstSlot) ==
            reference::Gsv(sentence, *plain, plainCount, plainNumber, firstSlot));
    Require(oursCount == plainCount && oursNumber == plainNumber);
    Require(SameEntries(*ours, *plain));
  }
  return 0;
}
