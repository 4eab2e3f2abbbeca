// Parsing of layout texts: items, unrolled steps and the reversion point.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

using Kind = LayoutItem::Kind;

TEST(LayoutParse, RepeatedFieldUnrollsIntoSteps) {
  Layout l("(7I10)");
  ASSERT_EQ(l.items().size(), 1u);
  EXPECT_EQ(l.items()[0].kind, Kind::Int);
  EXPECT_EQ(l.items()[0].repeat, 7);
  EXPECT_EQ(l.items()[0].width, 10);
  EXPECT_EQ(l.reversion_index(), -1);
  ASSERT_EQ(l.steps().size(), 7u);
  for (const LayoutStep& s : l.steps()) {
    EXPECT_EQ(s.kind, Kind::Int);
    EXPECT_EQ(s.width, 10);
  }
  EXPECT_EQ(l.resume_step(), 0u);
  EXPECT_TRUE(l.has_field());
}

TEST(LayoutParse, RealFieldKeepsWidthAndDecimals) {
  Layout l("(I5,F10.6,6F9.5)");
  ASSERT_EQ(l.steps().size(), 8u);
  EXPECT_EQ(l.steps()[1].kind, Kind::Real);
  EXPECT_EQ(l.steps()[1].width, 10);
  EXPECT_EQ(l.steps()[1].decimals, 6);
  EXPECT_EQ(l.steps()[7].width, 9);
  EXPECT_EQ(l.steps()[7].decimals, 5);
}

TEST(LayoutParse, ReversionIsLastOutermostGroup) {
  Layout l("(TR11,I5,3(TR7,F10.4))");
  EXPECT_EQ(l.reversion_index(), 2);
  EXPECT_EQ(l.items()[2].kind, Kind::Group);
  EXPECT_EQ(l.items()[2].repeat, 3);
  ASSERT_EQ(l.items()[2].items.size(), 2u);
  EXPECT_EQ(l.steps().size(), 2u + 6u);
  EXPECT_EQ(l.resume_step(), 2u);

  // A nested group does not count; the outermost one that holds it does.
  Layout n("(I5,2(I3,2(I2)),A1)");
  EXPECT_EQ(n.reversion_index(), 1);
  EXPECT_EQ(n.resume_step(), 1u);
  EXPECT_EQ(n.steps().size(), 1u + 2u * 3u + 1u);

  Layout m("(2(I1),I2,3(I3),'X')");
  EXPECT_EQ(m.reversion_index(), 2);
  EXPECT_EQ(m.resume_step(), 3u);
}

TEST(LayoutParse, RepeatedLiteralGroupBecomesOneText) {
  Layout l("(TR11,14('='))");
  ASSERT_EQ(l.steps().size(), 2u);
  EXPECT_EQ(l.steps()[0].kind, Kind::Move);
  EXPECT_EQ(l.steps()[0].width, 11);
  EXPECT_EQ(l.steps()[1].kind, Kind::Literal);
  EXPECT_EQ(l.steps()[1].text, std::string(14, '='));
  EXPECT_FALSE(l.has_field());
}

TEST(LayoutParse, DoubledQuoteInLiteral) {
  Layout l("('IT''S',' ''')");
  ASSERT_EQ(l.items().size(), 2u);
  EXPECT_EQ(l.items()[0].text, "IT'S");
  EXPECT_EQ(l.items()[1].text, " '");
}

TEST(LayoutParse, RecordEndsWithAndWithoutCommas) {
  Layout a("(/,/,TR5,'X')");
  ASSERT_EQ(a.steps().size(), 4u);
  EXPECT_EQ(a.steps()[0].kind, Kind::RecordEnd);
  EXPECT_EQ(a.steps()[1].kind, Kind::RecordEnd);
  EXPECT_EQ(a.steps()[2].kind, Kind::Move);
  EXPECT_EQ(a.steps()[3].kind, Kind::Literal);

  Layout b("(I5/I5//'X')");
  ASSERT_EQ(b.steps().size(), 6u);
  EXPECT_EQ(b.steps()[1].kind, Kind::RecordEnd);
  EXPECT_EQ(b.steps()[2].kind, Kind::Int);
  EXPECT_EQ(b.steps()[3].kind, Kind::RecordEnd);
  EXPECT_EQ(b.steps()[4].kind, Kind::RecordEnd);
  EXPECT_EQ(b.steps()[5].kind, Kind::Literal);

  Layout c("(3/)");
  EXPECT_EQ(c.steps().size(), 3u);
}

TEST(LayoutParse, TextFieldsAndMoves) {
  Layout l("(7(TR4,A4,A2))");
  ASSERT_EQ(l.steps().size(), 21u);
  EXPECT_EQ(l.steps()[0].kind, Kind::Move);
  EXPECT_EQ(l.steps()[1].kind, Kind::Text);
  EXPECT_EQ(l.steps()[1].width, 4);
  EXPECT_EQ(l.steps()[2].width, 2);
  EXPECT_EQ(l.reversion_index(), 0);
}

TEST(LayoutParse, BlanksAndLowerCaseAccepted) {
  Layout l(" ( tr2 , i3 , f6.2 , a1 ) ");
  ASSERT_EQ(l.steps().size(), 4u);
  EXPECT_EQ(l.steps()[1].kind, Kind::Int);
  EXPECT_EQ(l.steps()[2].kind, Kind::Real);
  EXPECT_EQ(l.steps()[3].kind, Kind::Text);
}

TEST(LayoutParse, EmptyLayoutHasNoSteps) {
  Layout l("()");
  EXPECT_TRUE(l.steps().empty());
  EXPECT_FALSE(l.has_field());
}

class LayoutParseMalformed : public ::testing::TestWithParam<const char*> {};

TEST_P(LayoutParseMalformed, Throws) {
  EXPECT_THROW(Layout{GetParam()}, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    LayoutParseTexts, LayoutParseMalformed,
    ::testing::Values("7I10", "(7I10", "7I10)", "(I5))", "(I)", "(F10)",
                      "(F10.)", "(X5)", "(TR0)", "(TR)", "(0I5)", "('abc)",
                      "(I5,)", "(,I5)", "(I5 I5)", "(3('-')", "(2())", "(2)",
                      "('')", "(T5)", "(I5.2)", "(3'-')", "(I99999999)"));

}  // namespace
}  // namespace btcfit
