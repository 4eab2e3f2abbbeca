// The local refinement against the NIST StRD nonlinear regression
// problems of higher difficulty, from both of NIST's starting points, and
// its bounds.
#include "stats/refine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/stats/nist.hpp"

namespace btcfit::stats {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct NistRun {
  const char* problem;
  int start;     // NIST's starting point 1 or 2
  bool reaches;  // the certified values to 6 significant digits
};

void PrintTo(const NistRun& r, std::ostream* os) { *os << r.problem << " start " << r.start; }

class NistRefinement : public testing::TestWithParam<NistRun> {};

// Every run either reaches all certified parameters and the certified SSQ
// to 6 significant digits, or (the runs listed as not reaching them) does
// not: a change either way is caught.
TEST_P(NistRefinement, ReachesCertifiedValuesExactlyWhereListed) {
  const NistRun& run = GetParam();
  const NistProblem nist = read_nist(nist_path(run.problem));
  ASSERT_FALSE(nist.certified.empty());
  const std::size_t p = nist.certified.size();
  const std::vector<double> lower(p, -kInf), upper(p, kInf);
  const Refinement r = refine(nist_model(run.problem, nist.x), nist.y,
                              run.start == 1 ? nist.start1 : nist.start2, lower, upper);
  double worst = agreeing_digits(r.ssq, nist.certified_ssq);
  for (std::size_t k = 0; k < p; ++k) {
    worst = std::min(worst, agreeing_digits(r.values[k], nist.certified[k]));
  }
  std::printf("  %s start %d: %.1f digits, SSQ %.10e, %d iterations, %d evaluations; %s\n",
              run.problem, run.start, worst, r.ssq, r.iterations, r.evaluations,
              r.message.c_str());
  EXPECT_EQ(worst >= 6.0, run.reaches) << worst << " digits";
  EXPECT_LE(r.ssq, r.start_ssq);
}

// BoxBOD from start 1 (b1 = 1, b2 = 1) does not: the first steps raise b2
// until exp(−b2·x) vanishes at every x, where the model is the constant b1,
// the derivative by b2 is zero and SSQ is that of the mean (9771.5); the
// descent stops on that plateau.
INSTANTIATE_TEST_SUITE_P(
    Nist, NistRefinement,
    testing::Values(NistRun{"Bennett5", 1, true}, NistRun{"Bennett5", 2, true},
                    NistRun{"BoxBOD", 1, false}, NistRun{"BoxBOD", 2, true},
                    NistRun{"Eckerle4", 1, true}, NistRun{"Eckerle4", 2, true},
                    NistRun{"MGH09", 1, true}, NistRun{"MGH09", 2, true},
                    NistRun{"MGH10", 1, true}, NistRun{"MGH10", 2, true},
                    NistRun{"Rat42", 1, true}, NistRun{"Rat42", 2, true},
                    NistRun{"Rat43", 1, true}, NistRun{"Rat43", 2, true},
                    NistRun{"Thurber", 1, true}, NistRun{"Thurber", 2, true}),
    [](const testing::TestParamInfo<NistRun>& info) {
      return std::string(info.param.problem) + "_start" + std::to_string(info.param.start);
    });

}  // namespace
}  // namespace btcfit::stats
