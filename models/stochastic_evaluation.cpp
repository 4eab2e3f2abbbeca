// Stochastic stream-tube models (codes 5 to 8): field-scale concentrations
// as averages of the tube concentrations over log-normal tube velocities.
//
// begin_stochastic prepares the distribution once per coefficient set;
// stochastic_observation integrates CAVG over the velocity range that LIMIT
// finds for one observation; stochastic_lockstep does the same for several
// observations, their tube evaluations collected into common batches. An
// observation reads only what begin_stochastic wrote (CAVG puts CI back and
// sets C0, TPUL, VELO and DISP before it uses them), so observations may be
// evaluated on separate copies of the working fields.

#include <algorithm>
#include <cmath>

#include "models/exponential.hpp"
#include "models/lockstep.hpp"
#include "models/logarithm.hpp"
#include "models/romberg.hpp"
#include "models/stochastic.hpp"
#include "models/stochastic_limit.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {

namespace {

// Single-precision constants of the program, widened to double.
constexpr double NSIG = double(3.9f);   // velocity bounds: mean -+ NSIG sigma
constexpr double FRONT = double(0.9f);  // lower guess from the front arrival
constexpr double QFAC = double(0.14f);  // lower guess from dispersion
constexpr double QOFF = double(0.05f);
static_assert(NSIG == 3.9000000953674316);
static_assert(FRONT == 0.8999999761581421);
static_assert(QFAC == 0.14000000059604645);
static_assert(QOFF == 0.05000000074505806);

// In lockstep the other observations fill the batches: only the slope
// point of each scan step and the pair of a correction step are asked for
// ahead, which are nearly always used.
constexpr LimitAhead kLimitAheadLockstep{1, 1};

constexpr double EPSREL = 1e-6;    // negligible fraction of the input
constexpr double XAFLOOR = 1e-10;  // floor of x / alpha under the logarithm

}  // namespace

StochasticSetup begin_stochastic(ModelWork& w, const PulseGroup& p,
                                 const CoefColumn& B, int NCOEF) {
  const double b1 = B[NCOEF + 0];
  const double b2 = B[NCOEF + 1];
  const double b3 = B[NCOEF + 2];
  const double b4 = B[NCOEF + 3];
  const double b5 = B[NCOEF + 4];
  const double b6 = B[NCOEF + 5];
  const double b7 = B[NCOEF + 6];
  const double R = b3;

  w.PAR5 = b5 / R;
  w.PAR6 = b6 / R;
  w.SIGMA = b7;
  w.VLNMU = fixed_log(b1) - 0.5 * b7 * b7;  // so that the mean velocity is b1
  w.ALPHA = b2;
  const bool load = model_traits(w.MODE).load;
  if (load) w.TMLOAD = b4 / w.C0;

  StochasticSetup s;
  s.VMIN = fixed_exp(w.VLNMU - NSIG * w.SIGMA);
  s.VMAX = fixed_exp(w.VLNMU + NSIG * w.SIGMA);
  if (p.NPULSE > 1 && !load) w.C0 = p.CPULSE[1];
  s.EPS = EPSREL * std::max(w.CI, w.C0);
  s.B1 = b1;

  return s;
}

namespace {

// First guess of the lower velocity limit for the observation at x, t: the
// slowest tubes that can have carried solute to x by t, unless the profile
// holds solute already.
double first_guess(const ModelWork& w, const StochasticSetup& s, double x, double t) {
  if (w.CI > 0.0) return s.VMIN;
  const double q = QFAC * fixed_log(std::max(x / w.ALPHA, XAFLOOR)) * x / t - QOFF;
  return std::max(w.RFAC * std::min(FRONT * x / t, q), s.VMIN);
}

// One observation: the velocity range, then the Romberg sums over it, two
// computations in turn that pause for CAVG values at the observation's x
// and t. next() runs it to its next request (true) or to its end (false),
// when *C holds the concentration. The computations refer to its fields:
// it stays where it was started.
class ObservationSteps {
 public:
  void start(const ModelWork& w, const StochasticSetup& s, double x, double t,
             LimitAhead ahead, double* C) {
    s_ = &s;
    flux_ = model_traits(w.MODE).flux;
    C_ = C;
    *C = 0.0;
    VLO_ = first_guess(w, s, x, t);
    VHI_ = 0.0;
    limit_ = limit_steps(ahead, VLO_, VHI_, s.VMAX, s.EPS, &at_VLO_);
    current_ = &limit_;
  }

  bool next() {
    if (current_ == &limit_) {
      if (limit_.next()) return true;
      limit_ = Steps{};
      current_ = nullptr;
      if (VLO_ >= s_->VMAX) return false;
      // The sums start at VLO, where the search has mostly evaluated CAVG.
      S_ = 0.0;
      sums_ = romberg_steps(S_, VLO_, VHI_, at_VLO_.known ? &at_VLO_.g : nullptr);
      current_ = &sums_;
    }
    if (current_ == &sums_) {
      if (sums_.next()) return true;
      sums_ = Steps{};
      current_ = nullptr;
      if (flux_) S_ = S_ / s_->B1;  // flux average over the mean velocity
      *C_ = S_;
    }
    return false;
  }

