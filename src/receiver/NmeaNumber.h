// Number reading for NMEA fields, equal to the C library's atoi/atof in the C
// locale (leading white space, sign, digits; 0 when there are none), whatever
// the process locale, without a terminator and without heap use.
#pragma once

#include <cstddef>

// atoi over text[0..length). Beyond the int range the value is clamped to
// INT_MIN/INT_MAX, as strtol clamps to its own range.
int NmeaReadInt(const char* text, std::size_t length);

// atof over text[0..length), including hexadecimal forms, inf and nan.
double NmeaReadDouble(const char* text, std::size_t length);
