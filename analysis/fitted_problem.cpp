#include "analysis/fitted_problem.hpp"

#include <cstdio>
#include <memory>

#include "api/model_values.hpp"
#include "api/problem_conversion.hpp"
#include "problem/model_traits.hpp"

namespace btcfit::stats {
namespace {

// Step floor of coefficient k: a hundredth of its search interval.
constexpr double kFloorFraction = 0.01;

}  // namespace

FittedProblem fitted_problem(const Problem& problem, const FitResult& result,
                             const std::string& label, int threads) {
  FittedProblem fit;
  fit.label = label;
  fit.problem = check_problem(problem);
  fit.result = result;
  fit.threads = threads > 0 ? threads : usable_threads();
  fit.numerics = result.numerics;
  for (std::size_t k = 1; k <= fit.problem.coefficients.size(); ++k) {
    const bool varied = result.varied.size() == fit.problem.coefficients.size()
                            ? bool(result.varied[k - 1])
                            : fit.problem.coefficients[k - 1].varied;
    if (varied) fit.varied.push_back(int(k));
  }
  return fit;
}

std::string coefficient_name(const Problem& problem, int k) {
  const std::string& name = problem.coefficients[k - 1].name;
  const auto first = name.find_first_not_of(' ');
  if (first == std::string::npos) {
    // Built by appending: "B" + std::to_string(k) draws a false -Wrestrict
    // warning from g++ 12.
    std::string fallback(1, 'B');
    fallback += std::to_string(k);
    return fallback;
  }
  const auto last = name.find_last_not_of(' ');
  return name.substr(first, last - first + 1);
}

std::string model_description(const Problem& problem) {
  const int mode = static_cast<int>(problem.model);
  const ModelTraits& traits = model_traits(mode);
  std::string family = "unknown family";
  if (valid_model_code(mode)) {
    switch (traits.family) {
      case ModelFamily::equilibrium: family = "linear equilibrium adsorption"; break;
      case ModelFamily::nonequilibrium: family = "two-site/two-region nonequilibrium"; break;
      case ModelFamily::stream_tube_pulse: family = "stochastic stream tubes, pulse input"; break;
      case ModelFamily::stream_tube_load: family = "stochastic stream tubes, solute load"; break;
    }
  }
  const std::string conc = traits.flux ? "flux" : "resident";
  std::string text = "model " + std::to_string(mode) + ": " + family + ", " +
                     conc + " concentrations";
  if (problem.data_form == DataForm::reduced_concentration) {
    text += " (data: reduced concentrations)";
  }
  if (problem.data_form == DataForm::reduced_concentration_and_time) {
    text += " (data: reduced concentrations against reduced time)";
  }
  return text;
}

Model varied_model(const FittedProblem& fit) {
  // The problem is checked and turned into the engine's record once; each
  // call then evaluates its set on that record exactly as evaluate() does
  // (the same record, points and numerics), without repeating the checks
  // and the set-up. The record is only read, so calls may run side by side.
  const Problem checked = check_problem(fit.problem, fit.numerics);
  const std::shared_ptr<const ProblemRecord> base(record_of(checked).release());
  std::vector<double> distances, times;
  for (const Observation& o : checked.observations) {
    distances.push_back(o.distance);
    times.push_back(o.time);
  }
  // The coefficient values are checked as evaluate() checks them: not for
  // a deck's problem on the console program's numerics.
  const bool check_values = !(fit.problem.from_deck && fit.numerics == Numerics::legacy);
  return [base, distances = std::move(distances), times = std::move(times), check_values,
          model = checked.model, fitted = fit.result.coefficients, varied = fit.varied,
          numerics = fit.numerics](std::span<const double> b, std::span<double> out) {
    std::vector<double> set = fitted;
    for (std::size_t j = 0; j < varied.size(); ++j) set[varied[j] - 1] = b[j];
    if (check_values) require_coefficient_values(model, set);
    const int ncoef = base->obs.NCOEF;
    CoefColumn column{};
    for (int k = 1; k <= ncoef; ++k) column[std::size_t(ncoef + k - 1)] = set[std::size_t(k - 1)];
    model_values(*base, column, numerics, distances, times, out, nullptr);
  };
}

FitProblem fit_problem(const FittedProblem& fit) {
  FitProblem problem;
  for (int k : fit.varied) {
    const Coefficient& c = fit.problem.coefficients[k - 1];
    problem.names.push_back(coefficient_name(fit.problem, k));
    problem.values.push_back(fit.result.coefficients[k - 1]);
    problem.floors.push_back(kFloorFraction * (c.upper - c.lower));
  }
  for (const Observation& o : fit.problem.observations) problem.observed.push_back(o.concentration);
  return problem;
}

std::string final_progress_line(const FittedProblem& fit) {
  return progress_text(
      ProgressLine{fit.result.iterations, fit.result.ssq, fit.result.coefficients});
}

}  // namespace btcfit::stats
