// The fit methods beside the annealing search: a bounded Levenberg-Marquardt
// descent from the initial values, and a multistart of such descents from a
// seeded low-discrepancy design over the bounds.
//
// The global method descends from its starts in batches of a fixed size,
// whatever the number of threads, and after each batch asks whether enough
// descents agree on the least SSQ inside the bounds; the starts, the
// batches and the choice of the best descent (least SSQ, then the earliest
// start) are therefore the same on any number of threads, and so is the
// result.
//
// On legacy numerics, whose SSQ ripples and steps, the global method also
// searches about its best set: descents from seeded points near it, then,
// after the polish, lines along each coefficient and rounds of seeded
// points at shrinking distances. Their points are drawn before each batch
// or round and the least is chosen as in the multistart, so these stages
// do not depend on the threads either.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>

#include "analysis/fitted_problem.hpp"
#include "analysis/refine.hpp"
#include "analysis/side_by_side.hpp"
#include "btcfit/analysis.hpp"
#include "btcfit/errors.hpp"

namespace btcfit::analysis {
namespace {

// Descents of one batch of the global method.
constexpr int kBatch = 4;
// Descents before agreement may skip the rest of the starts, on legacy
// numerics: there the descents of the first batch alone often meet on one
// bound or in one ripple of the SSQ, away from its least value.
constexpr int kLeastDescents = 2 * kBatch;
// Two descents agree when their SSQ differ by at most this fraction.
constexpr double kAgreement = 1e-9;
// The descents of the global method stop at a relative SSQ decrease (and
// step) of 1e-11, well inside the agreement; the best one is then polished
// with the full tolerances of a least-squares fit.
constexpr double kScreeningTolerance = 1e-11;
constexpr int kScreeningIterations = 100;
// Bounds whose ratio exceeds this (both positive) are spread over in ln b:
// a dispersion coefficient between 1 and 500 is as likely near 3 as near 300.
constexpr double kLogSpreadRatio = 10.0;
// The neighbourhood searched about the best set: each varied coefficient
// within this fraction of its value (or of a thousandth of its range, for
// values near zero).
constexpr double kNeighbourhood = 0.02;
// The rounds of points about the polished set on legacy numerics: points
// per round, their distances (fractions of each value), and rounds at one
// distance at most.
constexpr int kSamples = 16;
constexpr double kSampleScales[] = {1e-2, 1e-3, 1e-4};
constexpr int kSampleRounds = 8;
// The lines along each coefficient on legacy numerics: from the best value
// divided by kLineReach to it times kLineReach, in kLinePoints steps.
constexpr double kLineReach = 1.5;
constexpr int kLinePoints = 24;

// The first 16 primes: the bases of the Halton sequence, one per
// coefficient (a problem varies at most 7).
constexpr int kPrimes[] = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53};

double radical_inverse(std::uint64_t i, int base) {
  double f = 1.0, r = 0.0;
  while (i > 0) {
    f /= base;
    r += f * double(i % std::uint64_t(base));
    i /= std::uint64_t(base);
  }
  return r;
}

// SplitMix64: the seed's shift of each coordinate of the design.
std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

// Start `index` (1-based; start 0 is the initial set) of the design: the
// Halton point, shifted modulo 1 by the seed (a Cranley-Patterson
// rotation), mapped onto each coefficient's bounds.
std::vector<double> design_start(std::uint64_t index, const std::vector<double>& shift,
                                 const std::vector<double>& lower,
                                 const std::vector<double>& upper) {
  std::vector<double> b(lower.size());
  for (std::size_t j = 0; j < b.size(); ++j) {
    double u = radical_inverse(index, kPrimes[j]) + shift[j];
    u -= std::floor(u);
    const double lo = lower[j], hi = upper[j];
    if (lo > 0.0 && hi / lo > kLogSpreadRatio) {
      b[j] = std::exp(std::log(lo) + u * (std::log(hi) - std::log(lo)));
    } else {
      b[j] = lo + u * (hi - lo);
    }
    b[j] = std::clamp(b[j], lo, hi);
  }
  return b;
}

struct Descent {
  std::vector<double> values;
  double ssq = std::numeric_limits<double>::infinity();
  int iterations = 0;
  int evaluations = 0;
  bool converged = false;
  bool done = false;
};

bool is_cancelled(const FitOptions& options) {
  return options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed);
}

// The problem, checked, with the positions of its varied coefficients and
// their bounds; the fitted model of them at the initial set.
struct Setup {
  stats::FittedProblem fp;
  stats::FitProblem sp;
  std::vector<double> lower, upper, start;
};

