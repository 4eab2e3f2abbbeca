#include "analysis/refine.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <stdexcept>

#include <ceres/ceres.h>

#include "analysis/side_by_side.hpp"

namespace btcfit::stats {
namespace {

// Residuals r_i = calculated_i − observed_i (Ceres minimises ½Σr²) and
// their Jacobian by central differences, for one parameter block holding
// all coefficients.
class ModelCost final : public ceres::CostFunction {
 public:
  ModelCost(const Model& model, std::span<const double> observed,
            std::span<const double> lower, std::span<const double> upper,
            const RefineOptions& options, std::atomic<int>& evaluations)
      : model_(model),
        observed_(observed.begin(), observed.end()),
        lower_(lower.begin(), lower.end()),
        upper_(upper.begin(), upper.end()),
        options_(options),
        evaluations_(evaluations) {
    set_num_residuals(int(observed_.size()));
    mutable_parameter_block_sizes()->push_back(int(lower_.size()));
  }

  bool Evaluate(double const* const* parameters, double* residuals,
                double** jacobians) const override {
    const int n = int(observed_.size());
    const int p = int(lower_.size());
    const std::vector<double> b(parameters[0], parameters[0] + p);
    std::vector<double> calc(n);
    if (!call(b, calc)) return false;
    for (int i = 0; i < n; ++i) residuals[i] = calc[i] - observed_[i];
    if (jacobians == nullptr || jacobians[0] == nullptr) return true;

    // Column k of the row-major n × p Jacobian.
    double* jac = jacobians[0];
    std::atomic<bool> ok{true};
    const auto column = [&](int k) {
      const double floor = options_.floors.empty() ? 0.0 : options_.floors[k];
      const double h = jacobian_step(b[k], floor, options_.relative_step);
      double hi = b[k] + h, lo = b[k] - h;
      const bool centre_hi = hi <= upper_[k], centre_lo = lo >= lower_[k];
      std::vector<double> at(b), up(n), down(n);
      if (!centre_hi) hi = b[k];  // one-sided, inwards
      if (!centre_lo) lo = b[k];
      if (hi == lo) {  // a box narrower than the step: no derivative
        for (int i = 0; i < n; ++i) jac[i * p + k] = 0.0;
        return;
      }
      if (hi == b[k]) {
        up = calc;
      } else {
        at[k] = hi;
        if (!call(at, up)) ok = false;
      }
      if (lo == b[k]) {
        down = calc;
      } else {
        at[k] = lo;
        if (!call(at, down)) ok = false;
      }
      const double width = hi - lo;
      for (int i = 0; i < n; ++i) jac[i * p + k] = (up[i] - down[i]) / width;
    };
    side_by_side(p, options_.threads, column);
    return ok;
  }

 private:
  // One model call; false when the model throws or gives a value that is
  // not a finite number (Ceres then shortens the step).
  bool call(std::span<const double> b, std::span<double> out) const {
    ++evaluations_;
    try {
      model_(b, out);
    } catch (const std::exception&) {
      return false;
    }
    return std::all_of(out.begin(), out.end(), [](double v) { return std::isfinite(v); });
  }

  const Model& model_;
  std::vector<double> observed_, lower_, upper_;
  const RefineOptions& options_;
  std::atomic<int>& evaluations_;
};

// Hands each iteration of the descent to the caller's callback; the SSQ of
// Ceres is half the sum of squares.
class ForwardIterations final : public ceres::IterationCallback {
 public:
  ForwardIterations(const RefineOptions& options, int done, bool& stopped)
      : options_(options), done_(done), stopped_(stopped) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
    if (options_.iteration_callback(done_ + summary.iteration, 2.0 * summary.cost)) {
      return ceres::SOLVER_CONTINUE;
    }
    stopped_ = true;
    return ceres::SOLVER_ABORT;
  }

 private:
  const RefineOptions& options_;
  int done_;
  bool& stopped_;
};

double sum_of_squares(const Model& model, std::span<const double> observed,
                      std::span<const double> b) {
  std::vector<double> calc(observed.size());
  model(b, calc);
  double ssq = 0.0;
  for (std::size_t i = 0; i < observed.size(); ++i) {
    const double r = observed[i] - calc[i];
    ssq += r * r;
  }
  return ssq;
}

}  // namespace

