#include "estimate/annealing.hpp"

#include <cmath>
#include <string>

#include "btcfit/errors.hpp"
#include "estimate/search_bounds.hpp"
#include "estimate/search_state.hpp"
#include "estimate/uniform_random.hpp"
#include "models/exponential.hpp"
#include "models/model.hpp"

namespace btcfit {
namespace {

constexpr int kIterationLimit = 10000;
constexpr int kFailureLimit = 100;
// Single-precision constants of the search, in effect as their widened
// double values.
constexpr double kSsqGoal = double(1.0e-4f);  // 9.999999747378752e-05
constexpr double kCooling = double(0.95f);    // 0.949999988079071
constexpr double kStepHalfWidth = double(0.2f);  // 0.20000000298023224
constexpr double kInitialTemperature = 500.0;

static_assert(kSsqGoal == 9.999999747378752e-05);
static_assert(kCooling == 0.949999988079071);
static_assert(kStepHalfWidth == 0.20000000298023224);

// Copies coefficients 1..NCOEF (rows NCOEF+1..2*NCOEF) of one set into
// another.
void copy_set(const CoefColumn& from, CoefColumn& to, int ncoef) {
  for (int row = ncoef; row < 2 * ncoef; ++row) to[row] = from[row];
}

}  // namespace

double step_from_draw(float R1) {
  return (2.0 * double(R1) - 1.0) * kStepHalfWidth;
}

void draw_trial_set(const ProblemRecord& rec, const CoefColumn& current, CoefColumn& trial,
                    UniformStream& RANDOM5, float& R1) {
  const int ncoef = rec.obs.NCOEF;
  for (int k = 1; k <= ncoef; ++k) {
    double& value = trial[ncoef + k - 1];
    value = current[ncoef + k - 1];
    if (rec.obs.IVAR[k] == 0) continue;
    for (long draws = 1;; ++draws) {
      if (draws > kDrawLimit) {
        throw ProblemError(unplaceable_message(
            rec, k,
            "no step of the search landed within them in " + std::to_string(kDrawLimit) +
                " draws; move the initial value into them, or widen them"));
      }
      RANDOM5.draw(R1);
      const double STEP = step_from_draw(R1);
      value = value + STEP;
      if (value < rec.BMIN[k] || value > rec.BMAX[k]) {
        // Undone by subtraction (not restored from a copy), then redrawn.
        value = value - STEP;
        continue;
      }
      break;
    }
  }
}

void draw_trial_set(ProblemRecord& rec, UniformStream& RANDOM5, float& R1) {
  draw_trial_set(rec, rec.COEF[0], rec.COEF[1], RANDOM5, R1);
}

double sum_of_squares(ProblemRecord& rec, const CoefColumn& B, ObservationPool* pool) {
  MODEL(rec, B, rec.CCALC, pool);
  double ssq = 0.0;
  for (int i = 1; i <= rec.obs.NOB; ++i) {
    const double r = rec.COBS[i] - rec.CCALC[i];
    ssq = ssq + r * r;
  }
  return ssq;
}

SearchState::SearchState(ProblemRecord& rec, double initial)
    : rec_(rec), SSQ_(initial), SSQBEST_(initial), SSQPREV_(initial), TEMP_(kInitialTemperature) {
  queue_line();
  copy_set(rec.COEF[0], rec.COEF[2], rec.obs.NCOEF);
  open_iteration();
}

void SearchState::open_iteration() {
  N_ = N_ + 1;
  trial_no_ = 0;
  // A sum of squares that is not a number is "not greater" than the goal
  // and ends the search, as it does in every comparison below.
  if (NFAIL_ > kFailureLimit) {
    ended_ = true;
    end_ = SearchEnd::stalled;
  } else if (!(SSQ_ > kSsqGoal)) {
    ended_ = true;
    end_ = SearchEnd::goal_reached;
  } else if (N_ >= kIterationLimit) {
    ended_ = true;
    end_ = SearchEnd::iteration_limit;
  }
}

void SearchState::queue_line() { lines_.push_back(Line{N_, SSQ_, rec_.COEF[0]}); }

void SearchState::hand_on_lines(const SearchControl& control) {
  // Taken out first: a sink that throws leaves no line to hand on twice.
  std::vector<Line> lines;
  lines.swap(lines_);
  if (!control.progress) return;
  for (const Line& line : lines) control.progress(line.N, line.SSQ, line.set);
}

void SearchState::judge(const CoefColumn& trial, double SSQT) {
  const int ncoef = rec_.obs.NCOEF;
  CoefColumn& current = rec_.COEF[0];
  CoefColumn& best = rec_.COEF[2];
  RANDOM2_.draw(R2_);
  // The program's own exp: the C library's last bits differ between
  // platforms, and one bit can change this decision.
  const double P = fixed_exp(-(SSQT - SSQ_) / TEMP_);
  // A worse trial is taken when the draw exceeds P.
  if (!(SSQT > SSQ_) || double(R2_) > P) {
    copy_set(trial, current, ncoef);
    SSQ_ = SSQT;
  }
  if (SSQ_ < SSQBEST_) {
    SSQBEST_ = SSQ_;
    copy_set(current, best, ncoef);
  }
  if (++trial_no_ < kTrialsPerIteration) return;
  if (SSQBEST_ == SSQPREV_) {
    NFAIL_ = NFAIL_ + 1;
  } else {
    SSQPREV_ = SSQBEST_;
  }
  SSQ_ = SSQBEST_;
  copy_set(best, current, ncoef);
  TEMP_ = TEMP_ * kCooling;
  queue_line();
  open_iteration();
}

SearchOutcome run_search(ProblemRecord& rec, const SearchControl& control) {
  check_search_bounds(rec);
  const auto cancelled = [&] {
    return control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed);
  };
  if (cancelled()) throw Cancelled();
  const bool own_model = !control.sum_of_squares;
  const auto ssq_of = [&](const CoefColumn& set) {
    return own_model ? sum_of_squares(rec, set, control.pool) : control.sum_of_squares(set);
  };
  SearchState state(rec, ssq_of(rec.COEF[0]));
  state.hand_on_lines(control);
  UniformStream RANDOM5;  // steps
  float R1 = 5139.0f;
  SearchOutcome outcome;
  // Trials are evaluated ahead only with MODEL, on copies of the record.
  if (!state.ended() && !(own_model && search_ahead(rec, state, RANDOM5, R1, control, outcome))) {
    while (!state.ended()) {
      if (cancelled()) throw Cancelled();
      draw_trial_set(rec, RANDOM5, R1);
      state.judge(rec.COEF[1], ssq_of(rec.COEF[1]));
      state.hand_on_lines(control);
    }
  }
  outcome.end = state.end();
  outcome.N = state.N();
  outcome.SSQ = state.SSQ();
  return outcome;
}

}  // namespace btcfit
