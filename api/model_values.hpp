// The model's concentrations at any number of points, with either
// numerics, and the sum of squared residuals of a problem's observations
// built on them. Neither holds a table whose size depends on the record's
// limits: memory grows linearly with the number of points.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "btcfit/fit.hpp"
#include "problem/problem_record.hpp"

namespace btcfit {

class ObservationPool;

// Concentrations at points (distances[i], times[i]) for coefficient set
// `set`, into out[i], with the model, pulses, concentrations, data form and
// XMAX of `base` (its observation tables are not read).
//   legacy:   MODEL on copies of `base`, MAXOBS points at a time. Every
//             point's value depends only on that point and the working
//             fields of the call, so the grouping changes no bit.
//   accurate: accurate_model.
// The points are handed out in groups to the threads of `pool` (null: all
// on the calling thread); each value is stored in its place, so the values
// do not depend on the threads.
void model_values(const ProblemRecord& base, const CoefColumn& set, Numerics numerics,
                  std::span<const double> distances, std::span<const double> times,
                  std::span<double> out, ObservationPool* pool);

// The observations of a problem, any number of them, for the search's sums
// of squares.
class ObservationSums {
 public:
  // `base` gives the model as model_values reads it; the observations are
  // `observed`, `distances` and `times`, in order.
  ObservationSums(const ProblemRecord& base, Numerics numerics, std::vector<double> observed,
                  std::vector<double> distances, std::vector<double> times,
                  ObservationPool* pool);

  // Sum over the observations in order, from 0.0, of (observed -
  // calculated)^2 for `set`; the calculated concentrations stay in
  // calculated().
  double operator()(const CoefColumn& set);
  const std::vector<double>& calculated() const { return calculated_; }

 private:
  std::unique_ptr<ProblemRecord> base_;
  Numerics numerics_;
  std::vector<double> observed_;
  std::vector<double> distances_;
  std::vector<double> times_;
  std::vector<double> calculated_;
  ObservationPool* pool_;
};

}  // namespace btcfit