Refinement refine(const Model& model, std::span<const double> observed,
                  std::span<const double> start, std::span<const double> lower,
                  std::span<const double> upper, const RefineOptions& options) {
  const std::size_t p = start.size();
  if (lower.size() != p || upper.size() != p ||
      (!options.floors.empty() && options.floors.size() != p)) {
    throw std::invalid_argument("refine: one bound and floor per coefficient");
  }
  for (std::size_t k = 0; k < p; ++k) {
    if (!(start[k] >= lower[k] && start[k] <= upper[k])) {
      throw std::invalid_argument("refine: the starting set lies outside the bounds");
    }
  }
  Refinement r;
  r.values.assign(start.begin(), start.end());
  r.start_ssq = sum_of_squares(model, observed, start);
  r.ssq = r.start_ssq;
  if (p == 0 || observed.empty()) {
    r.converged = true;
    r.message = "nothing to refine";
    return r;
  }

  std::atomic<int> evaluations{0};
  const ModelCost cost(model, observed, lower, upper, options, evaluations);
  const int n = int(observed.size());

  // Ceres projects each step onto the box, which can stall next to a bound
  // that the optimum lies on: the free coefficients stop short of their
  // best values. So the descent is repeated with the coefficients that lie
  // on a bound and are pushed against it (SSQ falls outwards) held there,
  // until that set no longer changes: the refined set then meets the
  // conditions of a minimum on the box.
  std::vector<int> held;
  r.iterations = 0;
  for (int round = 0; round < 20 && held.size() < p; ++round) {
    ceres::Problem::Options problem_options;
    problem_options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problem_options);
    problem.AddResidualBlock(const_cast<ModelCost*>(&cost), nullptr, r.values.data());
    for (std::size_t k = 0; k < p; ++k) {
      if (std::isfinite(lower[k])) problem.SetParameterLowerBound(r.values.data(), int(k), lower[k]);
      if (std::isfinite(upper[k])) problem.SetParameterUpperBound(r.values.data(), int(k), upper[k]);
    }
    if (!held.empty()) {
      problem.SetManifold(r.values.data(), new ceres::SubsetManifold(int(p), held));
    }

    ceres::Solver::Options solver;
    solver.minimizer_type = ceres::TRUST_REGION;
    solver.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
    solver.linear_solver_type = ceres::DENSE_QR;
    solver.max_num_iterations = std::max(1, options.max_iterations - r.iterations);
    solver.function_tolerance = options.function_tolerance;
    solver.parameter_tolerance = options.parameter_tolerance;
    solver.gradient_tolerance = options.gradient_tolerance;
    solver.num_threads = 1;
    solver.logging_type = ceres::SILENT;
    solver.minimizer_progress_to_stdout = false;
    ForwardIterations forward(options, r.iterations, r.stopped);
    if (options.iteration_callback) solver.callbacks.push_back(&forward);
    ceres::Solver::Summary summary;
    ceres::Solve(solver, &problem, &summary);
    r.iterations += std::max(0, int(summary.iterations.size()) - 1);
    r.converged = summary.termination_type == ceres::CONVERGENCE;
    r.message = summary.message;
    if (r.stopped || r.iterations >= options.max_iterations) break;

    // The gradient of SSQ/2 at the result: which coefficients on a bound
    // are pushed against it.
    std::vector<double> residuals(n), jac(std::size_t(n) * p);
    const double* parameters = r.values.data();
    double* jacobian = jac.data();
    if (!cost.Evaluate(&parameters, residuals.data(), &jacobian)) break;
    std::vector<int> pushed;
    for (std::size_t k = 0; k < p; ++k) {
      double g = 0.0;
      for (int i = 0; i < n; ++i) g += residuals[i] * jac[std::size_t(i) * p + k];
      if ((r.values[k] <= lower[k] && g > 0.0) || (r.values[k] >= upper[k] && g < 0.0)) {
        pushed.push_back(int(k));
      }
    }
    if (pushed == held) break;
    held = std::move(pushed);
  }

  r.evaluations = evaluations;
  // Ceres keeps the best set it accepted; its SSQ is recomputed here so
  // that it is exactly the model's for those values.
  r.ssq = sum_of_squares(model, observed, r.values);
  if (!(r.ssq <= r.start_ssq)) {
    r.values.assign(start.begin(), start.end());
    r.ssq = r.start_ssq;
  }
  return r;
}

bool start_not_at_local_minimum(const Refinement& r, double relative) {
  return r.start_ssq - r.ssq > relative * r.start_ssq;
}

}  // namespace btcfit::stats
