// Reading fields through layouts from line-oriented input.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

// An input unit over an anonymous temporary file holding `content`.
std::unique_ptr<InputUnit> deck(const std::string& content,
                                std::string name = "deck.in") {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) throw std::runtime_error("no temporary file");
  std::fwrite(content.data(), 1, content.size(), f);
  std::rewind(f);
  return std::make_unique<InputUnit>(5, std::move(name), f, true);
}

std::string error_of(const Layout& layout, InputUnit& in,
                     std::initializer_list<FieldTarget> targets) {
  try {
    read_record(layout, in, targets);
  } catch (const IoError& e) {
    EXPECT_EQ(e.unit(), 5);
    return e.what();
  }
  return "(no error)";
}

TEST(RecordRead, TwoRealsAndAnInteger) {
  auto in = deck("       1.5        25         3\n\n");
  static const Layout layout("(2F10.0,I10)");
  double a = -1, b = -1;
  std::int32_t n = -1;
  read_record(layout, *in, {a, b, n});
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, 25.0);
  EXPECT_EQ(n, 3);
  // An empty record reads as zeros.
  read_record(layout, *in, {a, b, n});
  EXPECT_EQ(a, 0.0);
  EXPECT_EQ(b, 0.0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(in->records_read(), 2);
}

TEST(RecordRead, ReversionReadsFurtherRecords) {
  auto in = deck(
      "       1.0       2.0       3.0       4.0       5.0       6.0       7.0\n"
      "       8.0       9.0      10.0      11.0\n"
      "      12.0\n");
  static const Layout layout("(7F10.0)");
  double v[10];
  read_record(layout, *in,
              {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9]});
  for (int k = 0; k < 10; ++k) EXPECT_EQ(v[k], k + 1.0);
  EXPECT_EQ(in->records_read(), 2);
  // The rest of the second record was discarded.
  double x = 0;
  read_record(layout, *in, {x});
  EXPECT_EQ(x, 12.0);
}

TEST(RecordRead, RestOfRecordIsDiscarded) {
  auto in = deck("         1         2\n         3\n");
  static const Layout layout("(I10)");
  std::int32_t a = 0, b = 0;
  read_record(layout, *in, {a});
  read_record(layout, *in, {b});
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 3);
}

TEST(RecordRead, ColumnsBeyondTheFieldsAreNotRead) {
  auto in = deck("         1 any text, 1.0 or not\n");
  std::int32_t first = -1;
  read_record(Layout("(7I10)"), *in, {first});
  EXPECT_EQ(first, 1);
}

TEST(RecordRead, ShortRecordIsExtendedWithBlanks) {
  auto in = deck("   12\n");
  std::int32_t a = -1, b = -1;
  read_record(Layout("(I5,I5)"), *in, {a, b});
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 0);
}

TEST(RecordRead, RecordEndsMoveToTheNextRecord) {
  auto in = deck("    1\n    2\n    3\n    4\n");
  std::int32_t a = 0, b = 0, c = 0;
  read_record(Layout("(I5,/,I5)"), *in, {a, b});
  read_record(Layout("(/,I5)"), *in, {c});
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(c, 4);
}

TEST(RecordRead, NoTargetsStillConsumesARecord) {
  auto in = deck("    1\n    2\n");
  read_record(Layout("(I5)"), *in, {});
  std::int32_t a = 0;
  read_record(Layout("(I5)"), *in, {a});
  EXPECT_EQ(a, 2);
}

TEST(RecordRead, CoefficientNames) {
  auto in = deck(
      "    V         D         R         T0        MU        GAMMA \n");
  char p4[6][4];
  char p2[6][2];
  read_record(Layout("(7(TR4,A4,A2))"), *in,
              {{p4[0], 4}, {p2[0], 2}, {p4[1], 4}, {p2[1], 2},
               {p4[2], 4}, {p2[2], 2}, {p4[3], 4}, {p2[3], 2},
               {p4[4], 4}, {p2[4], 2}, {p4[5], 4}, {p2[5], 2}});
  const char* want[6] = {"V     ", "D     ", "R     ",
                         "T0    ", "MU    ", "GAMMA "};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(std::string(p4[k], 4) + std::string(p2[k], 2), want[k]) << k;
  }
}

TEST(RecordRead, TextFieldWiderOrNarrowerThanTarget) {
  auto in = deck("ABCDEF\nAB\ndeck.in\nabcdefghijklmnopqrst\n");
  char t4[4];
  read_record(Layout("(A6)"), *in, {{t4, 4}});
  EXPECT_EQ(std::string(t4, 4), "CDEF");  // rightmost characters
  read_record(Layout("(A2)"), *in, {{t4, 4}});
  EXPECT_EQ(std::string(t4, 4), "AB  ");  // padded with blanks
  char name[15];
  read_record(Layout("(A15)"), *in, {{name, 15}});
  EXPECT_EQ(std::string(name, 15), "deck.in        ");
  read_record(Layout("(A15)"), *in, {{name, 15}});
  EXPECT_EQ(std::string(name, 15), "abcdefghijklmno");
}

TEST(RecordRead, CarriageReturnBeforeLineFeedIsDropped) {
  auto in = deck("  12\r\n  34\r\nAB\r\n");
  std::int32_t a = 0, b = 0;
  static const Layout layout("(I4)");
  read_record(layout, *in, {a});
  read_record(layout, *in, {b});
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, 34);
  char t[3];
  read_record(Layout("(A3)"), *in, {{t, 3}});
  EXPECT_EQ(std::string(t, 3), "AB ");
}

