#include "analysis/profile.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include <boost/math/tools/toms748_solve.hpp>

#include "analysis/criteria.hpp"
#include "analysis/side_by_side.hpp"

namespace btcfit::stats {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The profile of one coefficient along one side: S_j(v) with the other
// coefficients refined from the set of the nearest value computed so far.
class Side {
 public:
  Side(const Model& model, std::span<const double> observed, std::span<const double> optimum,
       std::span<const double> lower, std::span<const double> upper, int j,
       const ProfileOptions& options)
      : model_(model), observed_(observed), lower_(lower), upper_(upper), j_(j),
        options_(options), p_(int(optimum.size())) {
    for (int k = 0; k < p_; ++k) {
      if (k == j) continue;
      others_lower_.push_back(lower[k]);
      others_upper_.push_back(upper[k]);
      if (!options.refine.floors.empty()) floors_.push_back(options.refine.floors[k]);
    }
    known_.push_back({optimum[j], others_of(optimum)});
  }

  // S_j(v).
  double operator()(double v) {
    // Start from the computed point nearest to v.
    const Known* nearest = &known_.front();
    for (const Known& k : known_) {
      if (std::fabs(k.value - v) < std::fabs(nearest->value - v)) nearest = &k;
    }
    const std::vector<double> start = nearest->others;
    const Model reduced = [this, v](std::span<const double> b, std::span<double> out) {
      std::vector<double> full(p_);
      for (int k = 0, m = 0; k < p_; ++k) full[k] = k == j_ ? v : b[m++];
      model_(full, out);
    };
    double ssq;
    std::vector<double> others;
    if (p_ == 1) {
      std::vector<double> calc(observed_.size());
      const std::vector<double> one{v};
      ++evaluations;
      model_(one, calc);
      ssq = 0.0;
      for (std::size_t i = 0; i < calc.size(); ++i) ssq += std::pow(observed_[i] - calc[i], 2);
    } else {
      RefineOptions ro = options_.refine;
      ro.floors = floors_;
      ro.threads = 1;
      const Refinement r = refine(reduced, observed_, start, others_lower_, others_upper_, ro);
      evaluations += r.evaluations;
      ssq = r.ssq;
      others = r.values;
    }
    if (!std::isfinite(ssq)) ssq = std::numeric_limits<double>::infinity();
    known_.push_back({v, std::move(others)});
    points.push_back({v, ssq});
    return ssq;
  }

  std::vector<ProfilePoint> points;
  int evaluations = 0;

 private:
  struct Known {
    double value;
    std::vector<double> others;
  };
  std::vector<double> others_of(std::span<const double> set) const {
    std::vector<double> o;
    for (int k = 0; k < p_; ++k) {
      if (k != j_) o.push_back(set[k]);
    }
    return o;
  }

  const Model& model_;
  std::span<const double> observed_, lower_, upper_;
  int j_;
  const ProfileOptions& options_;
  int p_;
  std::vector<double> others_lower_, others_upper_, floors_;
  std::vector<Known> known_;
};

ProfileLimit walk(Side& side, double centre, double ssq_min, double threshold, double first_step,
                  double bound, double direction, const ProfileOptions& options) {
  ProfileLimit limit;
  double inner = centre, inner_ssq = ssq_min;
  double distance = first_step;
  for (int step = 0; step < options.max_steps; ++step) {
    double v = centre + direction * distance;
    bool at_bound = false;
    if (direction * (v - bound) >= 0.0) {
      v = bound;
      at_bound = true;
    }
    if (v == inner) {  // the optimum is at the bound
      limit.value = bound;
      limit.at_bound = true;
      return limit;
    }
    const double s = side(v);
    if (s > threshold) {
      // Crossing between inner and v.
      const auto g = [&](double x) {
        if (x == inner) return inner_ssq - threshold;
        if (x == v) return s - threshold;
        return side(x) - threshold;
      };
      const double tol = options.relative_tolerance;
      const auto done = [tol](double a, double b) {
        return std::fabs(b - a) <= tol * std::max(std::fabs(a), std::fabs(b));
      };
      std::uintmax_t iterations = 60;
      double a = std::min(inner, v), b = std::max(inner, v);
      const double fa = a == inner ? inner_ssq - threshold : s - threshold;
      const double fb = b == inner ? inner_ssq - threshold : s - threshold;
      const auto root = boost::math::tools::toms748_solve(g, a, b, fa, fb, done, iterations);
      // The crossing: the middle of the final bracket.
      limit.value = 0.5 * (root.first + root.second);
      return limit;
    }
    if (at_bound) {
      limit.value = bound;
      limit.at_bound = true;
      return limit;
    }
    // Next distance: where a parabola through the optimum and this point
    // would reach the threshold, kept between 1.25 and 4 times the present.
    const double rise = s - ssq_min;
    double next = 4.0 * distance;
    if (rise > 0.0) {
      next = distance * std::sqrt((threshold - ssq_min) / rise) * 1.05;
      next = std::clamp(next, 1.25 * distance, 4.0 * distance);
    }
    inner = v;
    inner_ssq = s;
    distance = next;
  }
  limit.value = kNaN;
  limit.found = false;
  return limit;
}

}  // namespace

