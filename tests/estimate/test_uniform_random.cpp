#include <gtest/gtest.h>

#include <vector>

#include "estimate/uniform_random.hpp"

namespace {

using btcfit::UniformStream;

struct StreamCase {
  float seed;
  std::vector<std::int32_t> states;
  std::vector<float> values;
};

class UniformStreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(UniformStreamTest, FirstFiveDraws) {
  const StreamCase& c = GetParam();
  UniformStream stream;
  float r = c.seed;
  for (std::size_t i = 0; i < c.states.size(); ++i) {
    stream.draw(r);
    EXPECT_EQ(stream.state(), c.states[i]) << "draw " << i + 1;
    // Single-precision results: compare with the listed digits.
    EXPECT_NEAR(r, c.values[i], 5e-10) << "draw " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, UniformStreamTest,
    ::testing::Values(
        // The step stream of the search.
        StreamCase{5139.0f,
                   {336804921, 2020783275, 503520769, 2013944323, 1109528073},
                   {0.156837016f, 0.941000521f, 0.234470129f, 0.937815905f,
                    0.516664267f}},
        // The acceptance stream of the search.
        StreamCase{2139.0f,
                   {140187921, 841108275, 1637474713, 107390155, 939454049},
                   {0.0652800873f, 0.391671568f, 0.762508571f, 0.0500074364f,
                    0.437467396f}}));

TEST(UniformStream, NegativeSeedIsTruncatedTowardsZero) {
  UniformStream stream;
  float r = -5.7f;
  stream.draw(r);
  EXPECT_EQ(stream.state(), 2147155953);
  EXPECT_EQ(r, 0.999847412109375f);
}

TEST(UniformStream, SeedTruncatingToZeroStaysAtZero) {
  UniformStream stream;
  float r = 0.5f;
  for (int i = 0; i < 4; ++i) {
    stream.draw(r);
    EXPECT_EQ(r, 0.0f);
    EXPECT_EQ(stream.state(), 0);
  }
}

TEST(UniformStream, SeededStreamIgnoresItsArgument) {
  UniformStream a, b;
  float ra = 5139.0f, rb = 5139.0f;
  a.draw(ra);
  b.draw(rb);
  rb = 12345.0f;  // a running stream no longer reads its argument
  a.draw(ra);
  b.draw(rb);
  EXPECT_EQ(ra, rb);
}

TEST(UniformStream, StreamsAreIndependent) {
  UniformStream a, b, c;
  float ra = 2139.0f, rb = 2139.0f, rc = 5139.0f;
  for (int i = 0; i < 10; ++i) c.draw(rc);  // draws elsewhere change nothing
  for (int i = 0; i < 100; ++i) {
    a.draw(ra);
    b.draw(rb);
    ASSERT_EQ(ra, rb);
  }
}

}  // namespace
