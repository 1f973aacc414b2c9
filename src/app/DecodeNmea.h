// `gnss-station --decode-nmea FILE`: a captured NMEA stream cut into epochs
// and decoded with the monitoring loop's own epoch code, one JSON object per
// epoch on standard output. Unlike the live loop it has no port, no waits and
// no Galileo hot-start rule, and it reads more of the file only when no whole
// epoch is buffered, so that no epoch of the file is lost.
#pragma once

#include <cstddef>

// The input is read in pieces, so memory does not grow with it; an input
// longer than this (an endless device or pipe) is decoded this far only.
inline constexpr std::size_t kDecodeNmeaReadMax = std::size_t{1} << 30;

// Returns 0, or non-zero with a message on stderr when the file cannot be
// read or is longer than `maxBytes`. FILE may also be a pipe or a device.
int RunDecodeNmea(const char* path, std::size_t maxBytes = kDecodeNmeaReadMax);
