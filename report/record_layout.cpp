// Writing values into records and reading fields from records through a
// layout: the walk over the unrolled steps with record ends and reversion.
#include "report/record_layout.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace btcfit {
namespace {

using Kind = LayoutItem::Kind;

[[noreturn]] void mismatch(const Layout& layout, std::size_t n,
                           const char* what) {
  throw std::invalid_argument("layout \"" + layout.text() + "\": " + what +
                              " " + std::to_string(n + 1));
}

// Places `text` into the record starting at 0-based column `col`; columns
// passed over become blanks, earlier content there is overwritten.
void put_at(std::string& record, std::size_t col, std::string_view text) {
  if (record.size() < col) record.resize(col, ' ');
  std::size_t overlap = std::min(text.size(), record.size() - col);
  record.replace(col, overlap, text);
}

std::string format_value(const Layout& layout, const LayoutStep& step,
                         const FieldValue& v, std::size_t n) {
  switch (step.kind) {
    case Kind::Int:
      if (v.kind != FieldValue::Kind::Int)
        mismatch(layout, n, "integer field given a non-integer value");
      return format_integer_field(v.i, step.width);
    case Kind::Real:
      if (v.kind != FieldValue::Kind::Real)
        mismatch(layout, n, "real field given a non-real value");
      return format_real_field(v.r, step.width, step.decimals);
    default: {
      if (v.kind != FieldValue::Kind::Text)
        mismatch(layout, n, "text field given a non-text value");
      auto w = static_cast<std::size_t>(step.width);
      if (w >= v.t.size()) {
        std::string out(w - v.t.size(), ' ');
        out += v.t;
        return out;
      }
      return std::string(v.t.substr(0, w));
    }
  }
}

// The field text for an error message: blanks around it dropped, control
// characters shown as escapes.
std::string shown(std::string_view field) {
  std::size_t b = field.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  std::size_t e = field.find_last_not_of(' ');
  field = field.substr(b, e - b + 1);
  std::string out;
  static const char hex[] = "0123456789ABCDEF";
  for (char c : field) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> format_records(const Layout& layout,
                                        std::span<const FieldValue> values) {
  const std::vector<LayoutStep>& steps = layout.steps();
  if (!values.empty() && !layout.has_field())
    mismatch(layout, 0, "no data field for value");

  std::vector<std::string> records;
  std::string record;
  std::size_t col = 0;
  std::size_t next = 0;  // next value
  std::size_t pos = 0;   // next step
  bool more = true;
  while (more) {
    if (pos == steps.size()) {
      if (next == values.size()) break;
      // Values remain: reversion.
      if (!layout.resume_has_field())
        mismatch(layout, next, "no data field after reversion for value");
      records.push_back(std::move(record));
      record.clear();
      col = 0;
      pos = layout.resume_step();
      continue;
    }
    const LayoutStep& step = steps[pos];
    switch (step.kind) {
      case Kind::Literal:
        put_at(record, col, step.text);
        col += step.text.size();
        break;
      case Kind::Move:
        col += static_cast<std::size_t>(step.width);
        break;
      case Kind::RecordEnd:
        records.push_back(std::move(record));
        record.clear();
        col = 0;
        break;
      default: {
        if (next == values.size()) {
          more = false;  // the record ends before the next data field
          continue;
        }
        std::string text = format_value(layout, step, values[next], next);
        put_at(record, col, text);
        col += text.size();
        ++next;
        break;
      }
    }
    ++pos;
  }
  records.push_back(std::move(record));
  return records;
}

void write_record(const Layout& layout, std::span<const FieldValue> values,
                  OutputUnit& out) {
  for (const std::string& r : format_records(layout, values)) out.put_record(r);
}

void read_record(const Layout& layout, InputUnit& in,
                 std::span<const FieldTarget> targets) {
  const std::vector<LayoutStep>& steps = layout.steps();
  if (!targets.empty() && !layout.has_field())
    mismatch(layout, 0, "no data field for target");

  std::string record;
  auto next_record = [&] {
    if (!in.get_record(record))
      in.fail("end of file while reading record " + std::to_string(in.records_read() + 1),
              in.records_read() + 1);
  };
  next_record();

  std::string field;
  std::size_t col = 0;
  std::size_t next = 0;
  std::size_t pos = 0;
  for (;;) {
    if (pos == steps.size()) {
      if (next == targets.size()) return;
      if (!layout.resume_has_field())
        mismatch(layout, next, "no data field after reversion for target");
      next_record();
      col = 0;
      pos = layout.resume_step();
      continue;
    }
    const LayoutStep& step = steps[pos++];
    switch (step.kind) {
      case Kind::Literal:
        break;  // literals take no part in reading
      case Kind::Move:
        col += static_cast<std::size_t>(step.width);
        break;
      case Kind::RecordEnd:
        next_record();
        col = 0;
        break;
      default: {
        if (next == targets.size()) return;
        const FieldTarget& t = targets[next];
        auto w = static_cast<std::size_t>(step.width);
        // The record is taken as extended with blanks.
        field.assign(w, ' ');
        if (col < record.size())
          field.replace(0, std::min(w, record.size() - col),
                        std::string_view(record).substr(col, w));
        const std::size_t first = col + 1;
        col += w;
        auto unreadable = [&](const char* what) {
          in.fail(std::string("unreadable ") + what + " in columns " +
                  std::to_string(first) + "-" + std::to_string(col) +
                  " of record " + std::to_string(in.records_read()) + ": \"" +
                  shown(field) + "\"",
                  in.records_read(), int(first), int(col));
        };
        switch (step.kind) {
          case Kind::Int:
            if (t.kind != FieldTarget::Kind::Int)
              mismatch(layout, next, "integer field for non-integer target");
            if (!parse_integer_field(field, *t.i)) unreadable("integer");
            break;
          case Kind::Real:
            if (t.kind != FieldTarget::Kind::Real)
              mismatch(layout, next, "real field for non-real target");
            if (!parse_real_field(field, step.decimals, *t.r))
              unreadable("real");
            break;
          default:
            if (t.kind != FieldTarget::Kind::Text)
              mismatch(layout, next, "text field for non-text target");
            if (w >= t.len) {
              field.copy(t.t, t.len, w - t.len);
            } else {
              field.copy(t.t, w, 0);
              std::fill(t.t + w, t.t + t.len, ' ');
            }
            break;
        }
        ++next;
        break;
      }
    }
  }
}

}  // namespace btcfit
