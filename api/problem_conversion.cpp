#include "api/problem_conversion.hpp"

#include <algorithm>
#include <cmath>
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

}  // namespace

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

Problem check_problem(const Problem& problem) {
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
  if (p.observations.size() > static_cast<std::size_t>(kMaxObservations)) {
    throw ProblemError("the problem has " + std::to_string(p.observations.size()) +
                       " observations; at most " + std::to_string(kMaxObservations) +
                       " are allowed");
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
  obs.NOB = static_cast<int>(p.observations.size());
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
  for (int i = 1; i <= obs.NOB; ++i) {
    const Observation& o = p.observations[i - 1];
    rec->COBS[i] = o.concentration;
    obs.XOBS[i] = o.distance;
    obs.TOBS[i] = o.time;
    if (obs.XOBS[i] > work.XMAX) work.XMAX = obs.XOBS[i];
  }
  return rec;
}

Problem problem_of(const ProblemRecord& rec) {
  Problem p;
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
