// Writing values through layouts: literals, moves, record ends, reversion
// and the report's own layouts.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

using Records = std::vector<std::string>;

std::string blanks(std::size_t n) { return std::string(n, ' '); }

Records fmt(const char* layout, std::initializer_list<FieldValue> values) {
  return format_records(Layout(layout),
                        std::span<const FieldValue>(values.begin(), values.size()));
}

TEST(RecordWrite, BoxSideIs93Columns) {
  Records r = fmt("(TR11,'*',TR80,'*')", {});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], blanks(11) + "*" + blanks(80) + "*");
  EXPECT_EQ(r[0].size(), 93u);
}

TEST(RecordWrite, EndOfProblemBlock) {
  Records r = fmt("(/,/,/,TR11,'END OF PROBLEM',/,TR11,14('='))", {});
  EXPECT_EQ(r, (Records{"", "", "", blanks(11) + "END OF PROBLEM",
                        blanks(11) + std::string(14, '=')}));
}

TEST(RecordWrite, BannerTopLines) {
  Records r = fmt(
      "('1',TR10,82('*'),/,TR11,'*',TR80,'*',/,TR11,'*',TR10,"
      "'ONE-DIMENSIONAL CONVECTION-DISPERSION EQ. SOLUTION',TR20,'*')",
      {});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], "1" + blanks(10) + std::string(82, '*'));
  EXPECT_EQ(r[1], blanks(11) + "*" + blanks(80) + "*");
  EXPECT_EQ(r[2], blanks(11) + "*" + blanks(10) +
                      "ONE-DIMENSIONAL CONVECTION-DISPERSION EQ. SOLUTION" +
                      blanks(20) + "*");
  EXPECT_EQ(r[2].size(), 93u);
}

TEST(RecordWrite, BoxBottomAndNarrowFamilyLine) {
  Records r = fmt("(TR11,'*',TR80,'*',/,TR11,82('*'))", {});
  EXPECT_EQ(r, (Records{blanks(11) + "*" + blanks(80) + "*",
                        blanks(11) + std::string(82, '*')}));
  Records f = fmt(
      "(TR11,'*',TR10,'DETERMINISTIC LINEAR EQUILIBRIUM ADSORPTION FOR PULSE "
      "INJECTION',TR7,'*',/,TR11,'*',TR10,'WITH FIRST- AND ZERO-ORDERPRODUCTION "
      "AND DECAY',TR23,'*')",
      {});
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].size(), 93u);
  EXPECT_EQ(f[1].size(), 92u);
  EXPECT_EQ(f[1].back(), '*');
}

TEST(RecordWrite, ConsolePromptIs27Characters) {
  Records r = fmt("(' Enter Input file name --> ')", {});
  EXPECT_EQ(r, (Records{" Enter Input file name --> "}));
  EXPECT_EQ(r[0].size(), 27u);
}

TEST(RecordWrite, ProgressHeadingColumns) {
  Records r = fmt(
      "(/,/,TR4,'N',TR5,'SSQ',TR7,'V',TR8,'D',TR8,'R',TR7,'T',TR7,'BETA',TR5,"
      "'ALPHA')",
      {});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], "");
  EXPECT_EQ(r[1], "");
  const std::string& h = r[2];
  // 1-based columns: N 5, SSQ 11-13, V 21, D 30, R 39, T 47, BETA 55-58,
  // ALPHA 64-68.
  EXPECT_EQ(h.substr(4, 1), "N");
  EXPECT_EQ(h.substr(10, 3), "SSQ");
  EXPECT_EQ(h.substr(20, 1), "V");
  EXPECT_EQ(h.substr(29, 1), "D");
  EXPECT_EQ(h.substr(38, 1), "R");
  EXPECT_EQ(h.substr(46, 1), "T");
  EXPECT_EQ(h.substr(54, 4), "BETA");
  EXPECT_EQ(h.substr(63, 5), "ALPHA");
  EXPECT_EQ(h.size(), 68u);
}

TEST(RecordWrite, ProgressLine) {
  Records r = fmt("(I5,F10.6,6F9.5)",
                  {0, 0.0123456789, 25.0, 30.0, 1.5, 2.0, 0.0, -0.25});
  EXPECT_EQ(r, (Records{"    0  0.012346 25.00000 30.00000  1.50000  2.00000"
                        "  0.00000 -0.25000"}));
}

TEST(RecordWrite, ComparisonTable) {
  Records h = fmt("(/,/,TR5,'OBSERVED C',TR5,'CALCULATED C')", {});
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h[2], blanks(5) + "OBSERVED C" + blanks(5) + "CALCULATED C");

  Records r = fmt("(F13.4,TR6,F13.4)", {0.05, 0.0498, 0.62, 1.0e12});
  EXPECT_EQ(r, (Records{"       0.0500" + blanks(6) + "       0.0498",
                        "       0.6200" + blanks(6) + std::string(13, '*')}));
  EXPECT_EQ(r[0].size(), h[2].size());

  // No observations: a single empty record.
  EXPECT_EQ(fmt("(F13.4,TR6,F13.4)", {}), (Records{""}));
}

TEST(RecordWrite, InitialValueLine) {
  Records r = fmt("(TR11,A4,A2,4('.'),F12.4)", {"V   ", "  ", 25.0});
  EXPECT_EQ(r, (Records{blanks(11) + "V" + blanks(5) + "...." + "     25.0000"}));
  Records ci = fmt("(TR11,'CI',8('.'),F12.4)", {0.0});
  EXPECT_EQ(ci, (Records{blanks(11) + "CI........" + "      0.0000"}));
}

