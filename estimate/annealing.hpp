// The annealing search over the varied coefficients.
#pragma once

#include <cstdint>

#include "driver/problem_record.hpp"
#include "estimate/uniform_random.hpp"
#include "report/record_layout.hpp"

namespace btcfit {

struct SearchOutcome {
  std::int32_t N = 0;  // outer iteration at which the search ended
  double SSQ = 0.0;    // sum of squares of the best set (COEF column 1)
  // Trials evaluated ahead on other threads: evaluations thrown away (after
  // an accepted trial, or when a call started from other fields than its
  // predecessor left), and how many times the latter happened.
  std::int64_t thrown_away = 0;
  std::int64_t fields_differed = 0;
};

// Fits the varied coefficients of rec.COEF column 1 to the observations,
// writing the progress table into `report`. On return column 1 holds the
// best set.
SearchOutcome run_search(ProblemRecord& rec, OutputUnit& report);

// Sum of squared residuals of one coefficient set; fills rec.CCALC.
double sum_of_squares(ProblemRecord& rec, const CoefColumn& B);

}  // namespace btcfit

namespace btcfit {

// Step of a coefficient for one draw R1 of the step stream: an absolute
// change between -0.2 and 0.2.
double step_from_draw(float R1);

// Fills the trial set (COEF column 2) from the current set (column 1),
// moving each varied coefficient by a random step and redrawing until the
// value lies within its bounds (a value on a bound stays).
void draw_trial_set(ProblemRecord& rec, UniformStream& RANDOM5, float& R1);

// The same for any pair of sets: `trial` is drawn around `current`, within
// the bounds of rec.
void draw_trial_set(const ProblemRecord& rec, const CoefColumn& current, CoefColumn& trial,
                    UniformStream& RANDOM5, float& R1);

// One line of the progress table: N, SSQ and the coefficients of the
// current set (COEF column 1).
void write_progress_line(const ProblemRecord& rec, std::int32_t n, double ssq,
                         OutputUnit& report);

}  // namespace btcfit