// Whether varied coefficient j of `values` lies on one of its bounds.
bool on_its_bound(const Setup& s, const std::vector<double>& values, std::size_t j) {
  return values[j] <= s.lower[j] || values[j] >= s.upper[j];
}

// Whether a varied coefficient of `values` lies on one of its bounds.
bool on_a_bound(const Setup& s, const std::vector<double>& values) {
  for (std::size_t j = 0; j < values.size(); ++j) {
    if (on_its_bound(s, values, j)) return true;
  }
  return false;
}

Setup setup(const Problem& problem, Numerics numerics, int threads) {
  Problem checked = check_problem(problem);
  if (checked.observations.empty()) {
    throw ProblemError("the problem has no observations to fit");
  }
  FitResult initial;
  for (const Coefficient& c : checked.coefficients) {
    initial.coefficients.push_back(c.initial);
    initial.varied.push_back(c.varied);
  }
  initial.numerics = numerics;
  Setup s;
  s.fp = stats::fitted_problem(checked, initial, "", threads);
  s.fp.numerics = numerics;
  for (int k : s.fp.varied) {
    const Coefficient& c = s.fp.problem.coefficients[k - 1];
    if (!(c.lower <= c.upper)) {
      throw ProblemError("coefficient " + std::to_string(k) + " (" +
                         stats::coefficient_name(s.fp.problem, k) + ") has bounds " +
                         std::to_string(c.lower) + " > " + std::to_string(c.upper));
    }
    s.lower.push_back(c.lower);
    s.upper.push_back(c.upper);
    s.start.push_back(std::clamp(c.initial, c.lower, c.upper));
  }
  s.sp = stats::fit_problem(s.fp);
  return s;
}

// A model call shorter than this is not worth a thread of its own for each
// Jacobian column: starting the threads would cost more than the calls.
constexpr double kThreadWorthySeconds = 2e-4;

