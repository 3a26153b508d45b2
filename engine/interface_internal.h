#pragma once

#include <string>

struct Baseline;

// Bookkeeping of runTest around one test, and the result text.
void resetResult(int id, Baseline* baseline);      // clears result and sub-results
void normaliseResult(int id, Baseline* baseline);  // divides by numPasses
std::string formatResult(int id, const Baseline* baseline);
