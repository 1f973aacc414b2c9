// A second, deliberately plain decoder set for differential fuzzing: the
// working copy of 6,100 zero bytes, GetNmeaField for every field and the C
// library's own atoi/atof (strtol clamped to int). Slow and obvious on purpose.
#pragma once

#include "receiver/Nmea.h"

namespace reference {
int Gga(const char* sentence, FixRecord& fix);
int Gsa(const char* sentence, FixStatus& status, int firstSlot);
int Zda(const char* sentence, FixRecord& fix);
int Rmc(const char* sentence, FixRecord& fix);
int Gsv(const char* sentence, SatelliteTable& table, int& messageCount, int& messageNumber,
        int firstSlot);
}  // namespace reference