TEST(RecordWrite, ObservedDataBlock) {
  Records h = fmt(
      "(/,/,TR11,'OBSERVED DATA',/,TR11,13('='),/,TR11,'OBS. NO.',TR5,"
      "'CONCENTRATION',TR6,'DISTANCE',TR9,'TIME')",
      {});
  EXPECT_EQ(h, (Records{"", "", blanks(11) + "OBSERVED DATA",
                        blanks(11) + std::string(13, '='),
                        blanks(11) + "OBS. NO." + blanks(5) + "CONCENTRATION" +
                            blanks(6) + "DISTANCE" + blanks(9) + "TIME"}));
  Records r = fmt("(TR11,I5,TR6,F12.4,TR4,F12.4,TR4,F12.4)", {3, 0.91, 30.0, 3.0});
  EXPECT_EQ(r, (Records{blanks(11) + "    3" + blanks(6) + "      0.9100" +
                        blanks(4) + "     30.0000" + blanks(4) +
                        "      3.0000"}));
}

TEST(RecordWrite, PulseLines) {
  const char* layout = "(TR11,I5,3(TR7,F10.4))";
  Records three = fmt(layout, {2, 2.0, 5.0, 1.0});
  EXPECT_EQ(three, (Records{blanks(11) + "    2" + blanks(7) + "    2.0000" +
                            blanks(7) + "    5.0000" + blanks(7) +
                            "    1.0000"}));
  // Two values for the group: the move before the unused third field does
  // not lengthen the record.
  Records two = fmt(layout, {2, 2.0, 1.0});
  EXPECT_EQ(two, (Records{blanks(11) + "    2" + blanks(7) + "    2.0000" +
                          blanks(7) + "    1.0000"}));
}

TEST(RecordWrite, ReversionToStartWithoutGroup) {
  Records r = fmt("(7I10)", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0], "         1         2         3         4         5"
                  "         6         7");
  EXPECT_EQ(r[1], "         8         9        10");
  EXPECT_EQ(fmt("(I2,'|')", {1, 2}), (Records{" 1|", " 2|"}));
}

TEST(RecordWrite, ReversionToLastOutermostGroup) {
  Records r = fmt("(I2,2(I3),'|')", {1, 2, 3, 4, 5, 6});
  // Reversion resumes at 2(I3) with its repeat count; the trailing literal
  // follows every complete pass.
  EXPECT_EQ(r, (Records{" 1  2  3|", "  4  5|", "  6"}));
  EXPECT_EQ(fmt("('A',2(I2,'-'))", {1, 2, 3}), (Records{"A 1- 2-", " 3-"}));
}

TEST(RecordWrite, LiteralsAfterLastValueUpToNextField) {
  Records r = fmt("(I3,' DONE',TR2,'!',/,'NEXT',I3,'NOT')", {1});
  EXPECT_EQ(r, (Records{"  1 DONE  !", "NEXT"}));
}

TEST(RecordWrite, MovesAtRecordEndDoNotLengthen) {
  EXPECT_EQ(fmt("(I2,TR5)", {1}), (Records{" 1"}));
  EXPECT_EQ(fmt("('A',TR3)", {}), (Records{"A"}));
  EXPECT_EQ(fmt("('A',TR3,'B')", {}), (Records{"A   B"}));
  EXPECT_EQ(fmt("('A',TR3,/,'B')", {}), (Records{"A", "B"}));
}

TEST(RecordWrite, ZeroValues) {
  // Leading record ends are written even when the first field is unused.
  EXPECT_EQ(fmt("(/,I5)", {}), (Records{"", ""}));
  EXPECT_EQ(fmt("('A',I2,'B')", {}), (Records{"A"}));
  EXPECT_EQ(fmt("()", {}), (Records{""}));
}

TEST(RecordWrite, TextFields) {
  EXPECT_EQ(fmt("(A4)", {"BETA"}), (Records{"BETA"}));
  EXPECT_EQ(fmt("(A4,A2)", {"ALPH", "A "}), (Records{"ALPHA "}));
  EXPECT_EQ(fmt("(A6,'|')", {"AB"}), (Records{"    AB|"}));
  EXPECT_EQ(fmt("(A2,'|')", {"ABCD"}), (Records{"AB|"}));
  EXPECT_EQ(fmt("(A15)", {" DISTANCE      "}), (Records{" DISTANCE      "}));
}

TEST(RecordWrite, FirstCharacterIsOrdinaryData) {
  EXPECT_EQ(fmt("('1',TR2,'X')", {}), (Records{"1  X"}));
}

TEST(RecordWrite, ValueOfWrongKindIsAProgrammingError) {
  EXPECT_THROW(fmt("(F10.4)", {1}), std::invalid_argument);
  EXPECT_THROW(fmt("(I5)", {1.0}), std::invalid_argument);
  EXPECT_THROW(fmt("(A5)", {1}), std::invalid_argument);
  EXPECT_THROW(fmt("(I5)", {"X"}), std::invalid_argument);
}

TEST(RecordWrite, ValuesWithoutFieldsAreAProgrammingError) {
  EXPECT_THROW(fmt("('X')", {1}), std::invalid_argument);
  EXPECT_THROW(fmt("(I2,2('-'))", {1, 2}), std::invalid_argument);
}

}  // namespace
}  // namespace btcfit
