// `gnss-station --compare RUN_A RUN_B [--tolerance cep95=2,ttff95=5]`: the
// statistics of two run-log directories (their results.json) side by side,
// test by test, with B - A. With tolerances it exits 1 when B is worse than
// A by more than a tolerance in any named figure: a firmware release gate.
#pragma once

#include <string>
#include <vector>

// One "name=value" of --tolerance: metres, seconds, or a share (availability).
struct CompareTolerance {
  std::string name;
  double value = 0.0;
};

// Reads "cep95=2,ttff95=5". False with the reason for an unknown name or a
// value that is not a number >= 0.
bool ParseTolerances(const std::string& text, std::vector<CompareTolerance>* out,
                     std::string* error);

// The names --tolerance takes, for the usage text.
const char* ToleranceNames();

// Prints the table on standard output. 0: B is within every tolerance (or no
// tolerance was given); 1: B is worse beyond one; 2: a run cannot be read.
int RunCompare(const std::string& runA, const std::string& runB,
               const std::vector<CompareTolerance>& tolerances);