Profiles profile_intervals(const Model& model, std::span<const double> observed,
                           std::span<const double> optimum, std::span<const double> lower,
                           std::span<const double> upper, std::span<const double> steps,
                           const ProfileOptions& options) {
  const int p = int(optimum.size());
  const int n = int(observed.size());
  if (int(lower.size()) != p || int(upper.size()) != p) {
    throw std::invalid_argument("profile: one bound per coefficient");
  }
  if (n <= p) throw std::invalid_argument("profile: needs more observations than coefficients");
  Profiles out;
  out.n = n;
  out.p = p;
  out.level = options.level;
  {
    std::vector<double> calc(n);
    model(optimum, calc);
    out.ssq_min = 0.0;
    for (int i = 0; i < n; ++i) out.ssq_min += std::pow(observed[i] - calc[i], 2);
  }
  out.f_quantile = f_quantile(options.level, 1, n - p);
  out.threshold = out.ssq_min * (1.0 + out.f_quantile / (n - p));
  out.least_ssq = out.ssq_min;
  out.coefficients.resize(p);

  // Jobs: coefficient j, side 0 (down) or 1 (up); each side computed by
  // one thread with a profile of its own.
  std::vector<std::vector<ProfilePoint>> points(2 * p);
  std::vector<int> evaluations(2 * p, 0);
  const auto job = [&](int index) {
    const int j = index / 2;
    const bool up = index % 2 == 1;
    double first = steps.size() == std::size_t(p) ? steps[j] : kNaN;
    if (!(std::isfinite(first) && first > 0.0)) {
      const double floor = options.refine.floors.empty() ? 0.0 : options.refine.floors[j];
      const double scale = std::max(std::fabs(optimum[j]), 100.0 * floor);
      first = scale > 0.0 ? 0.1 * scale : 1e-3;
    }
    Side side(model, observed, optimum, lower, upper, j, options);
    const ProfileLimit limit = walk(side, optimum[j], out.ssq_min, out.threshold, first,
                                    up ? upper[j] : lower[j], up ? 1.0 : -1.0, options);
    (up ? out.coefficients[j].upper : out.coefficients[j].lower) = limit;
    if (limit.found) {
      for (int i = 1; i <= options.fill_points; ++i) {
        side(optimum[j] + (limit.value - optimum[j]) * i / (options.fill_points + 1));
      }
    }
    points[index] = std::move(side.points);
    evaluations[index] = side.evaluations;
  };
  side_by_side(2 * p, options.threads, job);

  for (int j = 0; j < p; ++j) {
    CoefficientProfile& c = out.coefficients[j];
    c.points = points[2 * j];
    c.points.insert(c.points.end(), points[2 * j + 1].begin(), points[2 * j + 1].end());
    c.points.push_back({optimum[j], out.ssq_min});
    std::sort(c.points.begin(), c.points.end(),
              [](const ProfilePoint& a, const ProfilePoint& b) { return a.value < b.value; });
    for (const ProfilePoint& pt : c.points) out.least_ssq = std::min(out.least_ssq, pt.ssq);
    out.evaluations += evaluations[2 * j] + evaluations[2 * j + 1];
  }
  return out;
}

}  // namespace btcfit::stats
