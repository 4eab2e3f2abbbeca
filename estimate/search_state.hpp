// The bookkeeping of the annealing search: the judgement of each trial, the
// close of an outer iteration and the test for the end. The search loop
// (serial, or with trials evaluated ahead on several threads) draws the
// trial sets, evaluates them and hands each sum of squares to judge() in
// trial order.
#pragma once

#include <cstdint>
#include <vector>

#include "problem/problem_record.hpp"
#include "estimate/annealing.hpp"
#include "estimate/uniform_random.hpp"

namespace btcfit {

inline constexpr int kTrialsPerIteration = 500;

class SearchState {
 public:
  // rec.COEF column 1 holds the initial set, of sum of squares `initial`.
  // Queues the progress line for N = 0 and opens the first outer iteration.
  SearchState(ProblemRecord& rec, double initial);

  // Judges the trial set (COEF column 2 as the serial search has it) of sum
  // of squares SSQT: accepts or rejects it, keeps the best set, and after
  // the last trial of an outer iteration restarts from the best set, cools,
  // queues the progress line and opens the next iteration (or ends).
  void judge(const CoefColumn& trial, double SSQT);

  bool ended() const { return ended_; }
  // Why it ended (meaningful once ended()).
  SearchEnd end() const { return end_; }
  std::int32_t N() const { return N_; }
  double SSQ() const { return SSQ_; }

  // Hands the progress lines queued so far to control.progress.
  void hand_on_lines(const SearchControl& control);

 private:
  void open_iteration();
  void queue_line();

  struct Line {
    std::int32_t N;
    double SSQ;
    CoefColumn set;
  };

  ProblemRecord& rec_;
  UniformStream RANDOM2_;  // acceptance draws
  float R2_ = 2139.0f;
  std::int32_t N_ = 0;
  std::int32_t NFAIL_ = 0;
  double SSQ_;
  double SSQBEST_;
  double SSQPREV_;
  double TEMP_;
  int trial_no_ = 0;  // trials judged in this outer iteration
  bool ended_ = false;
  SearchEnd end_ = SearchEnd::iteration_limit;
  std::vector<Line> lines_;
};

// Evaluates the trials ahead of their judgement on the threads of
// control.pool, each trial on its own copy of the record. Returns false (having
// done nothing) when the run has no threads for it, or the model is so
// quick that handing trials between threads would cost more than it saves.
// The counts of `outcome` that concern the threads are filled in.
// Throws Cancelled when control.cancel is set, and what the progress sink
// or the draw of a trial set throws.
bool search_ahead(ProblemRecord& rec, SearchState& state, UniformStream& RANDOM5, float& R1,
                  const SearchControl& control, SearchOutcome& outcome);

}  // namespace btcfit
