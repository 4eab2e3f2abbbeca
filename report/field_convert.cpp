// Conversion of single fields: integers and fixed-point reals to text of a
// given width, and field text back to integers and reals.
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

std::string stars(int width) {
  return std::string(static_cast<std::size_t>(width > 0 ? width : 0), '*');
}

// `text` right-aligned in `width` columns, or asterisks when it is wider.
std::string right_align(std::string_view text, int width) {
  if (width <= 0) return {};
  auto w = static_cast<std::size_t>(width);
  if (text.size() > w) return stars(width);
  std::string out(w - text.size(), ' ');
  out += text;
  return out;
}

std::string format_non_finite(double value, int width) {
  if (std::isnan(value)) return right_align("NaN", width);
  if (value > 0) return right_align(width >= 8 ? "Infinity" : "Inf", width);
  return right_align(width >= 9 ? "-Infinity" : "-Inf", width);
}

// Number of digits after the point in the exact decimal expansion of a
// finite double (an upper bound; never more than 1074).
int exact_fraction_digits(double value) {
  if (value == 0.0) return 0;
  int exp = 0;
  std::frexp(value, &exp);  // value = m * 2^exp, 0.5 <= |m| < 1
  int digits = 53 - exp;    // lowest mantissa bit has weight 2^(exp-53)
  if (digits < 0) return 0;
  return digits > 1074 ? 1074 : digits;
}

}  // namespace

std::string format_integer_field(std::int32_t value, int width) {
  char buf[16];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return right_align(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)),
                     width);
}

// The value is rounded to `decimals` places from its exact binary value;
// a value exactly halfway between two results is rounded away from zero.
// A negative value keeps its minus sign even when it rounds to zero; the
// sign bit decides, so that -0.0 is shown with its minus sign as well.
std::string format_real_field(double value, int width, int decimals) {
  if (!std::isfinite(value)) return format_non_finite(value, width);
  if (decimals < 0) decimals = 0;

  // The exact expansion, with at least one digit beyond the last one kept.
  // No rounding happens here because the precision covers every digit.
  const double mag = std::fabs(value);
  int precision = exact_fraction_digits(mag);
  if (precision < decimals + 1) precision = decimals + 1;
  std::string exact(static_cast<std::size_t>(precision) + 320, '\0');
  auto res = std::to_chars(exact.data(), exact.data() + exact.size(), mag,
                           std::chars_format::fixed, precision);
  exact.resize(static_cast<std::size_t>(res.ptr - exact.data()));

  const std::size_t point = exact.find('.');
  // Digits kept: the integer part and `decimals` fraction digits.
  std::string digits = exact.substr(0, point);
  digits.append(exact, point + 1, static_cast<std::size_t>(decimals));
  const bool round_up = exact[point + 1 + static_cast<std::size_t>(decimals)] >= '5';
  if (round_up) {
    std::size_t k = digits.size();
    for (;;) {
      if (k == 0) {
        digits.insert(digits.begin(), '1');
        break;
      }
      --k;
      if (digits[k] == '9') {
        digits[k] = '0';
      } else {
        ++digits[k];
        break;
      }
    }
  }
  std::size_t int_len = digits.size() - static_cast<std::size_t>(decimals);
  std::string_view int_part(digits.data(), int_len);
  std::string_view frac_part(digits.data() + int_len,
                             static_cast<std::size_t>(decimals));

  const bool negative = std::signbit(value);  // -0.0 included
  const std::size_t full_len =
      (negative ? 1 : 0) + int_part.size() + 1 + frac_part.size();
  // The single zero before the point is left out when there is no room
  // for it (but a field always shows at least one digit).
  if (int_part == "0" && decimals > 0 &&
      full_len > static_cast<std::size_t>(width > 0 ? width : 0))
    int_part = {};

  std::string text;
  text.reserve(full_len);
  if (negative) text += '-';
  text += int_part;
  text += '.';
  text += frac_part;
  return right_align(text, width);
}

bool parse_integer_field(std::string_view field, std::int32_t& value) {
  bool negative = false;
  bool sign_seen = false;
  bool digit_seen = false;
  std::int64_t v = 0;
  for (char c : field) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign_seen && !digit_seen) {
      sign_seen = true;
      negative = c == '-';
      continue;
    }
    if (c < '0' || c > '9') return false;
    digit_seen = true;
    v = v * 10 + (c - '0');
    if (v > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
      return false;
  }
  if (!digit_seen) {
    if (sign_seen) return false;
    value = 0;  // an entirely blank field
    return true;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max()) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

// Field text with blanks removed: [sign] digits [. digits] [exponent], where
// the exponent is E or D (either case) with an optionally signed integer, or
// a sign directly followed by an integer. Without a decimal point the last
// `decimals` digits are the fraction.
bool parse_real_field(std::string_view field, int decimals, double& value) {
  std::string s;
  s.reserve(field.size());
  for (char c : field)
    if (c != ' ') s += c;
  if (s.empty()) {
    value = 0.0;
    return true;
  }

  std::size_t p = 0;
  bool negative = false;
  if (s[p] == '+' || s[p] == '-') negative = s[p++] == '-';

  // Mantissa digits, collected without the point.
  std::string mantissa;
  bool point = false;
  long fraction_digits = 0;
  for (; p < s.size(); ++p) {
    char c = s[p];
    if (c >= '0' && c <= '9') {
      mantissa += c;
      if (point) ++fraction_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa.empty()) return false;

  // Exponent.
  long exponent = 0;
  if (p < s.size()) {
    char c = s[p];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++p;
    } else if (c != '+' && c != '-') {
      return false;
    }
    bool exp_negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) exp_negative = s[p++] == '-';
    if (p >= s.size()) return false;
    for (; p < s.size(); ++p) {
      char d = s[p];
      if (d < '0' || d > '9') return false;
      // Beyond this size the result is zero or infinite in any case.
      if (exponent < 100'000'000) exponent = exponent * 10 + (d - '0');
    }
    if (exp_negative) exponent = -exponent;
  }

  long scale = exponent - (point ? fraction_digits : decimals);
  std::string normal;
  normal.reserve(mantissa.size() + 16);
  if (negative) normal += '-';
  normal += mantissa;
  normal += 'e';
  normal += std::to_string(scale);

  errno = 0;
  char* end = nullptr;
  double v = std::strtod(normal.c_str(), &end);
  if (end != normal.c_str() + normal.size()) return false;
  if (std::isinf(v)) return false;  // too large for a double
  value = v;
  return true;
}

}  // namespace btcfit
