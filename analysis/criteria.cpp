#include "analysis/criteria.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/math/distributions/fisher_f.hpp>

namespace btcfit::stats {
namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

Criteria information_criteria(int n, int p, double ssq) {
  Criteria c{kNaN, kNaN, kNaN};
  if (n <= 0 || !(ssq > 0.0) || !std::isfinite(ssq)) return c;
  const double k = p + 1.0;
  const double fit = n * std::log(ssq / n);
  c.aic = fit + 2.0 * k;
  const double room = n - k - 1.0;
  if (room > 0.0) c.aicc = c.aic + 2.0 * k * (k + 1.0) / room;
  c.bic = fit + k * std::log(double(n));
  return c;
}

FTest nested_f_test(int n, int p_small, double ssq_small, int p_large, double ssq_large) {
  FTest t;
  t.df1 = p_large - p_small;
  t.df2 = n - p_large;
  if (t.df1 < 1 || t.df2 < 1 || !(ssq_large > 0.0)) {
    t.f = kNaN;
    t.p_value = kNaN;
    return t;
  }
  t.f = std::max(0.0, (ssq_small - ssq_large) / t.df1) / (ssq_large / t.df2);
  const boost::math::fisher_f dist(t.df1, t.df2);
  t.p_value = boost::math::cdf(boost::math::complement(dist, t.f));
  return t;
}

double f_quantile(double level, int df1, int df2) {
  if (df1 < 1 || df2 < 1) return kNaN;
  const boost::math::fisher_f dist(df1, df2);
  return boost::math::quantile(dist, level);
}

std::vector<ComparisonRow> compare_fits(const std::vector<ComparedFit>& fits) {
  std::vector<ComparisonRow> rows(fits.size());
  bool defined = true;
  double best = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < fits.size(); ++i) {
    rows[i].criteria = information_criteria(fits[i].n, fits[i].p, fits[i].ssq);
    if (std::isnan(rows[i].criteria.aicc)) defined = false;
    best = std::min(best, rows[i].criteria.aicc);
  }
  double total = 0.0;
  for (ComparisonRow& r : rows) {
    r.delta_aicc = defined ? r.criteria.aicc - best : kNaN;
    r.weight = defined ? std::exp(-0.5 * r.delta_aicc) : kNaN;
    total += r.weight;
  }
  for (ComparisonRow& r : rows) r.weight = defined ? r.weight / total : kNaN;
  return rows;
}

}  // namespace btcfit::stats
