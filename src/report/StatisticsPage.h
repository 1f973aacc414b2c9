// STATISTICS.html: the statistics of every test of a run for people, with a
// figure per view drawn as PNG beside it (STAT_<id>_<view>.png) and a line
// under each figure saying what it shows. Rewritten whole at each test end.
#pragma once

#include <string>

#include "report/Results.h"

// Writes the page and its figures into `directory`. Returns 0, or an errno
// with the reason in *error. A figure that cannot be drawn is named on the
// page instead (and in *error), the page is written all the same.
int WriteStatisticsPage(const ResultsRun& run, const std::string& directory, std::string* error);
