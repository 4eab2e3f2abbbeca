// Fixed-column record layouts.
//
// Every line the program reads from the deck or the console and every line
// it writes to the report, the console or pd.dat goes through a layout such
// as "(TR11,I5,TR6,F12.4,TR4,F12.4,TR4,F12.4)". A Layout is parsed once from
// its text (layouts are program constants) and then used to write values
// into records or to read fields from records.
//
// Items: literals 'text', TRn moves, groups r(...), record ends '/', and the
// data fields Iw, Fw.d and Aw with optional repeat counts. Written records
// end with CR LF; on input a CR before the LF is dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace btcfit {

// A run-ending input/output failure on one unit. what() reads like
//   unit 5 (deck.in): unreadable integer in columns 11-20 of record 2: "1.0"
// A failure to read a field carries the record number (from 1) and the
// columns of the field (from 1); an early end of file the number of the
// missing record; other failures 0 for each.
class IoError : public std::runtime_error {
 public:
  IoError(int unit, std::string_view file, std::string_view detail, int record = 0,
          int first_column = 0, int last_column = 0);
  int unit() const { return unit_; }
  int record() const { return record_; }
  int first_column() const { return first_column_; }
  int last_column() const { return last_column_; }

 private:
  int unit_;
  int record_;
  int first_column_;
  int last_column_;
};

// A value written through a layout.
struct FieldValue {
  enum class Kind { Int, Real, Text };
  Kind kind;
  std::int32_t i = 0;
  double r = 0.0;
  std::string_view t;

  FieldValue(std::int32_t v) : kind(Kind::Int), i(v) {}
  FieldValue(double v) : kind(Kind::Real), r(v) {}
  FieldValue(std::string_view v) : kind(Kind::Text), t(v) {}
  FieldValue(const char* v) : kind(Kind::Text), t(v) {}
};

// A place that a layout reads a field into. Text targets have a fixed
// length (the declared length of the text variable).
struct FieldTarget {
  enum class Kind { Int, Real, Text };
  Kind kind;
  std::int32_t* i = nullptr;
  double* r = nullptr;
  char* t = nullptr;
  std::size_t len = 0;

  FieldTarget(std::int32_t& v) : kind(Kind::Int), i(&v) {}
  FieldTarget(double& v) : kind(Kind::Real), r(&v) {}
  FieldTarget(char* text, std::size_t length)
      : kind(Kind::Text), t(text), len(length) {}
};

// One parsed layout item.
struct LayoutItem {
  enum class Kind { Literal, Move, RecordEnd, Int, Real, Text, Group };
  Kind kind;
  int repeat = 1;    // repeat count of a field or a group
  int width = 0;     // w of Iw, Fw.d, Aw; n of TRn
  int decimals = 0;  // d of Fw.d
  std::string text;  // literal text
  std::vector<LayoutItem> items;  // members of a group
};

// One step of a layout with its groups and repeat counts unrolled: the
// sequence that writing and reading walk through. kind is never Group.
struct LayoutStep {
  LayoutItem::Kind kind;
  int width = 0;     // w of a field; n of a move
  int decimals = 0;  // d of Fw.d
  std::string text;  // literal text
};

class Layout {
 public:
  // Parses the layout text, outer parentheses included. A malformed text
  // is a programming error and throws std::invalid_argument.
  explicit Layout(std::string_view text);

  const std::string& text() const { return text_; }
  const std::vector<LayoutItem>& items() const { return items_; }
  // Index in items() of the group where reversion resumes: the last group
  // at the outermost level, or -1 for the start of the layout.
  int reversion_index() const { return reversion_; }

  // The unrolled steps, and the step where reversion resumes.
  const std::vector<LayoutStep>& steps() const { return steps_; }
  std::size_t resume_step() const { return resume_step_; }
  // Whether the layout (or its part from the reversion point on) holds a
  // data field at all.
  bool has_field() const { return has_field_; }
  bool resume_has_field() const { return resume_has_field_; }

