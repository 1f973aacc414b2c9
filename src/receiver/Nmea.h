// NMEA 0183 sentence decoders: field extraction and the GGA, GSA, ZDA, RMC and
// GSV decoders that fill the fix records.
//
// A sentence is a NUL-terminated text "$ttTTT,f0,f1,...[*hh]" with CR LF
// already cut off. Decoders look only at the type letters at positions 3..5
// (any talker) and at the fields after position 7; the checksum is not
// checked. Numbers read as C atoi/atof in the C locale (leading white space,
// sign, digits; 0 when there are none); an integer beyond the int range is
// clamped to INT_MIN/INT_MAX. A field keeps at most 24 characters.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "geo/Geo.h"

inline constexpr std::size_t kNmeaFieldMax = 24;  // characters kept of one field
inline constexpr std::size_t kNmeaFieldBufferSize = kNmeaFieldMax + 1;  // + terminator
inline constexpr std::size_t kNmeaWorkingCopySize = 6100;  // text after position 7 that is read
inline constexpr int kUsedPrnSlots = 32;                   // FixStatus::usedPrn
inline constexpr int kSatelliteTableSize = 32;             // SatelliteTable entries
inline constexpr int kPrnSlotsPerGsa = 12;
inline constexpr int kSatellitesPerGsv = 4;

// The receiver's reported position and time. `position` first, so a FixRecord
// can stand wherever a GeoPoint is expected.
struct FixRecord {
  GeoPoint position;     // GGA writes longitude, latitude, altitude (MSL + geoid separation)
  std::int32_t day = 0;  // UTC date from ZDA/RMC, 0 when unknown
  std::int32_t month = 0;
  std::int32_t year = 0;  // four digits
  std::int32_t hour = 0;  // UTC time of the GGA sentence
  std::int32_t minute = 0;
  std::int32_t second = 0;  // whole seconds
  double hdop = 0.0;        // from GGA; an empty field keeps the previous value
  double vdop = 0.0;        // copied from FixStatus::vdop by the stream readers
};

struct FixStatus {
  std::int32_t fixMode = 0;  // 1 no fix, 2 2D, 3 3D, 0 unknown
  // PRNs of the satellites in the solution, 12 slots per GSA sentence of an
  // epoch; 0 where the field was empty. PRNs that would land beyond slot 31
  // are dropped (they are still counted in usedCount).
  std::array<std::int32_t, kUsedPrnSlots> usedPrn{};
  // Non-empty PRN fields over the GSA sentences of an epoch, and the slot
  // where the next GSA sentence starts. CAN EXCEED kUsedPrnSlots: bound loops
  // over usedPrn by std::min(usedCount, kUsedPrnSlots).
  std::int32_t usedCount = 0;
  std::int32_t inViewCount = 0;    // set by the stream readers
  std::int32_t minSatellites = 0;  // set by the test procedure
  double pdop = -1.0;              // -1.0 when the field was empty
  double hdop = -1.0;
  double vdop = -1.0;
  std::int32_t maxFixSeconds = 0;  // set by the test procedure
};

struct SatelliteEntry {
  std::int32_t prn = -1;  // -1 = unknown
  std::int32_t elevation = -1;
  std::int32_t azimuth = -1;
  std::int32_t cn0 = -1;  // dB-Hz
  char usedFlag = 0;      // 'U' or 0
};

// Exactly 32 entries; GSV messages that address entries beyond the end are
// dropped.
using SatelliteTable = std::array<SatelliteEntry, kSatelliteTableSize>;

// Which of the five decoded types a sentence is (positions 3..5), for
// dispatch tables.
enum class NmeaSentenceType { kOther, kGga, kGsa, kGsv, kRmc, kZda };
NmeaSentenceType NmeaTypeOf(const char* sentence);
// The same for a sentence inside buffered text: reads data[3..5] only, and
// only when `available` (bytes from data on) covers them. The characters
// before the type are not looked at.
NmeaSentenceType NmeaTypeAt(const char* data, std::size_t available);

// Field `index` (0-based) of `text` into `out`, at most 24 characters. Returns
// 1, or 0 when the field is empty or missing (or text is null). On 0, `out` is
// left as it was, except that a walk that runs into the end of the text
// before reaching the field sets `out` to the empty text.
int GetNmeaField(const char* text, char (&out)[kNmeaFieldBufferSize], int index);

// GGA: returns the fix quality (field 5), 0 when absent or not GGA. Writes
// longitude, latitude, altitude, hour, minute, second ALWAYS (zeros for a
// foreign sentence); hdop only when its field is present.
int GPGGAParser(const char* sentence, FixRecord& fix);

// GSA: sets fixMode = 0 and usedCount = firstSlot FIRST, then returns -1 when
// not GSA. Otherwise fills usedPrn[firstSlot .. firstSlot+11] and the DOPs
// (-1.0 when empty) and returns the new usedCount.
int GPGSAParser_Status(const char* sentence, FixStatus& status, int firstSlot);

// ZDA: returns 1 and writes day, month, year (0 when empty); 0 when not ZDA.
int GPZDAParser(const char* sentence, FixRecord& fix);

// RMC: returns 1 and writes day, month, year from the ddmmyy field (year +
// 2000; all 0 when empty); 0 when not RMC. Only the date is taken.
int GPRMCParser(const char* sentence, FixRecord& fix);

// GSV: returns satellites in view (field 2), 0 when not GSV. messageCount is
// written only when field 0 is present; messageNumber always for a GSV.
// Satellite i of message m goes to entry firstSlot + 4*(m-1) + i (messages
// 1..6 only); empty fields keep the entry's value.
int GPGSVParser(const char* sentence, SatelliteTable& table, int& messageCount, int& messageNumber,
                int firstSlot);
