#include "models/model.hpp"

#include <algorithm>
#include <atomic>

#include "models/call_fields.hpp"
#include "models/equilibrium.hpp"
#include "models/nonequilibrium.hpp"
#include "models/observation_pool.hpp"
#include "models/stochastic.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

// Handing observations to other threads costs less than one observation of
// an integrating model (codes 3 to 8), so two observations already pay.
// Equilibrium calls stay on the calling thread: all their pulse solutions
// are evaluated in one batch, which is as quick as spreading single
// solutions over threads (docs/performance.md).
constexpr int kParallelMinimum = 2;

// Walks the pulses that have started by time t, setting the working fields
// of each (C0, TPUL; CI only for the first) and calling pulse(tau) with the
// time since its start; CI is put back at the end. The initial
// concentration enters only through the first pulse; a later pulse of
// concentration 0 adds nothing and is skipped.
template <class Pulse>
void walk_pulses(ModelWork& w, const PulseGroup& p, double t, Pulse pulse) {
  for (int i = 1; i <= p.NPULSE; ++i) {
    if (p.NPULSE != 1) {
      w.C0 = p.CPULSE[i];
      if (i == 2) w.CI = 0.0;
      if (w.C0 == 0.0 && i > 1) continue;
      w.TPUL = p.TPULSE[i + 1] - p.TPULSE[i];
    }
    const double tau = t - p.TPULSE[i];
    // Later pulses start later still.
    if (tau < 0.0) break;
    pulse(tau);
  }
  w.CI = p.CISAVE;
}

// Concentration of observation j as the sum of the responses to the pulses
// that have started by its time.
template <class Solution>
double superpose_pulses(ModelWork& w, const PulseGroup& p, double x, double t,
                        Solution solve) {
  double c = 0.0;
  walk_pulses(w, p, t, [&](double tau) {
    double y = 0.0;
    solve(w, y, x, tau);
    c = c + y;
  });
  return c;
}

struct ObservationContext {
  const ProblemRecord* rec;
};

// All observations of an equilibrium call at once: the pulse solutions of
// every observation are set up as superpose_pulses sets them up (with the
// same working fields at each step), evaluated together (plain_solutions,
// or MOD12_many with decay), and summed per observation in pulse order. The
// working fields end as a serial evaluation of the observations leaves them.
void equilibrium_observations(ProblemRecord& rec, std::array<double, MAXOBS + 1>& CCALC) {
  ModelWork& w = rec.work;
  const PulseGroup& p = rec.pulses;
  const ObservationGroup& obs = rec.obs;
  if (w.PAR5 == 0.0) {
    // Without decay the solutions go to plain_solutions as arrays, in
    // groups of kPlainMax in the order of the walk; each result is added to
    // its observation's sum as its group is done, so every sum still runs
    // in pulse order.
    double v[kPlainMax], D[kPlainMax], X[kPlainMax], T[kPlainMax], TPUL[kPlainMax];
    double CI[kPlainMax], C0[kPlainMax], gamma[kPlainMax], Y[kPlainMax];
    bool flux[kPlainMax];
    int owner[kPlainMax];
    int m = 0;
    const auto solve = [&] {
      plain_solutions(m, {v, D, X, T, TPUL, CI, C0, gamma, flux, Y});
      for (int i = 0; i < m; ++i) CCALC[owner[i]] = CCALC[owner[i]] + Y[i];
      m = 0;
    };
    for (int j = 1; j <= obs.NOB; ++j) {
      CCALC[j] = 0.0;
      const double x = obs.XOBS[j];
      walk_pulses(w, p, obs.TOBS[j], [&](double tau) {
        v[m] = w.VELO;
        D[m] = w.DISP;
        X[m] = x;
        T[m] = tau;
        TPUL[m] = w.TPUL;
        CI[m] = w.CI;
        C0[m] = w.C0;
        gamma[m] = w.PAR6;
        flux[m] = model_traits(w.MODE).flux;
        Y[m] = 0.0;
        owner[m] = j;
        if (++m == kPlainMax) solve();
      });
    }
    if (m > 0) solve();
    return;
  }
  constexpr int kMaxSolutions = MAXOBS * MAXPULSE;
  PulseSolution q[kMaxSolutions];
  int first[MAXOBS + 2];  // solutions of observation j: first[j] .. first[j+1]-1
  int m = 0;
  for (int j = 1; j <= obs.NOB; ++j) {
    first[j] = m;
    const double x = obs.XOBS[j];
    walk_pulses(w, p, obs.TOBS[j], [&](double tau) { q[m++] = pulse_solution(w, 0.0, x, tau); });
  }
  first[obs.NOB + 1] = m;
  MOD12_many(m, q);
  for (int j = 1; j <= obs.NOB; ++j) {
    double c = 0.0;
    for (int k = first[j]; k < first[j + 1]; ++k) c = c + q[k].Y;
    CCALC[j] = c;
  }
}

