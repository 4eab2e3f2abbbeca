// The fit methods beside the annealing search: a bounded Levenberg-Marquardt
// descent from the initial values, and a multistart of such descents from a
// seeded low-discrepancy design over the bounds.
//
// The global method descends from its starts in batches of a fixed size,
// whatever the number of threads, and after each batch asks whether enough
// descents agree on the least SSQ; the starts, the batches and the choice
// of the best descent (least SSQ, then the earliest start) are therefore
// the same on any number of threads, and so is the result.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "analysis/fitted_problem.hpp"
#include "analysis/refine.hpp"
#include "btcfit/analysis.hpp"
#include "btcfit/errors.hpp"

namespace btcfit::analysis {
namespace {

// Descents of one batch of the global method.
constexpr int kBatch = 4;
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
    r.at_bound[k - 1] = values[j] <= s.lower[j] || values[j] >= s.upper[j];
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
  const auto descend = [&](int i) {
    stats::RefineOptions ro = descent_options(s, 1);
    ro.function_tolerance = kScreeningTolerance;
    ro.parameter_tolerance = kScreeningTolerance;
    ro.max_iterations = kScreeningIterations;
    ro.iteration_callback = [&](int, double) {
      if (is_cancelled(options)) stop = true;
      return !stop.load();
    };
    const std::vector<double> start =
        i == 0 ? s.start : design_start(std::uint64_t(i), shift, s.lower, s.upper);
    try {
      const stats::Refinement d = stats::refine(model, s.sp.observed, start, s.lower, s.upper, ro);
      Descent& out = descents[std::size_t(i)];
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

  int done = 0;
  int best = -1;
  Termination termination = Termination::starts_done;
  long long evaluations = 0;
  while (done < starts) {
    if (is_cancelled(options)) {
      termination = Termination::cancelled;
      break;
    }
    const int first = done, last = std::min(starts, done + kBatch);
    const int workers = std::min(threads, last - first);
    if (workers <= 1) {
      for (int i = first; i < last; ++i) descend(i);
    } else {
      std::atomic<int> next{first};
      std::vector<std::thread> pool;
      for (int t = 0; t < workers; ++t) {
        pool.emplace_back([&] {
          for (int i = next++; i < last; i = next++) descend(i);
        });
      }
      for (std::thread& th : pool) th.join();
    }
    if (failure) std::rethrow_exception(failure);
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
      if (descents[std::size_t(i)].ssq <= least * (1.0 + kAgreement)) ++agreeing;
    }
    if (options.progress) {
      ProgressLine line{done, least, {}};
      line.coefficients = result_of(s, descents[std::size_t(best)].values, least,
                                    FitMethod::global, 1).coefficients;
      options.progress(line);
    }
    if (agreeing >= options.agreeing_descents && done < starts) {
      termination = Termination::agreed;
      break;
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
  const Descent& b = descents[std::size_t(best)];
  // The polish: a full least-squares descent from the best screened set.
  stats::RefineOptions polish = descent_options(s, column_threads(s, threads));
  const stats::Refinement fine = stats::refine(model, s.sp.observed, b.values, s.lower, s.upper, polish);
  FitResult r = result_of(s, fine.values, fine.ssq, FitMethod::global, threads);
  r.iterations = done;
  r.evaluations = evaluations + fine.evaluations + 1;
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
