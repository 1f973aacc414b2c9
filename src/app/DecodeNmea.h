// `gnss-station --decode-nmea FILE`: a captured NMEA stream cut into epochs
// and decoded with the monitoring loop's own epoch code, one JSON object per
// epoch on standard output. Unlike the live loop it has no port, no waits and
// no Galileo hot-start rule, and it reads more of the file only when no whole
// epoch is buffered, so that no epoch of the file is lost.
#pragma once

// Returns 0, or non-zero with a message on stderr when the file cannot be read.
int RunDecodeNmea(const char* path);
