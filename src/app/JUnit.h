// `gnss-station --run TEST --junit FILE`: the verdicts of the launch as JUnit
// XML, the format CI servers read. One test case per test the launch ran,
// with its duration, its verdict (a failure carries the result text) and its
// statistics as properties; a launch that came to no test is one test case
// with an error.
#pragma once

#include <string>

#include "report/Results.h"

// The XML for `run`; `launch` names the --run argument, `exitCode` is the
// verdict code of the launch (0 pass, 1 fail, 2 no verdict).
std::string JUnitXml(const ResultsRun& run, const std::string& launch, int exitCode);

// Writes JUnitXml to `path` atomically. 0, or an errno with the reason on
// stderr.
int WriteJUnitFile(const std::string& path, const ResultsRun& run, const std::string& launch,
                   int exitCode);
