// Local refinement of a least-squares fit: from a starting set (the
// annealing search's best set), a bounded Levenberg-Marquardt descent to
// the nearest local minimum of SSQ = Σ (observed − calculated)².
//
// The minimiser is Ceres Solver's trust-region Levenberg-Marquardt with
// box constraints (steps are projected onto the bounds), repeated with the
// coefficients that a bound stops held on it until they no longer change. The derivatives
// are central differences with the step rule of the fit statistics,
// h_k = δ·max(|b_k|, f_k), taken one-sided (inwards) where a bound is
// closer than h_k, so that the model is never called outside the bounds.
// The columns of the Jacobian are evaluated on separate threads when
// asked; the model callable must then be safe to call concurrently.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "analysis/fit_statistics.hpp"

namespace btcfit::stats {

struct RefineOptions {
  double relative_step = 1e-5;  // δ of the difference steps
  std::vector<double> floors;   // step floors f_k; empty means all 0
  int threads = 1;              // threads for the Jacobian columns
  int max_iterations = 500;
  // Ceres' stopping rules: relative decrease of SSQ, relative step size
  // and the largest projected gradient component.
  double function_tolerance = 1e-15;
  double parameter_tolerance = 1e-14;
  double gradient_tolerance = 1e-16;
  // Called after each accepted or rejected step with the iteration count
  // so far and the SSQ of the current set; returning false ends the
  // descent at once (Refinement::stopped). May be empty.
  std::function<bool(int iteration, double ssq)> iteration_callback;
};

struct Refinement {
  std::vector<double> values;  // the refined set
  double ssq = 0.0;            // its SSQ
  double start_ssq = 0.0;      // SSQ of the starting set
  int iterations = 0;          // Levenberg-Marquardt iterations
  int evaluations = 0;         // model calls, the Jacobian's included
  bool converged = false;      // a stopping rule was met (not the limit)
  bool stopped = false;        // the iteration callback ended the descent
  std::string message;         // Ceres' reason for stopping
};

// Minimises SSQ of `model` against `observed` over the box
// lower <= b <= upper (infinite bounds are allowed) from `start`, which
// must lie in the box. Throws std::invalid_argument for sizes that do not
// match or a start outside the box.
Refinement refine(const Model& model, std::span<const double> observed,
                  std::span<const double> start, std::span<const double> lower,
                  std::span<const double> upper, const RefineOptions& options = {});

// True when the refinement lowered SSQ by more than `relative` of the
// starting SSQ: the starting set is not at a local minimum.
bool start_not_at_local_minimum(const Refinement& r, double relative = 1e-6);

}  // namespace btcfit::stats
