#include "apps/btcfit-stats/plot_svg.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/apps/btcfit-stats/svg_structure.hpp"

namespace btcfit::stats {
namespace {

TEST(NiceTicks, RoundStepsCoveringTheRange) {
  EXPECT_EQ(nice_ticks(0.0, 1.0, 5), (std::vector<double>{0.0, 0.2, 0.4, 0.6, 0.8, 1.0}));
  const auto t = nice_ticks(0.0, 24.0, 8);
  EXPECT_DOUBLE_EQ(t.front(), 0.0);
  EXPECT_GE(t.back(), 24.0);
  EXPECT_DOUBLE_EQ(t[1] - t[0], 5.0);
  const auto u = nice_ticks(-0.013, 0.62, 6);
  EXPECT_LE(u.front(), -0.013);
  EXPECT_GE(u.back(), 0.62);
  EXPECT_EQ(nice_ticks(3.0, 3.0, 5).size() >= 2, true);
}

TEST(Svg, OneGroupPerSeriesWithPointsAndAPath) {
  Figure figure;
  figure.title = "deck <a & b>";
  figure.x_label = "time";
  figure.y_label = "concentration";
  figure.series.push_back({"x = 10", {1, 2, 3}, {0.1, 0.5, 0.9}, {0, 1, 2, 3}, {0, 0.2, 0.6, 0.95}, {}});
  figure.series.push_back({"x = 20", {2, 3}, {0.05, 0.4}, {0, 1, 2, 3}, {0, 0.01, 0.1, 0.45}, {}});
  const std::string svg = render_svg(figure);
  const auto groups = svg_series(svg);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].label, "x = 10");
  EXPECT_EQ(groups[0].points, 3);
  EXPECT_EQ(groups[0].paths, 1);
  EXPECT_EQ(groups[1].points, 2);
  EXPECT_EQ(groups[1].paths, 1);
  EXPECT_NE(groups[0].colour, groups[1].colour);
  EXPECT_NE(svg.find("deck &lt;a &amp; b&gt;"), std::string::npos);
  EXPECT_NE(svg.find(">time</text>"), std::string::npos);
  EXPECT_NE(svg.find(">concentration</text>"), std::string::npos);
  EXPECT_EQ(svg.rfind("</svg>\n"), svg.size() - 7);
}

TEST(Svg, NonFiniteCurveValuesBreakThePath) {
  Figure figure;
  figure.series.push_back({"t = 1", {}, {}, {0, 1, 2, 3}, {0, NAN, 0.5, 0.7}, {}});
  const std::string svg = render_svg(figure);
  const auto d_start = svg.find(" d=\"M");
  ASSERT_NE(d_start, std::string::npos);
  const auto d_end = svg.find('"', d_start + 4);
  const std::string d = svg.substr(d_start, d_end - d_start);
  EXPECT_NE(d.find(" M"), std::string::npos) << d;
  EXPECT_EQ(d.find("nan"), std::string::npos) << d;
}

TEST(Svg, EscapesText) {
  EXPECT_EQ(xml_escape("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&apos;");
}

}  // namespace
}  // namespace btcfit::stats