double nonequilibrium_observation(const void* context, ModelWork& w, int j) {
  const ProblemRecord& rec = *static_cast<const ObservationContext*>(context)->rec;
  return superpose_pulses(
      w, rec.pulses, rec.obs.XOBS[j], rec.obs.TOBS[j],
      [](ModelWork& mw, double& y, double x, double t) { MOD34(mw, y, x, t); });
}

// The stream-tube observations go in groups, each evaluated in lockstep
// (its tube evaluations batched together): observations g, g + G,
// g + 2G, ... form group g of G, which spreads early and late times, and
// with them the cost, evenly over the groups. The last quarter of the
// observations is shared: a group whose observations in progress drop
// below half of those it started with takes the next shared one, so that
// the groups end closer together (the cost of an observation changes from
// one model call to the next, so a fixed division leaves one thread
// waiting for the other; docs/performance.md).
constexpr int kSharedPercent = 25;
constexpr int kSharedLowPercent = 50;

struct StreamTubeContext {
  const ProblemRecord* rec;
  const StochasticSetup* setup;
  int groups;
  std::array<double, MAXOBS + 1>* CCALC;
  double* v_last;  // by observation number
  int shared_from;  // observations shared_from..NOB are shared
  std::atomic<int>* shared_next;
};

// The observations of group g, then shared ones.
struct GroupSource {
  const StreamTubeContext* c;
  int next_own;

  static bool take(void* context, int& number, double& x, double& t) {
    GroupSource& gs = *static_cast<GroupSource*>(context);
    const ObservationGroup& obs = gs.c->rec->obs;
    int j = gs.next_own;
    if (j < gs.c->shared_from) {
      gs.next_own += gs.c->groups;
    } else {
      j = gs.c->shared_next->fetch_add(1, std::memory_order_relaxed);
      if (j > obs.NOB) return false;
    }
    number = j;
    x = obs.XOBS[j];
    t = obs.TOBS[j];
    return true;
  }
};

void stream_tube_group(const StreamTubeContext& c, const ModelWork& w, int g) {
  const int own = (c.shared_from - g + c.groups - 1) / c.groups;  // g, g + G, ... below shared_from
  GroupSource gs{&c, g};
  const int low = std::max(1, own * kSharedLowPercent / 100);
  stochastic_lockstep(w, c.rec->pulses, *c.setup,
                      ObservationSource{GroupSource::take, &gs, own, low}, c.CCALC->data(),
                      c.v_last);
}

double stream_tube_task(const void* context, ModelWork& w, int g) {
  stream_tube_group(*static_cast<const StreamTubeContext*>(context), w, g);
  return 0.0;
}