// Threads for the Jacobian columns of a descent: `threads` when one model
// call at the start set takes long enough, else 1. The columns are the
// same whichever is chosen, so the result does not depend on it.
int column_threads(const Setup& s, int threads) {
  if (threads <= 1) return 1;
  std::vector<double> out(s.sp.observed.size());
  const auto start = std::chrono::steady_clock::now();
  stats::varied_model(s.fp)(s.start, out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return seconds >= kThreadWorthySeconds ? threads : 1;
}

stats::RefineOptions descent_options(const Setup& s, int threads) {
  stats::RefineOptions r;
  r.floors = s.sp.floors;
  r.threads = threads;
  return r;
}

// The result of the best varied values: fixed coefficients at their
// initial values, SSQ and calculated concentrations on the fit's numerics.
FitResult result_of(const Setup& s, const std::vector<double>& values, double ssq,
                    FitMethod method, int threads) {
  FitResult r;
  r.method = method;
  r.numerics = s.fp.numerics;
  r.coefficients = s.fp.result.coefficients;
  for (std::size_t j = 0; j < s.fp.varied.size(); ++j) r.coefficients[s.fp.varied[j] - 1] = values[j];
  r.ssq = ssq;
  r.calculated = evaluate(s.fp.problem, r.coefficients, EvaluateOptions{s.fp.numerics, threads});
  r.varied.assign(r.coefficients.size(), false);
  r.at_bound.assign(r.coefficients.size(), false);
  for (std::size_t j = 0; j < s.fp.varied.size(); ++j) {
    const int k = s.fp.varied[j];
    r.varied[k - 1] = true;
    r.at_bound[k - 1] = on_its_bound(s, values, j);
  }
  return r;
}

FitResult least_squares(const Problem& problem, const FitOptions& options, Numerics numerics) {
  const int threads = options.threads > 0 ? options.threads : usable_threads();
  const Setup s = setup(problem, numerics, threads);
  if (is_cancelled(options) && !options.return_when_cancelled) throw Cancelled();
  stats::RefineOptions ro = descent_options(s, column_threads(s, threads));
  std::vector<ProgressLine> lines;
  bool cancelled = false;
  ro.iteration_callback = [&](int iteration, double ssq) {
    if (is_cancelled(options)) {
      cancelled = true;
      return false;
    }
    if (options.progress) options.progress(ProgressLine{iteration, ssq, {}});
    return true;
  };
  const stats::Refinement d =
      stats::refine(stats::varied_model(s.fp), s.sp.observed, s.start, s.lower, s.upper, ro);
  if (cancelled && !options.return_when_cancelled) throw Cancelled();
  FitResult r = result_of(s, d.values, d.ssq, FitMethod::least_squares, threads);
  r.iterations = d.iterations;
  r.evaluations = d.evaluations + 1;  // and the final concentrations
  r.termination = cancelled      ? Termination::cancelled
                  : d.converged ? Termination::converged
                                : Termination::iteration_limit;
  return r;
}

// Uniform in [-1, 1) from the SplitMix64 stream.
double signed_unit(std::uint64_t& state) {
  return 2.0 * (double(splitmix(state) >> 11) * 0x1.0p-53) - 1.0;
}

// Seeded points about `values`, each coefficient moved by at most `scale`
// of its value (of a thousandth of its range near zero), kept within the
// bounds.
void scatter_about(const Setup& s, const std::vector<double>& values, double scale,
                   std::uint64_t& state, std::vector<double>& out) {
  out = values;
  for (std::size_t j = 0; j < out.size(); ++j) {
    const double reach = scale * std::max(std::abs(values[j]), 1e-3 * (s.upper[j] - s.lower[j]));
    out[j] = std::clamp(values[j] + signed_unit(state) * reach, s.lower[j], s.upper[j]);
  }
}

double ssq_at(const Setup& s, const stats::Model& model, const std::vector<double>& values,
              std::vector<double>& calculated) {
  calculated.resize(s.sp.observed.size());
  model(values, calculated);
  double ssq = 0.0;
  for (std::size_t i = 0; i < calculated.size(); ++i) {
    const double e = s.sp.observed[i] - calculated[i];
    ssq += e * e;
  }
  return std::isfinite(ssq) ? ssq : std::numeric_limits<double>::infinity();
}

// The SSQ at each of `points` into `found`, side by side on the threads; a
// set the model refuses is no better fit (infinite SSQ).
void ssq_at_points(const Setup& s, const stats::Model& model, int threads,
                   const std::vector<std::vector<double>>& points, std::vector<double>& found) {
  found.assign(points.size(), std::numeric_limits<double>::infinity());
  stats::side_by_side(int(points.size()), threads, [&](int i) {
    std::vector<double> calculated;
    try {
      found[std::size_t(i)] = ssq_at(s, model, points[std::size_t(i)], calculated);
    } catch (const std::exception&) {
    }
  });
}

// The index of the least of `found` (the earliest of equal ones).
std::size_t least_of(const std::vector<double>& found) {
  std::size_t least = 0;
  for (std::size_t i = 1; i < found.size(); ++i) {
    if (found[i] < found[least]) least = i;
  }
  return least;
}

// Lines through `values` along each varied coefficient, from a factor
// kLineReach below its value to that factor above it (within the bounds):
// the point of least SSQ on them when it is below `ssq`. A well of a
// legacy SSQ that a descent cannot see beyond a step is often displaced
// along one coefficient only (a width or a rate on its bound).
std::optional<std::vector<double>> best_on_lines(const Setup& s, const stats::Model& model,
                                                 int threads, const std::vector<double>& values,
                                                 double ssq, long long& evaluations) {
  std::vector<std::vector<double>> points;
  for (std::size_t j = 0; j < values.size(); ++j) {
    const double lo = std::max(s.lower[j], values[j] > 0.0 ? values[j] / kLineReach : s.lower[j]);
    const double hi = std::min(s.upper[j], values[j] > 0.0 ? values[j] * kLineReach : s.upper[j]);
    if (!(hi > lo)) continue;
    for (int k = 0; k <= kLinePoints; ++k) {
      std::vector<double> b = values;
      const double u = double(k) / kLinePoints;
      b[j] = lo > 0.0 ? lo * std::pow(hi / lo, u) : lo + u * (hi - lo);
      b[j] = std::clamp(b[j], lo, hi);
      if (b[j] != values[j]) points.push_back(std::move(b));
    }
  }
  if (points.empty()) return std::nullopt;
  std::vector<double> found;
  ssq_at_points(s, model, threads, points, found);
  evaluations += static_cast<long long>(points.size());
  const std::size_t least = least_of(found);
  if (!(found[least] < ssq)) return std::nullopt;
  return points[least];
}

// The last stage of the global method on legacy numerics. The legacy SSQ
// is smooth only piecewise: where the fixed rules of the quadrature and the
// guards of the exponential change their choice, it steps, and its least
// values lie on the lower side of such steps, which a descent by
// derivatives cannot see. Rounds of seeded points about the best set, at
// shrinking distances, move it to the lowest point of a round while one is
// lower. Returns the model evaluations spent; `values` and `ssq` hold the
// best set. The points and the choice (least SSQ, then the earliest point)
// do not depend on the number of threads.
template <class Cancelled>
long long sample_about(const Setup& s, const stats::Model& model, std::uint64_t seed, int threads,
                       std::vector<double>& values, double& ssq, const Cancelled& cancelled) {
  std::uint64_t state = seed ^ 0xbb67ae8584caa73bULL;
  std::vector<std::vector<double>> points(kSamples);
  std::vector<double> found(kSamples);
  long long evaluations = 0;
  for (double scale : kSampleScales) {
    for (int round = 0; round < kSampleRounds; ++round) {
      if (cancelled()) return evaluations;
      for (std::vector<double>& b : points) scatter_about(s, values, scale, state, b);
      ssq_at_points(s, model, threads, points, found);
      evaluations += kSamples;
      const std::size_t least = least_of(found);
      if (!(found[least] < ssq)) break;
      values = points[least];
      ssq = found[least];
    }
  }
  return evaluations;
}

FitResult global(const Problem& problem, const FitOptions& options, Numerics numerics) {
  const int threads = options.threads > 0 ? options.threads : usable_threads();
  const Setup s = setup(problem, numerics, threads);
  const int p = int(s.start.size());
  const int starts = options.starts > 0 ? options.starts : std::max(16, 8 * p);
  std::uint64_t state = options.seed;
  std::vector<double> shift(static_cast<std::size_t>(p));
  for (double& u : shift) u = double(splitmix(state) >> 11) * 0x1.0p-53;

  std::vector<Descent> descents(static_cast<std::size_t>(starts));
  const stats::Model model = stats::varied_model(s.fp);
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::mutex failure_lock;
  const auto descend = [&](const std::vector<double>& start, Descent& out) {
    stats::RefineOptions ro = descent_options(s, 1);
    ro.function_tolerance = kScreeningTolerance;
    ro.parameter_tolerance = kScreeningTolerance;
    ro.max_iterations = kScreeningIterations;
    ro.iteration_callback = [&](int, double) {
      if (is_cancelled(options)) stop = true;
      return !stop.load();
    };
    try {
      const stats::Refinement d = stats::refine(model, s.sp.observed, start, s.lower, s.upper, ro);
      out.values = d.values;
      out.ssq = std::isfinite(d.ssq) ? d.ssq : std::numeric_limits<double>::infinity();
      out.iterations = d.iterations;
      out.evaluations = d.evaluations;
      out.converged = d.converged;
      out.done = !d.stopped;
    } catch (...) {
      std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
      stop = true;
    }
  };
  // Descents from sets[0..n) into out[0..n), side by side on the threads.
  const auto run_batch = [&](const std::vector<double>* sets, Descent* out, int n) {
    stats::side_by_side(n, threads, [&](int i) { descend(sets[i], out[i]); });
    if (failure) std::rethrow_exception(failure);
  };

  const bool legacy = numerics == Numerics::legacy;
  int done = 0;
  int best = -1;
  Termination termination = Termination::starts_done;
  long long evaluations = 0;
  std::vector<double> sets[kBatch];
  const auto report = [&](const std::vector<double>& values, double ssq) {
    if (!options.progress) return;
    ProgressLine line{done, ssq, {}};
    line.coefficients = result_of(s, values, ssq, FitMethod::global, 1).coefficients;
    options.progress(line);
  };
  while (done < starts) {
    if (is_cancelled(options)) {
      termination = Termination::cancelled;
      break;
    }
    const int first = done, last = std::min(starts, done + kBatch);
    for (int i = first; i < last; ++i) {
      sets[i - first] = i == 0 ? s.start : design_start(std::uint64_t(i), shift, s.lower, s.upper);
    }
    run_batch(sets, &descents[std::size_t(first)], last - first);
    if (stop || is_cancelled(options)) {
      termination = Termination::cancelled;
      // The descents cut short are not counted as done.
      for (int i = first; i < last; ++i) {
        if (descents[std::size_t(i)].done) done = i + 1;
        else break;
      }
      break;
    }
    done = last;
    for (int i = first; i < last; ++i) {
      const Descent& d = descents[std::size_t(i)];
      evaluations += d.evaluations;
      if (best < 0 || d.ssq < descents[std::size_t(best)].ssq) best = i;
    }
    const double least = descents[std::size_t(best)].ssq;
    int agreeing = 0;
    for (int i = 0; i < done; ++i) {
      const Descent& d = descents[std::size_t(i)];
      // Only descents that end inside the bounds count. A bound catches
      // every descent that runs into it, and where it leaves another
      // coefficient without effect (BETA = 1 makes OMEGA inert) most
      // descents end there, however deep a well the interior holds. When
      // the least SSQ lies on a bound, every start is descended from.
      if (d.ssq <= least * (1.0 + kAgreement) && !on_a_bound(s, d.values)) ++agreeing;
    }
    report(descents[std::size_t(best)].values, least);
    if (agreeing >= options.agreeing_descents && (!legacy || done >= kLeastDescents) &&
        done < starts) {
      termination = Termination::agreed;
      break;
    }
  }
  Descent chosen = best >= 0 ? descents[std::size_t(best)] : Descent{};
  // The neighbourhood of the best set, on legacy numerics. An SSQ computed
  // with fixed quadrature rules ripples along its valleys, so that descents
  // from far away stop in whichever ripple they meet first; descents from
  // seeded points within a few per cent of the best set look for a deeper
  // ripple next to it, batch after batch while one is found. The accurate
  // SSQ is smooth to far below the agreement of descents.
  if (legacy && best >= 0 && termination != Termination::cancelled &&
      options.neighbourhood_batches > 0) {
    std::uint64_t near_state = options.seed ^ 0x6a09e667f3bcc909ULL;
    Descent found[kBatch];
    for (int batch = 0; batch < options.neighbourhood_batches; ++batch) {
      for (std::vector<double>& b : sets) scatter_about(s, chosen.values, kNeighbourhood, near_state, b);
      run_batch(sets, found, kBatch);
      if (stop || is_cancelled(options)) {
        termination = Termination::cancelled;
        break;
      }
      const Descent* deeper = nullptr;
      for (const Descent& d : found) {
        evaluations += d.evaluations;
        if (d.ssq < chosen.ssq * (1.0 - kAgreement) && (deeper == nullptr || d.ssq < deeper->ssq)) {
          deeper = &d;
        }
      }
      if (deeper == nullptr) break;
      chosen = *deeper;
      report(chosen.values, chosen.ssq);
    }
  }
  if (termination == Termination::cancelled && !options.return_when_cancelled) throw Cancelled();
  if (best < 0) {
    // Cancelled before the first batch ended: the initial set.
    FitResult r = result_of(s, s.start, 0.0, FitMethod::global, threads);
    double ssq = 0.0;
    for (std::size_t i = 0; i < r.calculated.size(); ++i) {
      const double e = s.sp.observed[i] - r.calculated[i];
      ssq += e * e;
    }
    r.ssq = ssq;
    r.termination = Termination::cancelled;
    r.evaluations = 1;
    return r;
  }
  const Descent& b = chosen;
  // The polish: a full least-squares descent from the best screened set.
  stats::RefineOptions polish = descent_options(s, column_threads(s, threads));
  const stats::Refinement fine = stats::refine(model, s.sp.observed, b.values, s.lower, s.upper, polish);
  std::vector<double> values = fine.values;
  double ssq = fine.ssq;
  evaluations += fine.evaluations;
  if (legacy && !is_cancelled(options)) {
    if (const auto line = best_on_lines(s, model, threads, values, ssq, evaluations)) {
      const stats::Refinement again =
          stats::refine(model, s.sp.observed, *line, s.lower, s.upper, polish);
      evaluations += again.evaluations;
      if (again.ssq < ssq) {
        values = again.values;
        ssq = again.ssq;
      }
    }
    evaluations += sample_about(s, model, options.seed, threads, values, ssq,
                                [&] { return is_cancelled(options); });
  }
  FitResult r = result_of(s, values, ssq, FitMethod::global, threads);
  r.iterations = done;
  r.evaluations = evaluations + 1;
  if (options.progress) options.progress(ProgressLine{done, r.ssq, r.coefficients});
  r.termination = termination;
  return r;
}

}  // namespace

FitResult fit(const Problem& problem, const FitOptions& options) {
  std::string why;
  if (!options.valid(&why)) throw ProblemError("fit options: " + why);
  switch (options.method) {
    case FitMethod::annealing:
      return btcfit::fit(problem, options);
    case FitMethod::least_squares:
      return least_squares(problem, options, options.numerics.value_or(Numerics::accurate));
    case FitMethod::global:
      return global(problem, options, options.numerics.value_or(Numerics::accurate));
  }
  throw ProblemError("unknown fit method");
}

}  // namespace btcfit::analysis
