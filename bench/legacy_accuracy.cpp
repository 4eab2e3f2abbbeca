// How far the legacy model values are from the 30-digit reference table of
// tests/data/accurate, by model code: prints the Markdown table of
// docs/accuracy.md (largest and median absolute error of the reduced
// concentration, and the row where the largest occurs), with the accurate
// values' largest error beside it.
//
//   btcfit-legacy-accuracy [reference.csv]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "models/accurate.hpp"
#include "models/model.hpp"
#include "tests/models/accurate_table.hpp"

using namespace btcfit;

int main(int argc, char** argv) {
  const std::string path =
      argc > 1 ? argv[1] : std::string(BTCFIT_TEST_DATA) + "/accurate/reference.csv";
  const auto rows = testing_accurate::read_reference(path);
  std::array<std::vector<double>, 9> legacy;
  std::array<double, 9> accurate{};
  std::array<const testing_accurate::ReferenceRow*, 9> worst{};
  // By condition: codes 1, 2, 5-8 without / with decay or production;
  // codes 3, 4 by omega below 0.1, 0.1 to 1, above 1.
  std::array<std::array<double, 3>, 9> by_condition{};
  std::array<std::array<int, 3>, 9> in_condition{};
  for (const auto& r : rows) {
    ProblemRecord rec = r.record();
    const CoefColumn B = r.coefficients();
    double c = 0.0;
    accurate_model(rec, B, std::span<const double>(&r.x, 1), std::span<const double>(&r.t, 1),
                   std::span<double>(&c, 1));
    accurate[r.code] = std::max(accurate[r.code], std::abs(c - r.c));
    std::array<double, MAXOBS + 1> cc{};
    MODEL(rec, B, cc);
    const double e = std::abs(cc[1] - r.c);
    if (legacy[r.code].empty() || e > *std::max_element(legacy[r.code].begin(), legacy[r.code].end())) {
      worst[r.code] = &r;
    }
    legacy[r.code].push_back(e);
    int group;
    if (r.code == 3 || r.code == 4) {
      group = r.b[5] < 0.1 ? 0 : (r.b[5] <= 1.0 ? 1 : 2);
    } else {
      group = (r.b[4] != 0.0 || r.b[5] != 0.0) ? 1 : 0;
    }
    by_condition[r.code][group] = std::max(by_condition[r.code][group], e);
    ++in_condition[r.code][group];
  }
  static const char* kind[9] = {"",
                                "equilibrium, resident",
                                "equilibrium, flux",
                                "two-site, resident",
                                "two-site, flux",
                                "stream tubes, pulse, resident",
                                "stream tubes, pulse, flux",
                                "stream tubes, load, resident",
                                "stream tubes, load, flux"};
  std::printf("| code | model | points | legacy largest | legacy median | largest at (line: Pe, t in pore volumes, value) | accurate largest |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (int code = 1; code <= 8; ++code) {
    auto e = legacy[code];
    if (e.empty()) continue;
    std::sort(e.begin(), e.end());
    const auto& w = *worst[code];
    const double pe = code <= 4 ? w.b[0] * w.XMAX / w.b[1] : w.x / w.b[1];
    const double fact = w.ired == 2 ? w.XMAX / w.b[0] : 1.0;
    const double pv = fact * w.t * w.b[0] / w.x;
    std::printf("| %d | %s | %zu | %.1e | %.1e | line %d: Pe %.3g, %.3g PV, c = %.3g | %.1e |\n", code,
                kind[code], e.size(), e.back(), e[e.size() / 2], w.line, pe, pv, w.c,
                accurate[code]);
  }
  std::printf("\n| code | without decay or production | with decay or production |\n");
  std::printf("|---|---|---|\n");
  for (int code : {1, 2, 5, 6, 7, 8}) {
    std::printf("| %d | %.1e (%d points) | %.1e (%d points) |\n", code, by_condition[code][0],
                in_condition[code][0], by_condition[code][1], in_condition[code][1]);
  }
  std::printf("\n| code | omega < 0.1 | omega 0.1 to 1 | omega > 1 |\n");
  std::printf("|---|---|---|---|\n");
  for (int code : {3, 4}) {
    std::printf("| %d | %.1e (%d points) | %.1e (%d points) | %.1e (%d points) |\n", code,
                by_condition[code][0], in_condition[code][0], by_condition[code][1],
                in_condition[code][1], by_condition[code][2], in_condition[code][2]);
  }
  return 0;
}
