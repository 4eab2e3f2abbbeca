// Google Benchmark timings of the model routines and of one model call on
// 30-observation problems of each family.
#include <benchmark/benchmark.h>

#include <memory>

#include "problem/problem_record.hpp"
#include "models/equilibrium.hpp"
#include "models/exchange_function.hpp"
#include "models/exponential_erfc.hpp"
#include "models/model.hpp"
#include "models/nonequilibrium.hpp"
#include "models/observation_pool.hpp"
#include "models/stochastic.hpp"

namespace {

using namespace btcfit;

// A 30-observation problem: a breakthrough curve at 30 cm, times 0.5..15.
std::unique_ptr<ProblemRecord> problem(int mode, std::initializer_list<double> coefficients) {
  auto rec = std::make_unique<ProblemRecord>();
  rec->work.MODE = mode;
  rec->obs.NCOEF = mode >= 5 ? 7 : 6;
  rec->obs.NOB = 30;
  int k = 1;
  for (double c : coefficients) rec->coef(k++, 1) = c;
  rec->work.C0 = rec->C0DECK = 1.0;
  rec->pulses.NPULSE = 1;
  for (int i = 1; i <= 30; ++i) {
    rec->obs.XOBS[i] = 30.0;
    rec->obs.TOBS[i] = 0.5 * i;
  }
  rec->work.XMAX = 30.0;
  return rec;
}

std::unique_ptr<ProblemRecord> equilibrium() { return problem(1, {12, 20, 1.5, 2, 0.05, 0.01}); }
std::unique_ptr<ProblemRecord> nonequilibrium() { return problem(3, {25, 25, 3, 2, 0.5, 0.5}); }
std::unique_ptr<ProblemRecord> stream_tubes() {
  auto rec = problem(5, {4, 0.5, 1.4, 2, 0, 0, 0.3});
  return rec;
}
// Two solute loads, the second at t = 7.5 (observations after it see both).
std::unique_ptr<ProblemRecord> solute_loads() {
  auto rec = problem(7, {4, 0.5, 1.4, 1, 0, 0, 0.3});
  rec->pulses.NPULSE = 2;
  rec->pulses.TPULSE[1] = 0.0;
  rec->pulses.CPULSE[1] = 1.0;
  rec->pulses.TPULSE[2] = 7.5;
  rec->pulses.CPULSE[2] = 1.5;
  return rec;
}

void BM_EXF(benchmark::State& state) {
  double a = 0.3, b = 1.7;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(EXF(a, b));
  }
}
BENCHMARK(BM_EXF);

void BM_EXF_ContinuedFraction(benchmark::State& state) {
  double a = 30.0, b = 5.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(EXF(a, b));
  }
}
BENCHMARK(BM_EXF_ContinuedFraction);

void BM_MOD12(benchmark::State& state) {
  ModelWork w;
  w.MODE = 1;
  w.C0 = 1.0;
  w.VELO = 8.0;
  w.DISP = 13.3;
  w.TPUL = 1.33;
  w.PAR5 = 0.03;
  w.PAR6 = 0.006;
  double x = 30.0, t = 4.0;
  for (auto _ : state) {
    double y = 0.0;
    benchmark::DoNotOptimize(x);
    MOD12(w, y, x, t);
    benchmark::DoNotOptimize(y);
  }
}
BENCHMARK(BM_MOD12);

void BM_GOLD(benchmark::State& state) {
  // Series (a, b moderate) and asymptotic expansion (large) arguments.
  const double a = state.range(0) == 0 ? 2.5 : 30.0;
  const double b = state.range(0) == 0 ? 1.5 : 25.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GOLD(a, b));
  }
}
BENCHMARK(BM_GOLD)->Arg(0)->Arg(1);

void BM_CC0(benchmark::State& state) {
  auto rec = nonequilibrium();
  MODEL(*rec, rec->COEF[0], rec->CCALC);  // prepares the working fields
  ModelWork w = rec->work;
  w.XCUR = 1.0;
  w.TCUR = 2.0;
  double tau = 1.2;
  for (auto _ : state) {
    benchmark::DoNotOptimize(tau);
    benchmark::DoNotOptimize(CC0(w, tau));
  }
}
BENCHMARK(BM_CC0);

void BM_MOD34(benchmark::State& state) {
  auto rec = nonequilibrium();
  MODEL(*rec, rec->COEF[0], rec->CCALC);
  ModelWork w = rec->work;
  w.TPUL = 2.0;
  double x = 30.0, t = 8.0;
  for (auto _ : state) {
    double cp = 0.0;
    benchmark::DoNotOptimize(t);
    MOD34(w, cp, x, t);
    benchmark::DoNotOptimize(cp);
  }
}
BENCHMARK(BM_MOD34);

// The working fields of the stream-tube integrand for one observation
// (x = 30, t = 10) as a model call prepares them.
StochasticSetup tube_fields(ModelWork& w, ProblemRecord& rec) {
  w.RFAC = 1.4;
  w.TPUL = 2.0;
  const StochasticSetup s = begin_stochastic(w, rec.pulses, rec.COEF[0], 7);
  w.XCUR = 30.0;
  w.TCUR = 10.0;
  return s;
}

void BM_CAVG(benchmark::State& state) {
  auto rec = stream_tubes();
  ModelWork w = rec->work;
  tube_fields(w, *rec);
  double v = 4.2;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    benchmark::DoNotOptimize(CAVG(w, rec->pulses, v));
  }
}
BENCHMARK(BM_CAVG);

// CAVG for K velocities spread over the distribution, in one call (the
// difference between K = 1 and larger K is the cost of a call itself).
void BM_CAVG_many(benchmark::State& state) {
  const int K = static_cast<int>(state.range(0));
  auto rec = stream_tubes();
  ModelWork w = rec->work;
  tube_fields(w, *rec);
  double v[kCavgTubesMax], c[kCavgTubesMax];
  for (int k = 0; k < kCavgTubesMax; ++k) v[k] = 1.5 + 0.4 * k;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    CAVG_many(w, rec->pulses, K, v, c);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations() * K);
}
BENCHMARK(BM_CAVG_many)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(kCavgTubesMax);

void BM_LIMIT(benchmark::State& state) {
  auto rec = stream_tubes();
  ModelWork w = rec->work;
  const StochasticSetup s = tube_fields(w, *rec);
  for (auto _ : state) {
    double vlo = s.VMIN, vhi = 0.0;
    LIMIT(w, rec->pulses, vlo, vhi, s.VMAX, s.EPS);
    benchmark::DoNotOptimize(vhi);
  }
}
BENCHMARK(BM_LIMIT);

// One model call over 30 observations; argument 1 = threads.
template <auto Make>
void BM_MODEL(benchmark::State& state) {
  auto rec = Make();
  ObservationPool pool(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MODEL(*rec, rec->COEF[0], rec->CCALC, &pool);
    benchmark::DoNotOptimize(rec->CCALC);
  }
}
BENCHMARK(BM_MODEL<equilibrium>)->Name("BM_MODEL/equilibrium30")->Arg(1)->Arg(2);
BENCHMARK(BM_MODEL<nonequilibrium>)->Name("BM_MODEL/nonequilibrium30")->Arg(1)->Arg(2);
BENCHMARK(BM_MODEL<stream_tubes>)->Name("BM_MODEL/stochastic30")->Arg(1)->Arg(2);
BENCHMARK(BM_MODEL<solute_loads>)->Name("BM_MODEL/load30")->Arg(1)->Arg(2);

}  // namespace
