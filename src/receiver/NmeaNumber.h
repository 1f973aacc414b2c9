// Number reading for NMEA fields, equal to the C library's atoi/atof in the C
// locale (leading white space, sign, digits; 0 when there are none), whatever
// the process locale, without a terminator and without heap use.
#pragma once

#include <cstddef>

// Characters of a number text that are read; the rest is ignored. NMEA fields
// hold at most 24, so this bounds only other callers.
inline constexpr std::size_t kNmeaNumberTextMax = 64;

// atoi over text[0..min(length, kNmeaNumberTextMax)). Beyond the int range the value is clamped to
// INT_MIN/INT_MAX, as strtol clamps to its own range.
int NmeaReadInt(const char* text, std::size_t length);

// atof over the same characters, including hexadecimal forms, inf and nan.
double NmeaReadDouble(const char* text, std::size_t length);
