// accurate_model against the 30-digit reference table of tests/data/accurate
// (generate.py: mpmath closed forms, Laplace inversion of the two-site
// model, tanh-sinh quadrature of the stream-tube average). Tolerance:
// 1e-10 absolute on the model value, which the table gives in reduced form
// (0..1) or, for its few unreduced rows, with C0 = 1 and CI = 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <thread>
#include <vector>
#include <cmath>
#include <cstdio>

#include "models/accurate.hpp"
#include "tests/models/accurate_table.hpp"

namespace btcfit {
namespace {

using testing_accurate::ReferenceRow;

constexpr double kTolerance = 1e-10;

const std::vector<ReferenceRow>& table() {
  static const std::vector<ReferenceRow> rows =
      testing_accurate::read_reference(std::string(BTCFIT_TEST_DATA) + "/accurate/reference.csv");
  return rows;
}

double accurate_value(const ReferenceRow& r) {
  const ProblemRecord rec = r.record();
  const CoefColumn B = r.coefficients();
  double c = 0.0;
  accurate_model(rec, B, std::span<const double>(&r.x, 1), std::span<const double>(&r.t, 1),
                 std::span<double>(&c, 1));
  return c;
}

TEST(AccurateReference, TableCoversEveryCodeWithEnoughPoints) {
  std::array<int, 9> count{};
  for (const ReferenceRow& r : table()) ++count[r.code];
  EXPECT_GE(table().size(), 400u);
  for (int code = 1; code <= 8; ++code) EXPECT_GE(count[code], 40) << "code " << code;
}

TEST(AccurateReference, EveryPointWithinTolerance) {
  std::array<double, 9> worst{};
  std::array<int, 9> worst_line{};
  for (const ReferenceRow& r : table()) {
    const double c = accurate_value(r);
    const double err = std::abs(c - r.c);
    ASSERT_FALSE(std::isnan(c)) << "line " << r.line;
    EXPECT_LE(err, kTolerance) << "line " << r.line << " code " << r.code << ": " << c
                               << " against " << r.c;
    if (err > worst[r.code]) {
      worst[r.code] = err;
      worst_line[r.code] = r.line;
    }
  }
  for (int code = 1; code <= 8; ++code) {
    std::printf("code %d: largest error %.2e (reference.csv line %d)\n", code, worst[code],
                worst_line[code]);
  }
  const double overall = *std::max_element(worst.begin(), worst.end());
  std::printf("all codes: largest error %.2e (tolerance %.0e)\n", overall, kTolerance);
}

// Pure: two threads evaluating the whole table at the same time get the
// bits of a serial evaluation.
TEST(AccurateReference, ConcurrentCallsGiveTheSerialBits) {
  const auto& rows = table();
  std::vector<double> serial(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) serial[i] = accurate_value(rows[i]);
  std::vector<double> a(rows.size()), b(rows.size());
  std::thread other([&] {
    for (std::size_t i = 0; i < rows.size(); ++i) a[i] = accurate_value(rows[i]);
  });
  for (std::size_t i = rows.size(); i-- > 0;) b[i] = accurate_value(rows[i]);
  other.join();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a[i]), std::bit_cast<std::uint64_t>(serial[i]));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(b[i]), std::bit_cast<std::uint64_t>(serial[i]));
  }
}

}  // namespace
}  // namespace btcfit
