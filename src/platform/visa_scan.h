// Parsing of an instrument's answer by a viScanf format, apart from the
// session so that it can be tested and fuzzed on its own (internal to
// platform/). Standard library only.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "platform/visa.h"

// "%t" and "%s" destinations hold 1024 bytes (visa.h): 1023 and the NUL.
inline constexpr std::size_t kFormattedTextCapacity = 1024;

// Parses `message` by `format` ("%t", "%s", "%d", "%ld", "%f", "%lf",
// literal characters, white space matching any run of white space) into the
// va_list's destinations, in the C locale. VI_ERROR_INV_FMT when the answer
// does not match.
ViStatus ScanMessage(const std::string& message, const char* format, va_list args);

// The same with the destinations as arguments.
ViStatus ScanMessageF(const std::string& message, const char* format, ...);
