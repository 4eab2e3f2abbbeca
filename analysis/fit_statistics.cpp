#include "analysis/fit_statistics.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include <boost/math/distributions/students_t.hpp>

namespace btcfit::stats {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool all_finite(std::span<const double> v) {
  return std::all_of(v.begin(), v.end(),
                     [](double x) { return std::isfinite(x); });
}

// Squared Pearson correlation of observed and calculated values: the R² of
// the regression of the observed on the calculated concentrations. NaN
// when either has no spread.
double squared_correlation(std::span<const double> x, std::span<const double> y) {
  const std::size_t n = x.size();
  if (n < 2) return kNaN;
  const double mx = std::accumulate(x.begin(), x.end(), 0.0) / double(n);
  const double my = std::accumulate(y.begin(), y.end(), 0.0) / double(n);
  double sxx = 0.0, syy = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  if (!(sxx > 0.0) || !(syy > 0.0)) return kNaN;
  return (sxy / sxx) * (sxy / syy);
}

std::string join_names(const std::vector<std::string>& names,
                       const std::vector<int>& which) {
  std::string text;
  for (std::size_t i = 0; i < which.size(); ++i) {
    if (i > 0) text += (i + 1 == which.size()) ? " and " : ", ";
    text += names[which[i]];
  }
  return text;
}

}  // namespace

double jacobian_step(double value, double floor, double relative_step) {
  const double scale = std::max(std::fabs(value), std::fabs(floor));
  return relative_step * (scale > 0.0 ? scale : 1.0);
}

Eigen::MatrixXd central_jacobian(const Model& model,
                                 std::span<const double> values,
                                 std::span<const double> steps, int n) {
  const int p = int(values.size());
  Eigen::MatrixXd jac(n, p);
  std::vector<double> b(values.begin(), values.end());
  std::vector<double> up(n), down(n);
  for (int k = 0; k < p; ++k) {
    const double plus = values[k] + steps[k];
    const double minus = values[k] - steps[k];
    b[k] = plus;
    model(b, up);
    b[k] = minus;
    model(b, down);
    b[k] = values[k];
    const double width = plus - minus;
    for (int i = 0; i < n; ++i) jac(i, k) = (up[i] - down[i]) / width;
  }
  return jac;
}

double student_t_quantile(double confidence, int dof) {
  if (dof < 1) return kNaN;
  const boost::math::students_t dist(static_cast<double>(dof));
  return boost::math::quantile(
      boost::math::complement(dist, (1.0 - confidence) / 2.0));
}

