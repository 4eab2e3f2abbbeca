// The annealing search over the varied coefficients.
#pragma once

#include <cstdint>

#include "driver/problem_record.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

struct SearchOutcome {
  std::int32_t N = 0;  // outer iteration at which the search ended
  double SSQ = 0.0;    // sum of squares of the best set (COEF column 1)
};

// Fits the varied coefficients of rec.COEF column 1 to the observations,
// writing the progress table into `report`. On return column 1 holds the
// best set.
SearchOutcome run_search(ProblemRecord& rec, OutputUnit& report);

// Sum of squared residuals of one coefficient set; fills rec.CCALC.
double sum_of_squares(ProblemRecord& rec, const CoefColumn& B);

}  // namespace btcfit

namespace btcfit {

// One line of the progress table: N, SSQ and the coefficients of the
// current set (COEF column 1).
void write_progress_line(const ProblemRecord& rec, std::int32_t n, double ssq,
                         OutputUnit& report);

}  // namespace btcfit
