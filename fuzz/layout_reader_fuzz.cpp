// libFuzzer target: records read through the program's input layouts, and
// the values written back through some of its report layouts.
//
// Input bytes:
//   0      which input layout (modulo 6)
//   1      how many targets each read asks for (1 + byte % 14; more than
//          one record's worth goes on through reversion)
//   2      length of the text targets: 0 keeps the declared lengths of the
//          program (4 and 2 for coefficient names, 15 for file names),
//          otherwise 1 + byte % 20
//   3...   the records, taken by up to eight reads in a row, until the end
//          of the file or an unreadable field (IoError, a clean end)
// The first values read, and every 8-byte group of the records taken as
// the bit pattern of a double and of an integer (so NaN, infinities, huge
// and tiny values), are written through the writer layouts. Each written
// field is checked: the right width; asterisks only when the value cannot
// fit; otherwise a text that reads back to the value rounded to the
// field's decimals; the fixed texts for values that are not numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "report/record_layout.hpp"

namespace {

using namespace btcfit;

[[noreturn]] void broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "layout_reader_fuzz: %s: \"%s\"\n", what, detail.c_str());
  std::abort();
}

bool all_stars(const std::string& s) {
  return !s.empty() && s.find_first_not_of('*') == std::string::npos;
}

// One Iw field as written.
void check_integer_text(const std::string& text, std::int32_t v, int width) {
  if (static_cast<int>(text.size()) != width) broken("integer field width", text);
  char buf[32];
  const int len = std::snprintf(buf, sizeof buf, "%d", v);
  if (all_stars(text)) {
    if (len <= width) broken("integer needlessly in asterisks", text);
    return;
  }
  std::int32_t back = 0;
  if (!parse_integer_field(text, back) || back != v)
    broken("integer does not read back", text);
  if (text.back() == ' ') broken("integer not right-aligned", text);
}

// One Fw.d field as written.
void check_real_text(const std::string& text, double v, int width, int decimals) {
  if (static_cast<int>(text.size()) != width) broken("real field width", text);
  if (std::isnan(v) || std::isinf(v)) {
    std::string want = std::isnan(v) ? "NaN"
                       : v > 0       ? (width >= 8 ? "Infinity" : "Inf")
                                     : (width >= 9 ? "-Infinity" : "-Inf");
    if (static_cast<int>(want.size()) > width) {
      if (!all_stars(text)) broken("non-number text should be asterisks", text);
    } else {
      std::string expected(static_cast<std::size_t>(width) - want.size(), ' ');
      expected += want;
      if (text != expected) broken("wrong text for a non-number", text);
    }
    return;
  }
  // The same value through printf, which also rounds the exact binary
  // value to nearest. The two may differ only on an exact tie, which the
  // writer rounds away from zero and printf to even. Zero is written
  // without a sign, and the zero before the point only when it fits.
  static char buf[2048];
  std::snprintf(buf, sizeof buf, "%#.*f", decimals, v);
  std::string expected = buf;
  if (v == 0.0 && expected[0] == '-') expected.erase(0, 1);
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t zero = expected[0] == '-' ? 1 : 0;
  if (decimals > 0 && expected.compare(zero, 2, "0.") == 0 && expected.size() > w)
    expected.erase(zero, 1);
  expected = expected.size() > w ? std::string(w, '*')
                                 : std::string(w - expected.size(), ' ') + expected;
  if (text != expected) {
    std::snprintf(buf, sizeof buf, "%.*f", 1100, v);  // every digit
    std::string_view exact(buf);
    std::string_view rest = exact.substr(exact.find('.') + 1 + static_cast<std::size_t>(decimals));
    if (rest.empty() || rest[0] != '5' ||
        rest.find_first_not_of('0', 1) != std::string_view::npos)
      broken("real rounded or placed wrongly", text + "\" expected \"" + expected);
    double back = 0.0, other = 0.0;
    if (!all_stars(text) &&
        (!parse_real_field(text, decimals, back) ||
         !parse_real_field(expected, decimals, other) ||
         !(std::fabs(back) > std::fabs(other))))
      broken("tie not rounded away from zero", text);
  }
  if (all_stars(text)) return;
  double back = 0.0;
  if (!parse_real_field(text, decimals, back)) broken("real does not read back", text);
  const double tol = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) +
                     4 * std::fabs(v) * 2.220446049250313e-16;
  if (!(std::fabs(back - v) <= tol)) broken("real reads back to another value", text);
}