 private:
  std::string text_;
  std::vector<LayoutItem> items_;
  int reversion_ = -1;
  std::vector<LayoutStep> steps_;
  std::size_t resume_step_ = 0;
  bool has_field_ = false;
  bool resume_has_field_ = false;
};

// A line-oriented output channel: the report (unit 6), pd.dat (unit 7) or
// the console (standard output). Each record is written with CR LF. A
// failed write throws IoError naming the unit and the file.
class OutputUnit {
 public:
  // Takes ownership of `file` when `owned` is true (closed on close() or
  // destruction).
  OutputUnit(int unit, std::string name, std::FILE* file, bool owned);
  // Writes into a stream that the caller owns (a failed write of the stream
  // throws IoError as a failed file write does).
  OutputUnit(int unit, std::string name, std::ostream& stream);
  ~OutputUnit();
  OutputUnit(const OutputUnit&) = delete;
  OutputUnit& operator=(const OutputUnit&) = delete;

  void put_record(std::string_view record);
  // Flushes buffered records; throws IoError if they cannot be written.
  void flush();
  // Flushes and closes; throws IoError on failure. Safe to call twice.
  void close();
  int unit() const { return unit_; }
  const std::string& name() const { return name_; }

 private:
  int unit_;
  std::string name_;
  std::FILE* file_;
  bool owned_;
  std::ostream* stream_ = nullptr;
};

// A line-oriented input channel: the deck (unit 5) or standard input.
class InputUnit {
 public:
  InputUnit(int unit, std::string name, std::FILE* file, bool owned);
  // Reads from a stream that the caller owns.
  InputUnit(int unit, std::string name, std::istream& stream);
  ~InputUnit();
  InputUnit(const InputUnit&) = delete;
  InputUnit& operator=(const InputUnit&) = delete;

  // Reads the next record into `record` without its line end (a CR before
  // the LF is dropped; a last line without LF still counts). Returns false
  // at end of file.
  bool get_record(std::string& record);
  // Number of records read so far (the number of the current record).
  int records_read() const { return count_; }
  int unit() const { return unit_; }
  const std::string& name() const { return name_; }
  // Throws IoError for this unit; `record`, `first_column`, `last_column`
  // as IoError takes them.
  [[noreturn]] void fail(std::string_view detail, int record = 0, int first_column = 0,
                         int last_column = 0) const;

 private:
  int unit_;
  std::string name_;
  std::FILE* file_;
  bool owned_;
  std::istream* stream_ = nullptr;
  int count_ = 0;
};

// Formats `values` through `layout` into one or more records (record ends
// and reversion) and hands them to `out`.
void write_record(const Layout& layout, std::span<const FieldValue> values,
                  OutputUnit& out);
inline void write_record(const Layout& layout,
                         std::initializer_list<FieldValue> values,
                         OutputUnit& out) {
  write_record(layout, std::span<const FieldValue>(values.begin(), values.size()),
               out);
}

// The same, collecting the records as strings (without line ends); used by
// write_record and by tests.
std::vector<std::string> format_records(const Layout& layout,
                                        std::span<const FieldValue> values);

// Reads as many records as `layout` and `targets` need and stores the
// converted fields. Throws IoError (through in.fail) on an unreadable field
// or an end of file while a record is still needed.
void read_record(const Layout& layout, InputUnit& in,
                 std::span<const FieldTarget> targets);
inline void read_record(const Layout& layout, InputUnit& in,
                        std::initializer_list<FieldTarget> targets) {
  read_record(layout, in,
              std::span<const FieldTarget>(targets.begin(), targets.size()));
}

// Field conversions, exposed for tests. Each returns false when the text is
// not a valid number; `field` is the raw field text (blanks included).
bool parse_integer_field(std::string_view field, std::int32_t& value);
bool parse_real_field(std::string_view field, int decimals, double& value);
// Text of one Iw or Fw.d field (asterisks on overflow).
std::string format_integer_field(std::int32_t value, int width);
std::string format_real_field(double value, int width, int decimals);

}  // namespace btcfit