  const ValueRequest& request() const { return current_->request(); }

 private:
  // Set by start(), so that an array of them costs nothing to construct.
  const StochasticSetup* s_;
  bool flux_;
  double* C_;
  double VLO_, VHI_, S_;
  LimitValue at_VLO_;
  Steps limit_, sums_;
  Steps* current_;
};

}  // namespace

double stochastic_observation(ModelWork& w, const PulseGroup& p,
                              const StochasticSetup& s, double x, double t) {
  w.XCUR = x;
  w.TCUR = t;
  double C = 0.0;
  ObservationSteps steps;
  steps.start(w, s, x, t, kLimitAheadAlone, &C);
  while (steps.next()) {
    const ValueRequest& r = steps.request();
    CAVG_many(w, p, r.n, r.v, r.f);
  }
  return C;
}

void stochastic_lockstep(const ModelWork& w, const PulseGroup& p, const StochasticSetup& s,
                         const ObservationSource& source, double* C, double* v_last) {
  // Observations in progress occupy slots; a slot whose observation ends
  // takes the next one while fewer than source.low are in progress. An
  // observation that is not started costs next to nothing to construct.
  ObservationSteps steps[MAXOBS];
  int number[MAXOBS];
  double x[MAXOBS], t[MAXOBS], last_v[MAXOBS];
  int waiting[MAXOBS];  // slots with a request open
  int free_slot[MAXOBS];
  int nw = 0;
  bool more = true;  // the source may have observations left
  // Starts observations in `slot` until one asks for values (true) or
  // the source has none left.
  auto start = [&](int slot) {
    while (more && source.take(source.context, number[slot], x[slot], t[slot])) {
      last_v[slot] = 0.0;
      steps[slot].start(w, s, x[slot], t[slot], kLimitAheadLockstep, &C[number[slot]]);
      if (steps[slot].next()) return true;
      v_last[number[slot]] = 0.0;
    }
    more = false;
    return false;
  };
  const int first = std::min(std::max(source.first, 1), MAXOBS);
  for (int slot = 0; slot < first; ++slot) {
    if (!start(slot)) break;
    waiting[nw++] = slot;
  }

  // The open requests go through cavg_tubes in groups of up to
  // kCavgTubesMax tubes, whichever observation they come from.
  double cv[kCavgTubesMax], cX[kCavgTubesMax], cT[kCavgTubesMax], cf[kCavgTubesMax];
  double* into[kCavgTubesMax];
  int nc = 0;
  auto flush = [&] {
    TubeFields last;
    cavg_tubes(w, p, nc, cv, cX, cT, cf, last);
    for (int c = 0; c < nc; ++c) *into[c] = cf[c];
    nc = 0;
  };
  while (nw > 0) {
    for (int a = 0; a < nw; ++a) {
      const int i = waiting[a];
      const ValueRequest& r = steps[i].request();
      for (int k = 0; k < r.n; ++k) {
        cv[nc] = r.v[k];
        cX[nc] = x[i];
        cT[nc] = t[i];
        into[nc] = &r.f[k];
        if (++nc == kCavgTubesMax) flush();
      }
      last_v[i] = r.v[r.n - 1];
    }
    if (nc > 0) flush();
    int still = 0;
    int ended = 0;
    for (int a = 0; a < nw; ++a) {
      const int i = waiting[a];
      if (steps[i].next()) {
        waiting[still++] = i;
      } else {
        v_last[number[i]] = last_v[i];
        free_slot[ended++] = i;
      }
    }
    // Ended slots take new observations while few are left in progress
    // (and always when none is: every observation of the source is taken).
    for (int e = 0; e < ended && more && still < std::max(source.low, 1); ++e) {
      if (start(free_slot[e])) waiting[still++] = free_slot[e];
    }
    nw = still;
  }
}

namespace {

// The observations x[i], t[i], i < m, numbered i.
struct ArraySource {
  int m;
  const double* x;
  const double* t;
  int next = 0;

  static bool take(void* context, int& number, double& x, double& t) {
    ArraySource& a = *static_cast<ArraySource*>(context);
    if (a.next >= a.m) return false;
    number = a.next++;
    x = a.x[number];
    t = a.t[number];
    return true;
  }
};

}  // namespace

void stochastic_lockstep(const ModelWork& w, const PulseGroup& p, const StochasticSetup& s,
                         int m, const double* x, const double* t, double* C,
                         double* v_last) {
  ArraySource a{m, x, t};
  stochastic_lockstep(w, p, s, ObservationSource{ArraySource::take, &a, m, 0}, C, v_last);
}

}  // namespace btcfit