struct WriterCase {
  Layout layout;
  // Kind and width of each field in order, d of real fields; the record
  // column where each field starts.
  struct Field {
    bool real;
    int width;
    int decimals;
    std::size_t column;
  };
  std::vector<Field> fields;
};

const std::vector<WriterCase>& writer_cases() {
  static const std::vector<WriterCase> cases = [] {
    std::vector<WriterCase> c;
    c.push_back({Layout("(TR11,I5,TR6,F12.4,TR4,F12.4,TR4,F12.4)"),
                 {{false, 5, 0, 11}, {true, 12, 4, 22}, {true, 12, 4, 38},
                  {true, 12, 4, 54}}});
    std::vector<WriterCase::Field> f{{false, 5, 0, 0}, {true, 10, 6, 5}};
    for (int k = 0; k < 7; ++k)
      f.push_back({true, 9, 5, 15 + 9 * static_cast<std::size_t>(k)});
    c.push_back({Layout("(I5,F10.6,7F9.5)"), f});
    c.push_back({Layout("(F13.4,TR6,F13.4)"), {{true, 13, 4, 0}, {true, 13, 4, 19}}});
    c.push_back({Layout("(TR11,A4,A2,4('.'),F12.4)"),
                 {{true, 12, 4, 21}}});  // text fields filled with "ALPHA "
    c.push_back({Layout("(TR11,I5,3(TR7,F10.4))"),
                 {{false, 5, 0, 11}, {true, 10, 4, 23}, {true, 10, 4, 40},
                  {true, 10, 4, 57}}});
    return c;
  }();
  return cases;
}

