// The model dispatcher: one coefficient set to calculated concentrations.
#pragma once

#include "driver/problem_record.hpp"

namespace btcfit {

// Computes CCALC(1..NOB) for coefficient set B (coefficient k at
// B[NCOEF + k - 1]) with the model of rec.work.MODE, then reduces the
// concentrations (and restores reduced times) when IRED asks for it.
void MODEL(ProblemRecord& rec, const CoefColumn& B,
           std::array<double, MAXOBS + 1>& CCALC);

}  // namespace btcfit
