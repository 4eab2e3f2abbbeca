// Accurate against legacy model values: time per observation point for
// each model code on a 30-observation breakthrough curve (distance 30,
// times 0.5..15), one thread. items_per_second counts points.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "models/accurate.hpp"
#include "problem/model_traits.hpp"
#include "models/model.hpp"
#include "problem/problem_record.hpp"

namespace {

using namespace btcfit;

constexpr int kPoints = 30;

// Coefficients by family, as in bench_models.cpp: equilibrium with decay
// and production, two-site, stream tubes, solute loads.
std::unique_ptr<ProblemRecord> problem(int code) {
  auto rec = std::make_unique<ProblemRecord>();
  rec->work.MODE = code;
  rec->obs.NCOEF = model_traits(code).coefficient_count;
  rec->obs.NOB = kPoints;
  std::vector<double> b;
  if (code <= 2) {
    b = {12, 20, 1.5, 2, 0.05, 0.01};
  } else if (code <= 4) {
    b = {25, 25, 3, 2, 0.5, 0.5};
  } else if (code <= 6) {
    b = {4, 0.5, 1.4, 2, 0, 0, 0.3};
  } else {
    b = {4, 0.5, 1.4, 1, 0, 0, 0.3};
  }
  int k = 1;
  for (double c : b) rec->coef(k++, 1) = c;
  rec->work.C0 = rec->C0DECK = 1.0;
  rec->pulses.NPULSE = 1;
  for (int i = 1; i <= kPoints; ++i) {
    rec->obs.XOBS[i] = 30.0;
    rec->obs.TOBS[i] = 0.5 * i;
  }
  rec->work.XMAX = 30.0;
  return rec;
}

void BM_Legacy(benchmark::State& state) {
  const auto rec = problem(static_cast<int>(state.range(0)));
  const CoefColumn B = rec->COEF[0];
  std::array<double, MAXOBS + 1> c{};
  for (auto _ : state) {
    MODEL(*rec, B, c);
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_Legacy)->DenseRange(1, 8);

void BM_Accurate(benchmark::State& state) {
  const auto rec = problem(static_cast<int>(state.range(0)));
  const CoefColumn B = rec->COEF[0];
  const std::vector<double> x(rec->obs.XOBS.begin() + 1, rec->obs.XOBS.begin() + 1 + kPoints);
  const std::vector<double> t(rec->obs.TOBS.begin() + 1, rec->obs.TOBS.begin() + 1 + kPoints);
  std::vector<double> c(kPoints);
  for (auto _ : state) {
    accurate_model(*rec, B, x, t, c);
    benchmark::DoNotOptimize(c.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_Accurate)->DenseRange(1, 8);

// 10,000 points (times 0.0015..15 at distance 30): the time of one call;
// the memory is that of the three arrays of the caller, 240 kB.
void BM_Accurate10000(benchmark::State& state) {
  const auto rec = problem(static_cast<int>(state.range(0)));
  const CoefColumn B = rec->COEF[0];
  constexpr int n = 10000;
  std::vector<double> x(n, 30.0), t(n), c(n);
  for (int i = 0; i < n; ++i) t[i] = 0.0015 * (i + 1);
  for (auto _ : state) {
    accurate_model(*rec, B, x, t, c);
    benchmark::DoNotOptimize(c.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Accurate10000)->DenseRange(1, 8)->Unit(benchmark::kMillisecond);

}  // namespace
