// One waveform from a digital oscilloscope: channel 1 as a record of 8-bit
// samples in an IEEE 488.2 definite-length block, converted to volts with the
// instrument's vertical offset and multiplier.
#pragma once

#include <optional>
#include <vector>

#include "platform/visa.h"

// Record length the capture asks for, and the most sample bytes it reads.
inline constexpr long kScopeRecordLength = 10000;
inline constexpr ViUInt32 kScopeMaxSamples = 10000;

// Runs the capture on `session`. On success returns one value per point,
// (sample - offset) * multiplier in record order, and `*recordLength` holds
// their number: the record length the instrument reported, or fewer when
// fewer samples arrived. On failure writes "failure: <status description>"
// to the error output and returns nothing.
std::optional<std::vector<double>> CaptureScopeWaveform(ViSession session, long* recordLength);