FitStatistics compute_fit_statistics(const Model& model,
                                     const FitProblem& problem,
                                     const StatisticsOptions& options) {
  const int n = int(problem.observed.size());
  const int p = int(problem.values.size());
  if (problem.names.size() != problem.values.size() ||
      (!problem.floors.empty() && problem.floors.size() != problem.values.size())) {
    throw std::invalid_argument("fit problem: one name and floor per coefficient");
  }

  FitStatistics st;
  st.n = n;
  st.p = p;
  st.dof = n - p;

  // Residuals and fit measures at the fitted set.
  st.calculated.assign(n, 0.0);
  if (n > 0) model(problem.values, st.calculated);
  st.ssq = 0.0;
  for (int i = 0; i < n; ++i) {
    const double r = problem.observed[i] - st.calculated[i];
    st.ssq += r * r;
  }
  st.s2 = st.dof > 0 ? st.ssq / st.dof : kNaN;
  st.rmse = n > 0 ? std::sqrt(st.ssq / n) : kNaN;
  st.r2 = squared_correlation(problem.observed, st.calculated);
  st.t_quantile = student_t_quantile(options.confidence, st.dof);

  st.steps.resize(p);
  std::vector<double> scales(p);
  for (int k = 0; k < p; ++k) {
    const double floor = problem.floors.empty() ? 0.0 : problem.floors[k];
    st.steps[k] = jacobian_step(problem.values[k], floor, options.relative_step);
    scales[k] = st.steps[k] / options.relative_step;
  }

  const auto no_numbers = [&](Verdict verdict, std::string message) {
    st.verdict = verdict;
    st.message = std::move(message);
    return st;
  };

  if (n <= p) {
    return no_numbers(
        Verdict::TooFewObservations,
        std::to_string(n) + " observation" + (n == 1 ? "" : "s") +
            " cannot determine " + std::to_string(p) + " varied coefficient" +
            (p == 1 ? "" : "s") +
            ": the residual mean square needs more observations than varied "
            "coefficients (n > p)");
  }
  if (!all_finite(st.calculated)) {
    return no_numbers(Verdict::NotFinite,
                      "the model gives a value that is not a finite number at "
                      "the fitted set");
  }

  // Jacobian with the stated steps.
  st.jacobian = central_jacobian(model, problem.values, st.steps, n);
  if (options.check_step) {
    // The same with steps ten times smaller: a derivative that changes much
    // is not resolved by the model's accuracy (or the model has a jump
    // close to the fitted set).
    std::vector<double> fine(st.steps);
    for (double& h : fine) h /= 10.0;
    const Eigen::MatrixXd check = central_jacobian(model, problem.values, fine, n);
    st.step_sensitivity.resize(p);
    for (int k = 0; k < p; ++k) {
      const double norm = st.jacobian.col(k).norm();
      const double diff = (check.col(k) - st.jacobian.col(k)).norm();
      st.step_sensitivity[k] = norm > 0.0 ? diff / norm : (diff > 0.0 ? kNaN : 0.0);
    }
  }
  for (int k = 0; k < p; ++k) {
    if (!st.jacobian.col(k).allFinite()) {
      st.undetermined = {k};
      return no_numbers(Verdict::NotFinite,
                        "the model gives a value that is not a finite number "
                        "when " + problem.names[k] +
                            " is moved by its Jacobian step");
    }
  }
  if (p == 0) {
    st.covariance.resize(0, 0);
    st.correlation.resize(0, 0);
    return st;
  }

  // Coefficients without influence on the calculated values.
  Eigen::VectorXd norms = st.jacobian.colwise().norm().transpose();
  Eigen::VectorXd influence(p);
  for (int k = 0; k < p; ++k) influence(k) = norms(k) * scales[k];
  const double strongest = influence.maxCoeff();
  for (int k = 0; k < p; ++k) {
    if (norms(k) == 0.0 || influence(k) <= options.negligible_influence * strongest) {
      st.undetermined.push_back(k);
    }
  }
  if (!st.undetermined.empty()) {
    const bool one = st.undetermined.size() == 1;
    return no_numbers(
        Verdict::Singular,
        "J^T J is singular: the calculated values do not change with " +
            join_names(problem.names, st.undetermined) +
            " at the fitted set, so the data cannot determine " +
            (one ? "this coefficient" : "these coefficients"));
  }

  // Scale each column of J to unit length, so that the rank test and the
  // factorisation do not depend on the units of the coefficients.
  const Eigen::VectorXd inv_norms = norms.cwiseInverse();
  const Eigen::MatrixXd scaled = st.jacobian * inv_norms.asDiagonal();

  // Rank test: the right singular vector of the smallest singular value
  // shows which coefficients move together without changing the fit.
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled, Eigen::ComputeThinV);
  const Eigen::VectorXd sv = svd.singularValues();
  if (!(sv(p - 1) > options.singular_ratio * sv(0))) {
    const Eigen::VectorXd v = svd.matrixV().col(p - 1).cwiseAbs();
    std::vector<int> order(p);
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return v(a) > v(b); });
    std::vector<int> partners;
    for (int k : order) {
      if (k != order[0] && v(k) >= 0.1 * v(order[0])) partners.push_back(k);
    }
    st.undetermined = {order[0]};
    st.undetermined.insert(st.undetermined.end(), partners.begin(),
                           partners.end());
    std::string message =
        "J^T J is singular: the data cannot determine " +
        problem.names[order[0]];
    if (!partners.empty()) {
      message += " independently of " + join_names(problem.names, partners) +
                 " (only a combination of them changes the "
                 "calculated values)";
    }
    return no_numbers(Verdict::Singular, message);
  }

  // (JsᵀJs)⁻¹ = R⁻¹R⁻ᵀ from the QR factorisation Js = QR; R⁻¹ by a
  // triangular solve against the identity.
  Eigen::HouseholderQR<Eigen::MatrixXd> qr(scaled);
  const Eigen::MatrixXd r =
      qr.matrixQR().topRows(p).triangularView<Eigen::Upper>();
  const Eigen::MatrixXd r_inv = r.triangularView<Eigen::Upper>().solve(
      Eigen::MatrixXd::Identity(p, p));
  const Eigen::MatrixXd scaled_inverse = r_inv * r_inv.transpose();
  st.covariance =
      st.s2 * (inv_norms.asDiagonal() * scaled_inverse * inv_norms.asDiagonal());

  st.std_error.resize(p);
  st.ci_lower.resize(p);
  st.ci_upper.resize(p);
  st.correlation.resize(p, p);
  for (int k = 0; k < p; ++k) {
    st.std_error[k] = std::sqrt(st.covariance(k, k));
    st.ci_lower[k] = problem.values[k] - st.t_quantile * st.std_error[k];
    st.ci_upper[k] = problem.values[k] + st.t_quantile * st.std_error[k];
  }
  // The correlation matrix is independent of s² and of the column scaling,
  // so it is taken from the scaled inverse (also defined when SSQ is 0).
  for (int j = 0; j < p; ++j) {
    for (int k = 0; k < p; ++k) {
      st.correlation(j, k) =
          j == k ? 1.0
                 : scaled_inverse(j, k) /
                       std::sqrt(scaled_inverse(j, j) * scaled_inverse(k, k));
    }
  }
  return st;
}

}  // namespace btcfit::stats
