// The model dispatcher: one coefficient set to calculated concentrations.
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit {

class ObservationPool;

// Computes CCALC(1..NOB) for coefficient set B (coefficient k at
// B[NCOEF + k - 1]) with the model of rec.work.MODE, then reduces the
// concentrations (and restores reduced times) when IRED asks for it.
// The observations are evaluated side by side on the threads of `pool`
// when one is given and the model is costly enough for that to pay; the
// values do not depend on it.
void MODEL(ProblemRecord& rec, const CoefColumn& B,
           std::array<double, MAXOBS + 1>& CCALC, ObservationPool* pool = nullptr);

}  // namespace btcfit
