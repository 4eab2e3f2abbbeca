// Problems of 10,000 observations, beyond what a deck holds: one evaluation
// at the observations and a fit stopped after its first outer iteration
// (501 sums of squares), with either numerics. Counters: the process's
// peak resident set (getrusage) after the run, and the problem's own data.
// The peak is that of the whole process: run one benchmark at a time
// (--benchmark_filter) to read it for that benchmark alone.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"

namespace {

using namespace btcfit;

double peak_rss_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

// A sensor curve of n observations at 30 cm every 0.001 days, from the
// equilibrium flux model (code 2) or the two-site flux model (code 4),
// V and D varied.
Problem sensor_curve(Model model, int n) {
  Problem p;
  p.model = model;
  std::map<std::string, Coefficient> given = {{"V", {"V", 25.0, 1.0, 100.0, true}},
                                              {"D", {"D", 30.0, 1.0, 500.0, true}},
                                              {"R", {"R", 1.5, 1.0, 10.0, false}},
                                              {"T0", {"T0", 2.0, 0.0, 5.0, false}}};
  if (model == Model::nonequilibrium_flux) {
    given["BETA"] = {"BETA", 0.6, 0.05, 1.0, false};
    given["OMEGA"] = {"OMEGA", 0.5, 0.01, 5.0, false};
  }
  p.coefficients = coefficients_by_name(model, given);
  for (int i = 0; i < n; ++i) p.observations.push_back({0.0, 30.0, 0.001 * (i + 1)});
  std::vector<double> truth;
  for (const Coefficient& c : p.coefficients) truth.push_back(c.initial);
  truth[0] = 24.0;
  const std::vector<double> c = evaluate(p, truth, {Numerics::legacy, 2});
  for (int i = 0; i < n; ++i) p.observations[i].concentration = std::round(c[i] * 1e3) / 1e3;
  return p;
}

std::vector<double> initial(const Problem& p) {
  std::vector<double> b;
  for (const Coefficient& c : p.coefficients) b.push_back(c.initial);
  return b;
}

void set_counters(benchmark::State& state, const Problem& p) {
  state.counters["peak_rss_MiB"] = peak_rss_mib();
  state.counters["observations"] = double(p.observations.size());
  state.counters["problem_KiB"] =
      double(p.observations.size() * sizeof(Observation)) / 1024.0;
}

// Arguments: model code, numerics (0 legacy, 1 accurate), threads.
void BM_large_evaluate(benchmark::State& state) {
  const Problem p = sensor_curve(static_cast<Model>(state.range(0)), 10000);
  const EvaluateOptions options{static_cast<Numerics>(state.range(1)), int(state.range(2))};
  const std::vector<double> b = initial(p);
  for (auto _ : state) benchmark::DoNotOptimize(evaluate(p, b, options));
  state.SetItemsProcessed(state.iterations() * std::int64_t(p.observations.size()));
  set_counters(state, p);
}
BENCHMARK(BM_large_evaluate)
    ->ArgNames({"code", "accurate", "threads"})
    ->ArgsProduct({{2, 4}, {0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

// The annealing fit of 10,000 observations, stopped after its first outer
// iteration: the initial set and 500 trials, each a sum over every
// observation (the equilibrium model only: a two-site iteration at 10,000
// points takes minutes). Arguments: model code, numerics, threads.
void BM_large_fit_iteration(benchmark::State& state) {
  const Problem p = sensor_curve(static_cast<Model>(state.range(0)), 10000);
  for (auto _ : state) {
    std::atomic<bool> cancel{false};
    FitOptions options;
    options.numerics = static_cast<Numerics>(state.range(1));
    options.threads = int(state.range(2));
    options.cancel = &cancel;
    options.return_when_cancelled = true;
    options.progress = [&](const ProgressLine& line) {
      if (line.iteration == 1) cancel = true;
    };
    benchmark::DoNotOptimize(fit(p, options));
  }
  state.counters["sums_of_squares"] = 501;
  set_counters(state, p);
}
BENCHMARK(BM_large_fit_iteration)
    ->ArgNames({"code", "accurate", "threads"})
    ->ArgsProduct({{2}, {0, 1}, {1, 2}})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

}  // namespace
