// `gnss-station --decode-nmea FILE`: a captured NMEA stream cut into epochs
// and decoded exactly as the monitoring loop does it, one JSON object per
// epoch on standard output.
#pragma once

// Returns 0, or non-zero with a message on stderr when the file cannot be read.
int RunDecodeNmea(const char* path);