void stream_tube_observations(ProblemRecord& rec, const StochasticSetup& s,
                              std::array<double, MAXOBS + 1>& CCALC, ObservationPool* pool) {
  const int nob = rec.obs.NOB;
  double v_last[MAXOBS + 1];
  const bool parallel =
      pool != nullptr && pool->participants() > 1 && nob >= kParallelMinimum;
  const int groups = parallel ? std::min(pool->participants(), nob) : 1;
  const int shared = (groups > 1) ? nob * kSharedPercent / 100 : 0;
  std::atomic<int> shared_next{nob - shared + 1};
  StreamTubeContext context{&rec, &s, groups, &CCALC, v_last, nob - shared + 1, &shared_next};
  if (groups > 1) {
    std::array<double, MAXOBS + 1> unused;
    pool->run(groups, rec.work, stream_tube_task, &context, unused);
  } else {
    stream_tube_group(context, rec.work, 1);
  }
  // The working fields as the serial evaluation of the last observation
  // leaves them: its distance and time, and the fields of its last CAVG
  // call (one more evaluation of that tube).
  ModelWork& w = rec.work;
  if (nob >= 1) {
    w.XCUR = rec.obs.XOBS[nob];
    w.TCUR = rec.obs.TOBS[nob];
    if (v_last[nob] != 0.0) {
      double c;
      CAVG_many(w, rec.pulses, 1, &v_last[nob], &c);
    }
  }
}

// Evaluates observations 1..NOB with `task`, side by side when the run has
// worker threads and the model is costly enough for that to pay.
void evaluate_observations(ProblemRecord& rec, ObservationPool* pool, ObservationPool::Task task,
                           const ObservationContext& context,
                           std::array<double, MAXOBS + 1>& CCALC,
                           int minimum = kParallelMinimum) {
  const int nob = rec.obs.NOB;
  if (pool != nullptr && pool->participants() > 1 && nob >= minimum) {
    pool->run(nob, rec.work, task, &context, CCALC);
    return;
  }
  for (int j = 1; j <= nob; ++j) CCALC[j] = task(&context, rec.work, j);
}

}  // namespace

void MODEL(ProblemRecord& rec, const CoefColumn& B,
           std::array<double, MAXOBS + 1>& CCALC, ObservationPool* pool) {
  ModelWork& w = rec.work;
  ObservationGroup& obs = rec.obs;
  PulseGroup& p = rec.pulses;
  const int ncoef = obs.NCOEF;
  const int nob = obs.NOB;
  auto b = [&](int k) { return B[ncoef + k - 1]; };

  p.CISAVE = w.CI;
  w.RFAC = b(3);
  // Reduced times become real times for the evaluation.
  const double FACT = reduced_time_factor(obs, w, B);
  if (obs.IRED == 2) {
    for (int j = 1; j <= nob; ++j) obs.TOBS[j] = FACT * obs.TOBS[j];
  }
  const ModelTraits& model = model_traits(w.MODE);
  if (model.pulse_duration()) w.TPUL = FACT * b(4);

  if (model.stream_tube()) {
    const StochasticSetup s = begin_stochastic(w, p, B, ncoef);
    stream_tube_observations(rec, s, CCALC, pool);
  } else if (model.family == ModelFamily::nonequilibrium) {
    prepare_nonequilibrium(w, B, ncoef);
    evaluate_observations(rec, pool, nonequilibrium_observation, {&rec},
                          CCALC);
  } else {
    const double R = b(3);
    w.VELO = b(1) / R;
    w.DISP = b(2) / R;
    w.PAR5 = b(5) / R;
    w.PAR6 = b(6) / R;
    equilibrium_observations(rec, CCALC);
  }

  if (obs.IRED != 0) {
    // Reduced concentrations refer to the input concentration of the deck,
    // also when several pulses of other concentrations were superposed.
    for (int j = 1; j <= nob; ++j) {
      obs.TOBS[j] = obs.TOBS[j] / FACT;
      CCALC[j] = (CCALC[j] - w.CI) / (rec.C0DECK - w.CI);
    }
  }
}

}  // namespace btcfit
