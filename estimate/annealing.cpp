#include "estimate/annealing.hpp"

#include <cmath>

#include "estimate/uniform_random.hpp"
#include "models/model.hpp"

namespace btcfit {
namespace {

constexpr int kTrialsPerIteration = 500;
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

void write_progress_line(const ProblemRecord& rec, std::int32_t n, double ssq,
                         OutputUnit& report) {
  // Seven-coefficient models write the seventh value as one more field on
  // the same line.
  static const Layout six("(I5,F10.6,6F9.5)");
  static const Layout seven("(I5,F10.6,7F9.5)");
  FieldValue values[2 + MAXCOEF] = {n, ssq, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  const int ncoef = rec.obs.NCOEF;
  for (int k = 1; k <= ncoef; ++k) values[1 + k] = FieldValue(rec.coef(k, 1));
  write_record(ncoef == 7 ? seven : six,
               std::span<const FieldValue>(values, 2 + ncoef), report);
}

double step_from_draw(float R1) {
  return (2.0 * double(R1) - 1.0) * kStepHalfWidth;
}

void draw_trial_set(ProblemRecord& rec, UniformStream& RANDOM5, float& R1) {
  const int ncoef = rec.obs.NCOEF;
  const CoefColumn& current = rec.COEF[0];
  CoefColumn& trial = rec.COEF[1];
  for (int k = 1; k <= ncoef; ++k) {
    double& value = trial[ncoef + k - 1];
    value = current[ncoef + k - 1];
    if (rec.obs.IVAR[k] == 0) continue;
    for (;;) {
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

double sum_of_squares(ProblemRecord& rec, const CoefColumn& B) {
  MODEL(rec, B, rec.CCALC);
  double ssq = 0.0;
  for (int i = 1; i <= rec.obs.NOB; ++i) {
    const double r = rec.COBS[i] - rec.CCALC[i];
    ssq = ssq + r * r;
  }
  return ssq;
}

SearchOutcome run_search(ProblemRecord& rec, OutputUnit& report) {
  static const Layout heading(
      "(/,/,TR4,'N',TR5,'SSQ',TR7,'V',TR8,'D',TR8,'R',TR7,'T',TR7,'BETA',TR5,"
      "'ALPHA')");
  write_record(heading, {}, report);

  const int ncoef = rec.obs.NCOEF;
  CoefColumn& current = rec.COEF[0];
  const CoefColumn& trial = rec.COEF[1];
  CoefColumn& best = rec.COEF[2];

  UniformStream RANDOM5;  // steps
  UniformStream RANDOM2;  // acceptance draws
  float R1 = 5139.0f;
  float R2 = 2139.0f;
  std::int32_t N = 0;
  std::int32_t NFAIL = 0;

  double SSQ = sum_of_squares(rec, current);
  write_progress_line(rec, N, SSQ, report);
  double SSQBEST = SSQ;
  double SSQPREV = SSQ;
  copy_set(current, best, ncoef);
  double TEMP = kInitialTemperature;

  for (;;) {
    N = N + 1;
    // A sum of squares that is not a number is "not greater" than the goal
    // and ends the search, as it does in every comparison below.
    if (NFAIL > kFailureLimit || !(SSQ > kSsqGoal) || N >= kIterationLimit) {
      break;
    }
    for (int trial_no = 0; trial_no < kTrialsPerIteration; ++trial_no) {
      draw_trial_set(rec, RANDOM5, R1);
      const double SSQT = sum_of_squares(rec, trial);
      RANDOM2.draw(R2);
      const double P = std::exp(-(SSQT - SSQ) / TEMP);
      // A worse trial is taken when the draw exceeds P.
      if (!(SSQT > SSQ) || double(R2) > P) {
        copy_set(trial, current, ncoef);
        SSQ = SSQT;
      }
      if (SSQ < SSQBEST) {
        SSQBEST = SSQ;
        copy_set(current, best, ncoef);
      }
    }
    if (SSQBEST == SSQPREV) {
      NFAIL = NFAIL + 1;
    } else {
      SSQPREV = SSQBEST;
    }
    SSQ = SSQBEST;
    copy_set(best, current, ncoef);
    TEMP = TEMP * kCooling;
    write_progress_line(rec, N, SSQ, report);
  }
  return SearchOutcome{N, SSQ};
}

}  // namespace btcfit
