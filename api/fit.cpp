// The public evaluation, fit and report.
#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "btcfit/errors.hpp"
#include "btcfit/fit.hpp"
#include "api/deck_reader.hpp"
#include "api/echo_writer.hpp"
#include "api/model_values.hpp"
#include "api/problem_conversion.hpp"
#include "estimate/annealing.hpp"
#include "estimate/final_results.hpp"
#include "estimate/search_state.hpp"
#include "models/model.hpp"
#include "models/observation_pool.hpp"
#include "report/run_report.hpp"

namespace btcfit {
namespace {

// Coefficient set of the record's layout (coefficient k in row NCOEF + k)
// from the coefficients in deck order.
CoefColumn coefficient_set(const ProblemRecord& rec, std::span<const double> coefficients) {
  const int ncoef = rec.obs.NCOEF;
  if (static_cast<int>(coefficients.size()) != ncoef) {
    throw ProblemError("model " + std::to_string(rec.work.MODE) + " takes " +
                       std::to_string(ncoef) + " coefficients; " +
                       std::to_string(coefficients.size()) + " were given");
  }
  CoefColumn set{};
  for (int k = 1; k <= ncoef; ++k) set[ncoef + k - 1] = coefficients[k - 1];
  return set;
}

std::vector<double> deck_order(const CoefColumn& set, int ncoef) {
  return std::vector<double>(set.begin() + ncoef, set.begin() + 2 * ncoef);
}

// A pool of `threads` threads, or none where one thread is asked for or
// the machine refuses threads.
std::unique_ptr<ObservationPool> make_pool(int threads) {
  if (threads <= 1) return nullptr;
  try {
    return std::make_unique<ObservationPool>(threads);
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace

int usable_threads() { return ObservationPool::machine_threads(); }

const char* numerics_name(Numerics numerics) {
  switch (numerics) {
    case Numerics::legacy: return "legacy";
    case Numerics::accurate: return "accurate";
  }
  return "unknown";
}

const char* method_name(FitMethod method) {
  switch (method) {
    case FitMethod::annealing: return "annealing";
    case FitMethod::least_squares: return "least_squares";
    case FitMethod::global: return "global";
  }
  return "unknown";
}

const char* termination_text(Termination termination) {
  switch (termination) {
    case Termination::stalled: return "improvement stalled for 100 iterations";
    case Termination::goal_reached: return "SSQ at or below 1e-4";
    case Termination::iteration_limit: return "iteration limit reached";
    case Termination::converged: return "converged";
    case Termination::agreed: return "several descents agreed on the least SSQ";
    case Termination::starts_done: return "every start descended from";
    case Termination::cancelled: return "cancelled";
  }
  return "unknown";
}

bool FitOptions::valid(std::string* why) const {
  const auto refuse = [why](const std::string& reason) {
    if (why != nullptr) *why = reason;
    return false;
  };
  const int m = static_cast<int>(method);
  if (m < 0 || m > 2) return refuse("method " + std::to_string(m) + " is not a fit method");
  if (numerics && *numerics != Numerics::legacy && *numerics != Numerics::accurate) {
    return refuse("numerics " + std::to_string(static_cast<int>(*numerics)) +
                  " is neither legacy nor accurate");
  }
  if (threads < 0) return refuse("threads is " + std::to_string(threads) + "; 0 or more expected");
  if (starts < 0) return refuse("starts is " + std::to_string(starts) + "; 0 or more expected");
  if (agreeing_descents < 1) {
    return refuse("agreeing_descents is " + std::to_string(agreeing_descents) +
                  "; 1 or more expected");
  }
  if (neighbourhood_batches < 0) {
    return refuse("neighbourhood_batches is " + std::to_string(neighbourhood_batches) +
                  "; 0 or more expected");
  }
  return true;
}

std::string progress_text(const ProgressLine& line) {
  std::ostringstream text;
  {
    OutputUnit unit(6, "progress line", text);
    write_progress_line(line.iteration, line.ssq, line.coefficients, unit);
  }
  std::string s = text.str();
  // One record: drop its CR LF.
  if (s.size() >= 2) s.resize(s.size() - 2);
  return s;
}

namespace {

void require_numerics(Numerics numerics) {
  if (numerics != Numerics::legacy && numerics != Numerics::accurate) {
    throw ProblemError("numerics " + std::to_string(static_cast<int>(numerics)) +
                       " is neither legacy nor accurate");
  }
}

// A problem read from a deck, computed as the console program computes it:
// held only to what the console program accepts.
bool console_path(const Problem& problem, Numerics numerics) {
  return problem.from_deck && numerics == Numerics::legacy;
}

struct ObservationColumns {
  std::vector<double> observed, distances, times;
};

ObservationColumns columns_of(const Problem& p) {
  ObservationColumns c;
  for (const Observation& o : p.observations) {
    c.observed.push_back(o.concentration);
    c.distances.push_back(o.distance);
    c.times.push_back(o.time);
  }
  return c;
}

}  // namespace

std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients,
                             const EvaluateOptions& options) {
  require_numerics(options.numerics);
  const Problem p = check_problem(problem, options.numerics);
  const auto rec = record_of(p);
  const CoefColumn set = coefficient_set(*rec, coefficients);
  if (!console_path(problem, options.numerics)) require_coefficient_values(p.model, coefficients);
  const ObservationColumns c = columns_of(p);
  std::vector<double> result(c.distances.size(), 0.0);
  const auto pool = make_pool(options.threads > 0 ? options.threads : usable_threads());
  model_values(*rec, set, options.numerics, c.distances, c.times, result, pool.get());
  return result;
}

std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients,
                             std::span<const double> distances, std::span<const double> times,
                             const EvaluateOptions& options) {
  require_numerics(options.numerics);
  if (distances.size() != times.size()) {
    throw ProblemError(std::to_string(distances.size()) + " distances and " +
                       std::to_string(times.size()) + " times were given; they go in pairs");
  }
  const Problem p = check_problem(problem, options.numerics);
  const auto base = record_of(p);
  const CoefColumn set = coefficient_set(*base, coefficients);
  if (p.observations.empty()) {
    for (double x : distances) {
      if (x > base->work.XMAX) base->work.XMAX = x;
    }
  }
  if (!console_path(problem, options.numerics)) {
    require_coefficient_values(p.model, coefficients);
    for (std::size_t i = 0; i < distances.size(); ++i) {
      require_point(distances[i], times[i], "point " + std::to_string(i + 1) + "'s");
    }
    if (p.observations.empty() && !distances.empty()) {
      require_scale(p, base->work.XMAX, "distance of the points");
    }
  }
  std::vector<double> result(distances.size(), 0.0);
  const auto pool = make_pool(options.threads > 0 ? options.threads : usable_threads());
  model_values(*base, set, options.numerics, distances, times, result, pool.get());
  return result;
}

FitResult fit(const Problem& problem, const FitOptions& options) {
  std::string why;
  if (!options.valid(&why)) throw ProblemError("fit options: " + why);
  if (options.method != FitMethod::annealing) {
    throw ProblemError(std::string("the ") + method_name(options.method) +
                       " method is btcfit::analysis::fit's (link btcfit::analysis)");
  }
  const Numerics numerics = options.numerics.value_or(Numerics::legacy);
  const Problem p = check_problem(problem, numerics);
  if (p.observations.empty() && !console_path(problem, numerics)) {
    throw ProblemError("the problem has no observations; a fit needs at least one");
  }
  auto rec = record_of(p);
  const int ncoef = rec->obs.NCOEF;
  const auto pool = make_pool(options.threads > 0 ? options.threads : usable_threads());
  FitResult result;
  SearchControl control;
  control.pool = pool.get();
  control.cancel = options.cancel;
  control.progress = [&](std::int32_t N, double SSQ, const CoefColumn& set) {
    result.progress.push_back(ProgressLine{N, SSQ, deck_order(set, ncoef)});
    if (options.progress) options.progress(result.progress.back());
  };
  // The console program's evaluation (MODEL over the record's tables, its
  // threads and its trials evaluated ahead) wherever it applies; otherwise
  // the observations are evaluated apart from the record.
  const bool own_model =
      numerics == Numerics::legacy && p.observations.size() <= static_cast<std::size_t>(MAXOBS);
  std::unique_ptr<ObservationSums> sums;
  if (!own_model) {
    ObservationColumns c = columns_of(p);
    sums = std::make_unique<ObservationSums>(*rec, numerics, std::move(c.observed),
                                             std::move(c.distances), std::move(c.times),
                                             pool.get());
    control.sum_of_squares = [&sums](const CoefColumn& set) { return (*sums)(set); };
  }
  const auto ssq_of_current = [&] {
    return own_model ? sum_of_squares(*rec, rec->COEF[0], pool.get()) : (*sums)(rec->COEF[0]);
  };
  SearchOutcome outcome;
  bool cancelled = false;
  try {
    outcome = run_search(*rec, control);
  } catch (const Cancelled&) {
    if (!options.return_when_cancelled) throw;
    // The best set so far is in column 3 once the search has judged its
    // initial set (a progress line was handed on); before that, the
    // initial set in column 1 is all there is.
    cancelled = true;
    if (!result.progress.empty()) {
      rec->COEF[0] = rec->COEF[2];
      outcome.N = result.progress.back().iteration;
    }
    outcome.SSQ = ssq_of_current();
  }
  if (own_model) {
    final_concentrations(*rec, pool.get());
    const int nob = std::max(rec->obs.NOB, 0);
    result.calculated.assign(rec->CCALC.begin() + 1, rec->CCALC.begin() + 1 + nob);
  } else {
    (void)(*sums)(rec->COEF[0]);
    result.calculated = sums->calculated();
  }
  result.coefficients = deck_order(rec->COEF[0], ncoef);
  result.ssq = outcome.SSQ;
  result.iterations = outcome.N;
  result.method = FitMethod::annealing;
  result.numerics = numerics;
  if (cancelled) {
    result.termination = Termination::cancelled;
  } else switch (outcome.end) {
    case SearchEnd::stalled: result.termination = Termination::stalled; break;
    case SearchEnd::goal_reached: result.termination = Termination::goal_reached; break;
    case SearchEnd::iteration_limit: result.termination = Termination::iteration_limit; break;
  }
  // The initial set, 500 trials in each outer iteration before the last
  // (opened only to end the search), and the final call.
  result.evaluations = 2 + static_cast<long long>(kTrialsPerIteration) * (outcome.N - 1);
  for (int k = 1; k <= ncoef; ++k) {
    const bool varied = rec->obs.IVAR[k] != 0;
    const double b = result.coefficients[k - 1];
    result.varied.push_back(varied);
    result.at_bound.push_back(varied && (b == rec->BMIN[k] || b == rec->BMAX[k]));
  }
  return result;
}

void write_report(const Problem& problem, const FitResult& result, std::ostream& out) {
  const Problem p = check_problem(problem, result.numerics);
  const auto rec = record_of(p);
  const int ncoef = rec->obs.NCOEF;
  const std::size_t nob = p.observations.size();
  const auto belongs = [&](const std::vector<double>& coefficients) {
    return static_cast<int>(coefficients.size()) == ncoef;
  };
  bool fits = belongs(result.coefficients) && result.calculated.size() == nob;
  for (const ProgressLine& line : result.progress) fits = fits && belongs(line.coefficients);
  if (!fits) {
    throw ProblemError("the fit result does not belong to the problem (" + std::to_string(ncoef) +
                       " coefficients and " + std::to_string(nob) +
                       " calculated concentrations expected)");
  }
  const ObservationColumns c = columns_of(p);
  OutputUnit report(6, "report", out);
  EchoWriter echo(report, false);
  // The observed data close the echo; more of them than the record holds
  // are written from the problem.
  const bool listed_apart = rec->IOUT == 1 && nob > static_cast<std::size_t>(MAXOBS);
  if (listed_apart) rec->IOUT = 0;
  replay_deck(*rec, echo);
  if (listed_apart) write_echo_observed_data(c.observed, c.distances, c.times, report);
  write_progress_heading(report);
  for (const ProgressLine& line : result.progress) {
    write_progress_line(line.iteration, line.ssq, line.coefficients, report);
  }
  // The last line repeated under the number at which the search ended.
  write_progress_line(result.iterations, result.ssq, result.coefficients, report);
  write_final_table(c.observed, result.calculated, report);
  report.flush();
}

}  // namespace btcfit
