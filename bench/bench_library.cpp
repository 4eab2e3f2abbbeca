// The public API as a client calls it: one evaluation at the observations
// of a deck, a curve of many points, and a whole fit of the example deck.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"

namespace {

const btcfit::Problem& deck(const std::string& name) {
  static std::vector<std::pair<std::string, btcfit::Problem>> read;
  for (const auto& [n, p] : read) {
    if (n == name) return p;
  }
  read.emplace_back(name, btcfit::read_deck(std::string(BTCFIT_TEST_DATA) + "/golden/" + name +
                                            "/deck"));
  return read.back().second;
}

std::vector<double> initial(const btcfit::Problem& p) {
  std::vector<double> b;
  for (const auto& c : p.coefficients) b.push_back(c.initial);
  return b;
}

// One model call at a deck's observations.
void BM_evaluate_deck(benchmark::State& state, const char* name) {
  const btcfit::Problem& p = deck(name);
  const std::vector<double> b = initial(p);
  for (auto _ : state) {
    benchmark::DoNotOptimize(btcfit::evaluate(p, b, {btcfit::Numerics::legacy, 1}));
  }
}
BENCHMARK_CAPTURE(BM_evaluate_deck, equilibrium_multipulse, "equilibrium-multipulse");
BENCHMARK_CAPTURE(BM_evaluate_deck, nonequilibrium_flux, "nonequilibrium-flux");
BENCHMARK_CAPTURE(BM_evaluate_deck, stochastic_pulse, "stochastic-pulse");

// The example's curve at 10,000 points; argument: threads.
void BM_evaluate_curve(benchmark::State& state) {
  const btcfit::Problem& p = deck("example");
  const std::vector<double> b = initial(p);
  std::vector<double> x(10000, 30.0), t(10000);
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = 0.001 * double(i + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(btcfit::evaluate(p, b, x, t, {btcfit::Numerics::legacy, int(state.range(0))}));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(t.size()));
}
BENCHMARK(BM_evaluate_curve)->Arg(1)->Arg(2);

// The whole fit of the example deck on one thread.
void BM_fit_example(benchmark::State& state) {
  const btcfit::Problem& p = deck("example");
  btcfit::FitOptions options;
  options.threads = 1;
  for (auto _ : state) benchmark::DoNotOptimize(btcfit::fit(p, options));
}
BENCHMARK(BM_fit_example)->Unit(benchmark::kMillisecond);

}  // namespace