TEST(RecordRead, LastLineWithoutLineEnd) {
  auto in = deck("    7\n    5");
  std::int32_t a = 0, b = 0;
  read_record(Layout("(I5)"), *in, {a});
  read_record(Layout("(I5)"), *in, {b});
  EXPECT_EQ(b, 5);
  EXPECT_EQ(in->records_read(), 2);
}

TEST(RecordRead, EndOfFileMessage) {
  auto in = deck("    1\n");
  std::int32_t a = 0;
  read_record(Layout("(I5)"), *in, {a});
  EXPECT_EQ(error_of(Layout("(I5)"), *in, {a}),
            "unit 5 (deck.in): end of file while reading record 2");
}

TEST(RecordRead, EndOfFileDuringReversion) {
  auto in = deck("         1         2         3         4         5         6"
                 "         7\n");
  double v[8];
  EXPECT_EQ(error_of(Layout("(7F10.0)"), *in,
                     {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]}),
            "unit 5 (deck.in): end of file while reading record 2");
}

TEST(RecordRead, EndOfFileOnEmptyFile) {
  auto in = deck("");
  std::int32_t a = 0;
  EXPECT_EQ(error_of(Layout("(7I10)"), *in, {a}),
            "unit 5 (deck.in): end of file while reading record 1");
}

TEST(RecordRead, UnreadableIntegerMessage) {
  auto in = deck("         1\n         2       1.0\n");
  std::int32_t a = 0, b = 0;
  static const Layout layout("(7I10)");
  read_record(layout, *in, {a});
  EXPECT_EQ(error_of(layout, *in, {a, b}),
            "unit 5 (deck.in): unreadable integer in columns 11-20 of "
            "record 2: \"1.0\"");
}

TEST(RecordRead, UnreadableRealMessage) {
  auto in = deck("   1.5x   \n");
  double a = 0;
  EXPECT_EQ(error_of(Layout("(F10.0)"), *in, {a}),
            "unit 5 (deck.in): unreadable real in columns 1-10 of record 1: "
            "\"1.5x\"");
}

TEST(RecordRead, TabIsNotABlank) {
  auto in = deck("   \t5\n");
  std::int32_t a = 0;
  EXPECT_EQ(error_of(Layout("(TR2,I4)"), *in, {a}),
            "unit 5 (deck.in): unreadable integer in columns 3-6 of record 1: "
            "\"\\t5\"");
}

TEST(RecordRead, NulBytesAreHandled) {
  auto in = deck(std::string("a\0bc\n  \0" "1\n", 10));
  char t[4];
  read_record(Layout("(A4)"), *in, {{t, 4}});
  EXPECT_EQ(std::string(t, 4), std::string("a\0bc", 4));
  std::int32_t a = 0;
  EXPECT_EQ(error_of(Layout("(I4)"), *in, {a}),
            "unit 5 (deck.in): unreadable integer in columns 1-4 of record 2: "
            "\"\\x001\"");
}

TEST(RecordRead, VeryLongRecord) {
  std::string line(100000, ' ');
  line.replace(99995, 5, "   42");
  auto in = deck(line + "\n");
  std::int32_t a = 0;
  read_record(Layout("(TR99995,I5)"), *in, {a});
  EXPECT_EQ(a, 42);
}

TEST(RecordRead, ExampleDeck) {
  auto in = deck(
      "         1\n"
      "         2         1         1         1         3         0         1\n"
      "    V         D         R         T0        MU        GAMMA \n"
      "      25.0      30.0       1.5       2.0       0.0       0.0\n"
      "         1         1         1         0         0         0\n");
  static const Layout ints("(7I10)");
  static const Layout reals("(7F10.0)");
  std::int32_t first = 0, c[7];
  read_record(ints, *in, {first});
  read_record(ints, *in, {c[0], c[1], c[2], c[3], c[4], c[5], c[6]});
  EXPECT_EQ(first, 1);
  EXPECT_EQ(c[0], 2);
  EXPECT_EQ(c[4], 3);
  EXPECT_EQ(c[6], 1);
  char p4[4], p2[2];
  read_record(Layout("(7(TR4,A4,A2))"), *in, {{p4, 4}, {p2, 2}});
  EXPECT_EQ(std::string(p4, 4), "V   ");
  double v[6];
  read_record(reals, *in, {v[0], v[1], v[2], v[3], v[4], v[5]});
  EXPECT_EQ(v[0], 25.0);
  EXPECT_EQ(v[2], 1.5);
  std::int32_t f[6];
  read_record(Layout("(6I10)"), *in, {f[0], f[1], f[2], f[3], f[4], f[5]});
  EXPECT_EQ(f[2], 1);
  EXPECT_EQ(f[3], 0);
}

TEST(RecordRead, TargetOfWrongKindIsAProgrammingError) {
  auto in = deck("    1\n    1\n");
  double x = 0;
  std::int32_t n = 0;
  EXPECT_THROW(read_record(Layout("(I5)"), *in, {x}), std::invalid_argument);
  EXPECT_THROW(read_record(Layout("(F5.0)"), *in, {n}), std::invalid_argument);
}

}  // namespace
}  // namespace btcfit
