#include "api/model_values.hpp"

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "models/accurate.hpp"
#include "models/model.hpp"
#include "models/observation_pool.hpp"

namespace btcfit {
namespace {

// Points per group of the accurate numerics: enough to make handing a
// group to a thread cheap against computing it.
constexpr std::size_t kAccurateGroup = 64;

struct Groups {
  const ProblemRecord* base;
  const CoefColumn* set;
  Numerics numerics;
  std::span<const double> distances;
  std::span<const double> times;
  std::span<double> out;
  std::size_t size;   // points per group
  std::size_t count;  // groups
  std::atomic<std::size_t> next{0};

  // Takes groups until none is left.
  void take() {
    std::unique_ptr<ProblemRecord> work;
    for (std::size_t g = next.fetch_add(1); g < count; g = next.fetch_add(1)) {
      const std::size_t start = g * size;
      const std::size_t n = std::min(size, out.size() - start);
      if (numerics == Numerics::accurate) {
        accurate_model(*base, *set, distances.subspan(start, n), times.subspan(start, n),
                       out.subspan(start, n));
        continue;
      }
      if (!work) work = std::make_unique<ProblemRecord>();
      *work = *base;
      work->obs.NOB = static_cast<int>(n);
      for (std::size_t i = 1; i <= n; ++i) {
        work->obs.XOBS[i] = distances[start + i - 1];
        work->obs.TOBS[i] = times[start + i - 1];
      }
      MODEL(*work, *set, work->CCALC);
      std::copy(work->CCALC.begin() + 1, work->CCALC.begin() + 1 + n, out.begin() + start);
    }
  }
};

}  // namespace

void model_values(const ProblemRecord& base, const CoefColumn& set, Numerics numerics,
                  std::span<const double> distances, std::span<const double> times,
                  std::span<double> out, ObservationPool* pool) {
  Groups groups{&base, &set, numerics, distances, times, out, 0, 0};
  // Accurate values: smaller groups when there are few points, so that
  // every thread gets some (each value depends only on its point).
  const std::size_t share =
      pool == nullptr ? kAccurateGroup : out.size() / (4 * std::size_t(pool->participants()));
  groups.size = numerics == Numerics::accurate ? std::clamp<std::size_t>(share, 1, kAccurateGroup)
                                               : std::size_t(MAXOBS);
  groups.count = (out.size() + groups.size - 1) / groups.size;
  if (pool == nullptr || groups.count <= 1) {
    groups.take();
    return;
  }
  pool->run_each([](void* g, int) { static_cast<Groups*>(g)->take(); }, &groups);
}

ObservationSums::ObservationSums(const ProblemRecord& base, Numerics numerics,
                                 std::vector<double> observed, std::vector<double> distances,
                                 std::vector<double> times, ObservationPool* pool)
    : base_(std::make_unique<ProblemRecord>(base)),
      numerics_(numerics),
      observed_(std::move(observed)),
      distances_(std::move(distances)),
      times_(std::move(times)),
      calculated_(observed_.size(), 0.0),
      pool_(pool) {}

double ObservationSums::operator()(const CoefColumn& set) {
  model_values(*base_, set, numerics_, distances_, times_, calculated_, pool_);
  double ssq = 0.0;
  for (std::size_t i = 0; i < observed_.size(); ++i) {
    const double r = observed_[i] - calculated_[i];
    ssq = ssq + r * r;
  }
  return ssq;
}

}  // namespace btcfit
