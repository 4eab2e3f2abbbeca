// The annealing search over the varied coefficients.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "problem/problem_record.hpp"
#include "estimate/uniform_random.hpp"

namespace btcfit {

class ObservationPool;

// What the search is given besides the problem.
struct SearchControl {
  // Threads for the model calls (and for trials evaluated ahead); null:
  // everything on the calling thread.
  ObservationPool* pool = nullptr;
  // Receives each line of the progress table (iteration N, SSQ, and the
  // set, coefficient k in row NCOEF + k), on the calling thread. What it
  // throws ends the search and reaches run_search's caller.
  std::function<void(std::int32_t N, double SSQ, const CoefColumn& set)> progress;
  // Set by another thread to stop the search: run_search throws Cancelled.
  const std::atomic<bool>* cancel = nullptr;
  // For tests: with trials evaluated ahead, a trial is judged only once
  // every trial in the window after it has been evaluated, so that trials
  // evaluated ahead are thrown away at every acceptance whatever the
  // scheduling.
  bool judge_full_window = false;
  // The sum of squared residuals of a coefficient set (coefficient k in row
  // NCOEF + k), where the search should not form it with MODEL over the
  // record's observation tables: with the accurate numerics, or with more
  // observations than the record holds. Called on the search's thread, one
  // set at a time, in the order the serial search evaluates them; rec.CCALC
  // is then left alone, the pool and the trials evaluated ahead are not
  // used (the call may use threads of its own). What it throws ends the
  // search. Null: MODEL over rec's observations, as always.
  std::function<double(const CoefColumn& set)> sum_of_squares;
};

// Why the search ended, in the order the end test asks.
enum class SearchEnd : std::int8_t {
  stalled,          // the best SSQ did not improve in more than 100 outer iterations
  goal_reached,     // SSQ no longer above the goal 1e-4 (also when it is not a number)
  iteration_limit,  // the last outer iteration (9999) is done
};

struct SearchOutcome {
  std::int32_t N = 0;  // outer iteration at which the search ended
  double SSQ = 0.0;    // sum of squares of the best set (COEF column 1)
  // Trials evaluated ahead on other threads: evaluations thrown away (after
  // an accepted trial, or when a call started from other fields than its
  // predecessor left), and how many times the latter happened.
  std::int64_t thrown_away = 0;
  std::int64_t fields_differed = 0;
  SearchEnd end = SearchEnd::iteration_limit;
};

// Fits the varied coefficients of rec.COEF column 1 to the observations,
// handing each progress line to control.progress. On return column 1 holds
// the best set. Throws Cancelled when control.cancel is set, and
// ProblemError when a varied coefficient cannot be placed within its bounds
// in kDrawLimit draws.
SearchOutcome run_search(ProblemRecord& rec, const SearchControl& control);

// Sum of squared residuals of one coefficient set; fills rec.CCALC.
double sum_of_squares(ProblemRecord& rec, const CoefColumn& B, ObservationPool* pool = nullptr);

}  // namespace btcfit

namespace btcfit {

// Step of a coefficient for one draw R1 of the step stream: an absolute
// change between -0.2 and 0.2.
double step_from_draw(float R1);

// Draws of one coefficient for one trial set after which the search gives
// up (ProblemError): the bounds guard refuses bounds that would need
// anything near this many, so only a broken deck reaches it.
inline constexpr long kDrawLimit = 10'000'000;

// Fills the trial set (COEF column 2) from the current set (column 1),
// moving each varied coefficient by a random step and redrawing until the
// value lies within its bounds (a value on a bound stays).
void draw_trial_set(ProblemRecord& rec, UniformStream& RANDOM5, float& R1);

// The same for any pair of sets: `trial` is drawn around `current`, within
// the bounds of rec.
void draw_trial_set(const ProblemRecord& rec, const CoefColumn& current, CoefColumn& trial,
                    UniformStream& RANDOM5, float& R1);

}  // namespace btcfit
