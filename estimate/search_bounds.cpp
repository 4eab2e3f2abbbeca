#include "estimate/search_bounds.hpp"

#include <cstdio>

#include "btcfit/errors.hpp"

namespace btcfit {
namespace {

// Largest admissible step of the search (the single-precision 0.2).
constexpr double kStepHalfWidth = double(0.2f);

std::string format_bound(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string coefficient_label(const ProblemRecord& rec, int k) {
  std::string name(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
  name.append(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  std::string label = "coefficient " + std::to_string(k);
  if (!name.empty()) label += " (" + name + ")";
  return label;
}

}  // namespace

std::string unplaceable_message(const ProblemRecord& rec, int k, const std::string& reason) {
  return "varied " + coefficient_label(rec, k) + " cannot be placed within its bounds " +
         format_bound(rec.BMIN[k]) + " .. " + format_bound(rec.BMAX[k]) + ": " + reason;
}

void check_search_bounds(const ProblemRecord& rec) {
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    if (rec.obs.IVAR[k] == 0) continue;
    const double lo = rec.BMIN[k];
    const double hi = rec.BMAX[k];
    const double value = rec.coef(k, 1);
    std::string problem;
    if (lo > hi) {
      problem = "its lower bound exceeds its upper bound";
    } else if (lo == hi) {
      problem =
          "its bounds leave no room to vary it (a fixed coefficient takes the "
          "flag 0)";
    } else if (value < lo - kStepHalfWidth || value > hi + kStepHalfWidth) {
      problem = "its initial value " + format_bound(value) +
                " lies more than 0.2 outside them";
    } else if (hi - lo < kNarrowestInterval) {
      problem =
          "they are closer than 0.001, too close for the search's steps of up to 0.2 to "
          "land between them in a reasonable number of draws; widen them, or fix the "
          "coefficient with the flag 0";
    }
    if (!problem.empty()) throw ProblemError(unplaceable_message(rec, k, problem));
  }
}

}  // namespace btcfit