// Writes one record's worth of values (and, for the layouts without a
// group, the same values twice over to go through reversion) and checks
// every field.
void write_and_check(std::int32_t iv, const std::vector<double>& reals) {
  for (const WriterCase& wc : writer_cases()) {
    std::vector<FieldValue> values;
    const bool names = wc.layout.text().find("A4") != std::string::npos;
    if (names) {
      values.emplace_back("ALPH");
      values.emplace_back("A ");
    }
    std::size_t r = 0;
    for (const auto& field : wc.fields) {
      if (field.real) {
        values.emplace_back(reals.empty() ? 0.0 : reals[r++ % reals.size()]);
      } else {
        values.emplace_back(iv);
      }
    }
    std::vector<std::string> records = format_records(wc.layout, values);
    if (records.size() != 1) broken("one record expected", wc.layout.text());
    const std::string& rec = records[0];
    std::size_t v = names ? 2 : 0;
    for (const auto& field : wc.fields) {
      if (field.column + static_cast<std::size_t>(field.width) > rec.size())
        broken("record too short", rec);
      std::string text = rec.substr(field.column, static_cast<std::size_t>(field.width));
      if (field.real) {
        check_real_text(text, values[v].r, field.width, field.decimals);
      } else {
        check_integer_text(text, values[v].i, field.width);
      }
      ++v;
    }
    if (rec.size() != wc.fields.back().column +
                          static_cast<std::size_t>(wc.fields.back().width))
      broken("record length", rec);
    // Reversion to the start of a layout without groups: the values once
    // more, and one value short of that.
    if (wc.layout.reversion_index() != -1) continue;
    std::vector<FieldValue> twice = values;
    twice.insert(twice.end(), values.begin(), values.end());
    records = format_records(wc.layout, twice);
    if (records.size() != 2 || records[1] != records[0])
      broken("reversion should repeat the record", wc.layout.text());
    twice.pop_back();
    records = format_records(wc.layout, twice);
    if (records.size() != 2) broken("reversion with one value short", wc.layout.text());
  }
  // Single fields of every width and decimal count the report uses.
  static const int widths[][2] = {{10, 4}, {12, 4}, {13, 4}, {10, 6}, {9, 5},
                                  {10, 0}, {3, 1},  {1, 0},  {7, 6},  {8, 2}};
  for (double x : reals)
    for (const auto& wd : widths)
      check_real_text(format_real_field(x, wd[0], wd[1]), x, wd[0], wd[1]);
  for (int w : {1, 2, 5, 10, 11, 12})
    check_integer_text(format_integer_field(iv, w), iv, w);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 3) return 0;
  static const Layout layouts[] = {
      Layout("(7I10)"),         Layout("(6I10)"),
      Layout("(7F10.0)"),       Layout("(7(TR4,A4,A2))"),
      Layout("(2F10.0,I10)"),   Layout("(A15)"),
  };
  const int which = data[0] % 6;
  const Layout& layout = layouts[which];
  const std::size_t count = 1 + data[1] % 14;
  const std::size_t text_len = data[2] == 0 ? 0 : 1 + data[2] % 20;
  const std::uint8_t* payload = data + 3;
  const std::size_t payload_size = size - 3;

  // Raw bit patterns of the payload as doubles and integers.
  std::vector<double> raw_reals;
  std::int32_t raw_int = 0;
  for (std::size_t k = 0; k + 8 <= payload_size && raw_reals.size() < 9; k += 8) {
    double d;
    std::memcpy(&d, payload + k, sizeof d);
    raw_reals.push_back(d);
    std::memcpy(&raw_int, payload + k, sizeof raw_int);
  }
  write_and_check(raw_int, raw_reals);

  std::FILE* f = payload_size > 0
                     ? fmemopen(const_cast<std::uint8_t*>(payload), payload_size, "rb")
                     : std::tmpfile();
  if (f == nullptr) broken("cannot open the records in memory", "");
  InputUnit in(5, "records.in", f, true);

  std::vector<std::int32_t> ints(count);
  std::vector<double> reals(count);
  // Text targets: each with a guard byte behind it that must stay intact.
  const std::size_t head_len = text_len ? text_len : (which == 5 ? 15 : 4);
  const std::size_t tail_len = text_len ? text_len : 2;
  std::vector<std::string> heads(count, std::string(head_len + 1, '#'));
  std::vector<std::string> tails(count, std::string(tail_len + 1, '#'));

  std::vector<double> read_reals;  // the first nine reals read
  std::int32_t read_int = 0;       // the last integer read
  for (int round = 0; round < 8; ++round) {
    std::vector<FieldTarget> targets;
    for (std::size_t k = 0; k < count; ++k) {
      switch (which) {
        case 0:
        case 1:
          targets.emplace_back(ints[k]);
          break;
        case 2:
          targets.emplace_back(reals[k]);
          break;
        case 3:
          targets.emplace_back(heads[k].data(), head_len);
          targets.emplace_back(tails[k].data(), tail_len);
          break;
        case 4:
          // (2F10.0,I10): two reals and an integer per group of three.
          if (k % 3 == 2)
            targets.emplace_back(ints[k]);
          else
            targets.emplace_back(reals[k]);
          break;
        default:
          targets.emplace_back(heads[k].data(), head_len);
          break;
      }
    }
    try {
      read_record(layout, in, targets);
    } catch (const IoError&) {
      break;
    }
    for (std::size_t k = 0; k < count; ++k) {
      if (heads[k].back() != '#' || tails[k].back() != '#')
        broken("text target overrun", heads[k]);
      if (!std::isfinite(reals[k])) broken("a field read as a non-number", "");
    }
    for (std::size_t k = 0; k < count; ++k) {
      if ((which == 2 || (which == 4 && k % 3 != 2)) && read_reals.size() < 9)
        read_reals.push_back(reals[k]);
      if (which <= 1 || (which == 4 && k % 3 == 2)) read_int = ints[k];
    }
  }
  write_and_check(read_int, read_reals);
  return 0;
}
