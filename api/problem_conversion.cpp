#include "api/problem_conversion.hpp"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <string>

#include "btcfit/errors.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

std::string format_value(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void require_finite(double v, const std::string& what) {
  if (!std::isfinite(v)) throw ProblemError(what + " is " + format_value(v) + ", not a finite number");
}

// What a coefficient position of the model must hold for the model to be
// defined: V, D or ALPHA, R, and codes 3-4's BETA above 0 (the solutions
// divide by them, the stream tubes take the logarithm of V); SIGMA, a
// standard deviation, 0 or more.
enum class Range { any, positive, not_negative };

Range range_of(const ModelTraits& traits, int k) {
  if (k <= 3) return Range::positive;
  if (k == 5 && traits.family == ModelFamily::nonequilibrium) return Range::positive;
  if (k == 7 && traits.stream_tube()) return Range::not_negative;
  return Range::any;
}

bool in_range(Range range, double v) {
  switch (range) {
    case Range::positive: return v > 0.0;
    case Range::not_negative: return v >= 0.0;
    case Range::any: return true;
  }
  return true;
}

std::string range_text(Range range) {
  return range == Range::positive ? "above 0" : "0 or more";
}

std::string reason_of(const ModelTraits& traits, int k) {
  if (k == 1 && traits.stream_tube()) return "the model takes its logarithm";
  if (k == 7) return "it is a standard deviation";
  return "the model divides by it";
}

// "coefficient 2 (D)".
std::string coefficient_label(const ModelTraits& traits, int k) {
  return "coefficient " + std::to_string(k) + " (" + std::string(traits.names[k - 1]) + ")";
}

std::string folded(const std::string& name) {
  std::string s = name;
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  std::size_t first = 0;
  while (first < s.size() && blank(s[first])) ++first;
  s.erase(0, first);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string name_list(const ModelTraits& traits) {
  std::string text;
  for (int k = 0; k < traits.coefficient_count; ++k) {
    text += (k == 0 ? "" : ", ") + std::string(traits.names[k]);
  }
  return text;
}

// Refuses names that are the model's names of other positions.
void require_names_in_place(const Problem& p, const ModelTraits& traits) {
  std::string misplaced;
  for (int k = 1; k <= traits.coefficient_count; ++k) {
    const std::string name = folded(p.coefficients[k - 1].name);
    for (int m = 1; m <= traits.coefficient_count; ++m) {
      if (m != k && name == traits.names[m - 1]) {
        misplaced += (misplaced.empty() ? "" : ", ") + std::string("coefficient ") +
                     std::to_string(k) + " is named \"" + p.coefficients[k - 1].name +
                     "\", the model's name of coefficient " + std::to_string(m);
      }
    }
  }
  if (!misplaced.empty()) {
    throw ProblemError(misplaced + "; model " + std::to_string(traits.code) +
                       " takes its coefficients in the order " + name_list(traits));
  }
}

// The refusals of problems built in code: values for which the model is
// not defined, and bounds that cross.
void require_defined(const Problem& p, const ModelTraits& traits) {
  if (p.input_concentration == 0.0) {
    throw ProblemError("the input concentration C0 is 0; the model's concentrations are "
                       "proportional to C0 - CI, give the concentration of the input");
  }
  if (p.data_form != DataForm::measured && p.input_concentration == p.initial_concentration) {
    throw ProblemError("the input concentration C0 equals the initial concentration CI (" +
                       format_value(p.initial_concentration) +
                       ") with reduced data; reduced concentrations (C - CI)/(C0 - CI) need "
                       "C0 other than CI");
  }
  for (int k = 1; k <= traits.coefficient_count; ++k) {
    const Coefficient& c = p.coefficients[k - 1];
    const Range range = range_of(traits, k);
    if (!in_range(range, c.initial)) {
      throw ProblemError(coefficient_label(traits, k) + " has the initial value " +
                         format_value(c.initial) + "; it must be " + range_text(range) + " (" +
                         reason_of(traits, k) + ")");
    }
    if (!c.varied) continue;
    if (c.lower > c.upper) {
      throw ProblemError(coefficient_label(traits, k) + " is varied between bounds that cross: "
                         "the lower bound " + format_value(c.lower) + " is above the upper bound " +
                         format_value(c.upper));
    }
    if (!in_range(range, c.lower)) {
      throw ProblemError(coefficient_label(traits, k) + " is varied with the lower bound " +
                         format_value(c.lower) + "; it must stay " + range_text(range) + " (" +
                         reason_of(traits, k) + ")");
    }
  }
  double largest = 0.0;
  for (std::size_t i = 0; i < p.observations.size(); ++i) {
    const Observation& o = p.observations[i];
    const std::string which = "observation " + std::to_string(i + 1);
    require_point(o.distance, o.time, which + "'s");
    largest = std::max(largest, o.distance);
  }
  if (!p.observations.empty()) require_scale(p, largest, "observation distance");
}

}  // namespace

void require_point(double distance, double time, const std::string& which) {
  if (distance < 0.0) {
    throw ProblemError(which + " distance is " + format_value(distance) +
                       "; distances are 0 or more");
  }
  if (time < 0.0) {
    throw ProblemError(which + " time is " + format_value(time) + "; times are 0 or more");
  }
}

void require_scale(const Problem& p, double largest, const std::string& what) {
  if (largest > 0.0) return;
  const ModelTraits& traits = model_traits(static_cast<int>(p.model));
  if (traits.family == ModelFamily::nonequilibrium) {
    throw ProblemError("the largest " + what + " is 0; model " + std::to_string(traits.code) +
                       " is scaled with it (its Peclet number and reduced time), give a "
                       "distance above 0");
  }
  if (p.data_form == DataForm::reduced_concentration_and_time) {
    throw ProblemError("the largest " + what + " is 0; reduced times are scaled with it, give a "
                       "distance above 0");
  }
}

void require_coefficient_values(Model model, std::span<const double> coefficients) {
  const ModelTraits& traits = model_traits(static_cast<int>(model));
  for (int k = 1; k <= traits.coefficient_count && k <= static_cast<int>(coefficients.size());
       ++k) {
    const double b = coefficients[k - 1];
    // Called for every model evaluation of a fit: the label is built only
    // for a refusal.
    if (!std::isfinite(b)) require_finite(b, coefficient_label(traits, k));
    const Range range = range_of(traits, k);
    if (!in_range(range, b)) {
      throw ProblemError(coefficient_label(traits, k) + " is " + format_value(b) +
                         "; it must be " + range_text(range) + " (" + reason_of(traits, k) + ")");
    }
  }
}

// The public limits are the tables' of the problem record.
static_assert(kMaxObservations == MAXOBS && kMaxPulses == MAXPULSE);

int coefficient_count(Model model) {
  return model_traits(static_cast<int>(model)).coefficient_count;
}

std::vector<std::string> coefficient_names(Model model) {
  const int code = static_cast<int>(model);
  if (!valid_model_code(code)) {
    throw ProblemError("model code " + std::to_string(code) + " is outside 1..8");
  }
  const ModelTraits& traits = model_traits(code);
  std::vector<std::string> names;
  for (int k = 0; k < traits.coefficient_count; ++k) names.emplace_back(traits.names[k]);
  return names;
}

std::vector<Coefficient> coefficients_by_name(
    Model model, const std::map<std::string, Coefficient>& coefficients) {
  const std::vector<std::string> names = coefficient_names(model);
  const auto list = [&names] {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
  };
  for (const auto& entry : coefficients) {
    if (std::find(names.begin(), names.end(), entry.first) == names.end()) {
      throw ProblemError("model " + std::to_string(static_cast<int>(model)) +
                         " has no coefficient named \"" + entry.first + "\"; its names are " +
                         list());
    }
  }
  // Defaults of the coefficients that may be left out: fixed values under
  // which the model reduces to the simpler one.
  const std::map<std::string, double> defaults = {
      {"R", 1.0}, {"T0", 1e30}, {"MU", 0.0}, {"GAMMA", 0.0}};
  std::vector<Coefficient> result;
  for (const std::string& name : names) {
    Coefficient c;
    if (const auto given = coefficients.find(name); given != coefficients.end()) {
      c = given->second;
    } else if (const auto d = defaults.find(name); d != defaults.end()) {
      c.initial = c.lower = c.upper = d->second;
      c.varied = false;
    } else {
      throw ProblemError("model " + std::to_string(static_cast<int>(model)) +
                         " needs coefficient " + name + " (it has no default)");
    }
    c.name = name;
    result.push_back(c);
  }
  return result;
}

Problem check_problem(const Problem& problem, Numerics numerics) {
  Problem p = problem;
  const int code = static_cast<int>(p.model);
  if (!valid_model_code(code)) {
    throw ProblemError("model code " + std::to_string(code) + " is outside 1..8");
  }
  const int ncoef = coefficient_count(p.model);
  if (static_cast<int>(p.coefficients.size()) != ncoef) {
    throw ProblemError("model " + std::to_string(code) + " takes " + std::to_string(ncoef) +
                       " coefficients; " + std::to_string(p.coefficients.size()) + " were given");
  }
  for (std::size_t k = 0; k < p.coefficients.size(); ++k) {
    Coefficient& c = p.coefficients[k];
    const std::string which = "coefficient " + std::to_string(k + 1);
    while (!c.name.empty() && c.name.back() == ' ') c.name.pop_back();
    if (c.name.size() > 6) {
      throw ProblemError(which + " is named \"" + c.name + "\"; a name has at most 6 characters");
    }
    for (char ch : c.name) {
      if (ch == '\n' || ch == '\r') throw ProblemError(which + "'s name holds a line end");
    }
    require_finite(c.initial, which + "'s initial value");
    require_finite(c.lower, which + "'s lower bound");
    require_finite(c.upper, which + "'s upper bound");
  }
  for (std::size_t i = 0; i < p.observations.size(); ++i) {
    const Observation& o = p.observations[i];
    const std::string which = "observation " + std::to_string(i + 1);
    require_finite(o.concentration, which + "'s concentration");
    require_finite(o.distance, which + "'s distance");
    require_finite(o.time, which + "'s time");
  }
  if (p.pulses.size() == 1 || p.pulses.size() > static_cast<std::size_t>(kMaxPulses)) {
    throw ProblemError("the problem has " + std::to_string(p.pulses.size()) +
                       " pulses; give none (a single pulse of duration T0 and concentration "
                       "C0) or 2 to " + std::to_string(kMaxPulses));
  }
  for (std::size_t j = 0; j < p.pulses.size(); ++j) {
    const std::string which = "pulse " + std::to_string(j + 1);
    require_finite(p.pulses[j].time, which + "'s time");
    require_finite(p.pulses[j].value, which + "'s value");
  }
  require_finite(p.initial_concentration, "the initial concentration");
  require_finite(p.input_concentration, "the input concentration");
  const int form = static_cast<int>(p.data_form);
  if (form < 0 || form > 2) {
    throw ProblemError("data form " + std::to_string(form) + " is outside 0..2");
  }
  const int listing = static_cast<int>(p.report.listing);
  if (listing < 0 || listing > 3) {
    throw ProblemError("listing " + std::to_string(listing) + " is outside 0..3");
  }
  const ModelTraits& traits = model_traits(code);
  if (!p.from_deck) require_names_in_place(p, traits);
  if (!p.from_deck || numerics != Numerics::legacy) require_defined(p, traits);

  // The deck's silent corrections.
  if (model_traits(code).family == ModelFamily::nonequilibrium) {
    Coefficient& beta = p.coefficients[4];
    if (beta.upper == 0.0 || beta.upper > 1.0) beta.upper = 1.0;
  }
  if (!p.pulses.empty()) p.coefficients[3].varied = false;
  if (p.data_form == DataForm::reduced_concentration_and_time) p.coefficients[0].varied = false;
  return p;
}

std::unique_ptr<ProblemRecord> record_of(const Problem& problem) {
  auto rec = std::make_unique<ProblemRecord>();
  const Problem& p = problem;
  ObservationGroup& obs = rec->obs;
  ModelWork& work = rec->work;
  PulseGroup& pulses = rec->pulses;
  work.MODE = static_cast<int>(p.model);
  rec->IDATA = 1;
  obs.IRED = static_cast<int>(p.data_form);
  rec->ILSQ = p.report.least_squares_line ? 1 : 0;
  // More observations than the tables hold stay with the caller (NOB 0).
  const bool held = p.observations.size() <= static_cast<std::size_t>(MAXOBS);
  obs.NOB = held ? static_cast<int>(p.observations.size()) : 0;
  rec->NOECHO = p.report.echo ? 0 : 1;
  rec->IOUT = static_cast<int>(p.report.listing);
  obs.NCOEF = coefficient_count(p.model);
  for (int k = 1; k <= obs.NCOEF; ++k) {
    const Coefficient& c = p.coefficients[k - 1];
    std::string name = c.name;
    name.resize(6, ' ');
    std::copy(name.begin(), name.begin() + 4, rec->CNAME[k].head.begin());
    std::copy(name.begin() + 4, name.end(), rec->CNAME[k].tail.begin());
    rec->coef(k, 1) = c.initial;
    obs.IVAR[k] = c.varied ? 1 : 0;
    rec->BMIN[k] = c.lower;
    rec->BMAX[k] = c.upper;
  }
  work.CI = p.initial_concentration;
  work.C0 = p.input_concentration;
  rec->C0DECK = work.C0;
  pulses.NPULSE = p.pulses.empty() ? 1 : static_cast<int>(p.pulses.size());
  for (std::size_t j = 1; j <= p.pulses.size(); ++j) {
    double& time = model_traits(work.MODE).load ? pulses.TPULSE[j] : pulses.TPULSE[j + 1];
    time = p.pulses[j - 1].time;
    pulses.CPULSE[j] = p.pulses[j - 1].value;
  }
  work.XMAX = 0.0;
  for (const Observation& o : p.observations) {
    if (o.distance > work.XMAX) work.XMAX = o.distance;
  }
  for (int i = 1; i <= obs.NOB; ++i) {
    const Observation& o = p.observations[i - 1];
    rec->COBS[i] = o.concentration;
    obs.XOBS[i] = o.distance;
    obs.TOBS[i] = o.time;
  }
  return rec;
}

Problem problem_of(const ProblemRecord& rec) {
  Problem p;
  p.from_deck = true;
  p.model = static_cast<Model>(rec.work.MODE);
  p.data_form = static_cast<DataForm>(rec.obs.IRED);
  p.report.echo = rec.NOECHO == 0;
  p.report.least_squares_line = rec.ILSQ != 0;
  p.report.listing = static_cast<Listing>(rec.IOUT <= 0 ? 0 : rec.IOUT >= 3 ? 3 : rec.IOUT);
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    Coefficient c;
    c.name.assign(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
    c.name.append(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
    while (!c.name.empty() && c.name.back() == ' ') c.name.pop_back();
    c.initial = rec.coef(k, 1);
    c.lower = rec.BMIN[k];
    c.upper = rec.BMAX[k];
    c.varied = rec.obs.IVAR[k] != 0;
    p.coefficients.push_back(c);
  }
  p.initial_concentration = rec.work.CI;
  p.input_concentration = rec.C0DECK;
  if (rec.pulses.NPULSE != 1) {
    for (int j = 1; j <= rec.pulses.NPULSE; ++j) {
      const double time =
          model_traits(rec.work.MODE).load ? rec.pulses.TPULSE[j] : rec.pulses.TPULSE[j + 1];
      p.pulses.push_back({time, rec.pulses.CPULSE[j]});
    }
  }
  for (int i = 1; i <= rec.obs.NOB; ++i) {
    p.observations.push_back({rec.COBS[i], rec.obs.XOBS[i], rec.obs.TOBS[i]});
  }
  return p;
}

}  // namespace btcfit
