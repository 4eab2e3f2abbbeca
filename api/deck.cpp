// The public deck functions: reading a deck into a Problem and writing a
// Problem as a deck.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

#include "btcfit/errors.hpp"
#include "btcfit/problem.hpp"
#include "api/deck_reader.hpp"
#include "api/problem_conversion.hpp"
#include "report/record_layout.hpp"

namespace btcfit {
namespace {

Problem read_unit(InputUnit& deck) {
  auto rec = std::make_unique<ProblemRecord>();
  DeckListener quiet;
  try {
    read_deck(*rec, deck, quiet);
  } catch (const IoError& e) {
    throw DeckError(e.what(), e.record(), e.first_column(), e.last_column());
  }
  return problem_of(*rec);
}

constexpr int kFieldWidth = 10;

std::string right_aligned(const std::string& text) {
  return std::string(kFieldWidth - text.size(), ' ') + text;
}

// %g text with the exponent cut to its digits ("1.5e-05" to "1.5e-5").
std::string compact(const char* text) {
  std::string s(text);
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  std::string sign;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    if (exponent[0] == '-') sign = "-";
    exponent.erase(0, 1);
  }
  while (exponent.size() > 1 && exponent[0] == '0') exponent.erase(0, 1);
  return mantissa + "e" + sign + exponent;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The shortest text of at most 10 characters that the deck reader reads
// back as exactly `v`.
std::string real_field(double v, const std::string& what) {
  for (int digits = 1; digits <= 17; ++digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    std::string text = compact(buf);
    // A decimal point keeps the reader's implied decimals out of play.
    if (text.find_first_of(".e") == std::string::npos) text += '.';
    if (static_cast<int>(text.size()) > kFieldWidth) continue;
    double back = 0.0;
    if (parse_real_field(text, 0, back) && same_bits(back, v)) return right_aligned(text);
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  throw ProblemError(what + " " + buf +
                     " cannot be written exactly in a deck's 10-column field; round it to "
                     "at most 8 significant digits");
}

std::string int_field(long v) { return right_aligned(std::to_string(v)); }

}  // namespace

Problem read_deck(std::istream& in) {
  InputUnit deck(5, "deck", in);
  return read_unit(deck);
}

Problem read_deck(const std::filesystem::path& path) {
  const std::string name = path.string();
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    throw DeckError("unit 5 (" + name + "): cannot open: " + std::strerror(errno), 0, 0, 0);
  }
  InputUnit deck(5, name, f, true);
  return read_unit(deck);
}

void write_deck(const Problem& problem, std::ostream& out) {
  const Problem p = check_problem(problem);
  if (p.observations.size() > static_cast<std::size_t>(kMaxObservations)) {
    throw ProblemError("the problem has " + std::to_string(p.observations.size()) +
                       " observations; a deck holds at most " +
                       std::to_string(kMaxObservations));
  }
  const int ncoef = coefficient_count(p.model);
  std::string text;
  const auto end_record = [&] { text += '\n'; };
  text += int_field(1);
  end_record();
  text += int_field(static_cast<int>(p.model)) + int_field(1) +
          int_field(static_cast<int>(p.data_form)) + int_field(p.report.least_squares_line) +
          int_field(static_cast<long>(p.observations.size())) + int_field(!p.report.echo) +
          int_field(static_cast<int>(p.report.listing));
  end_record();
  for (const Coefficient& c : p.coefficients) {
    std::string name = c.name;
    name.resize(6, ' ');
    text += "    " + name;
  }
  end_record();
  const auto coefficient_record = [&](auto value, const char* what) {
    for (int k = 0; k < ncoef; ++k) {
      text += real_field(value(p.coefficients[k]),
                         "the " + std::string(what) + " of coefficient " + std::to_string(k + 1));
    }
    end_record();
  };
  coefficient_record([](const Coefficient& c) { return c.initial; }, "initial value");
  for (int k = 0; k < ncoef; ++k) {
    // Six flags to a record; a seventh goes on the next.
    if (k == 6) end_record();
    text += int_field(p.coefficients[k].varied ? 1 : 0);
  }
  end_record();
  coefficient_record([](const Coefficient& c) { return c.lower; }, "lower bound");
  coefficient_record([](const Coefficient& c) { return c.upper; }, "upper bound");
  text += real_field(p.initial_concentration, "the initial concentration") +
          real_field(p.input_concentration, "the input concentration") +
          int_field(p.pulses.empty() ? 1 : static_cast<long>(p.pulses.size()));
  end_record();
  for (std::size_t j = 0; j < p.pulses.size(); ++j) {
    const std::string which = "pulse " + std::to_string(j + 1);
    text += real_field(p.pulses[j].time, "the time of " + which) +
            real_field(p.pulses[j].value, "the value of " + which);
    end_record();
  }
  for (std::size_t i = 0; i < p.observations.size(); ++i) {
    const Observation& o = p.observations[i];
    const std::string which = "observation " + std::to_string(i + 1);
    text += real_field(o.concentration, "the concentration of " + which) +
            real_field(o.distance, "the distance of " + which) +
            real_field(o.time, "the time of " + which);
    end_record();
  }
  out << text;
}

}  // namespace btcfit
