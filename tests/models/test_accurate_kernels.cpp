// The kernels of the accurate model values against mpmath at 30 digits
// (values printed by mpmath: exp(x^2) erfc(x); exp(-x) besseli(0, x) and
// exp(-x) besseli(1, x) / x; Goldstein's J as 1 - quad(exp(-b-s)
// besseli(0, 2 sqrt(b s)), [0, a]) split at b and b -+ (4 sqrt(b) + 1)).
#include <gtest/gtest.h>

#include <cmath>

#include "models/accurate_kernels.hpp"

namespace btcfit::accurate_detail {
namespace {

struct Value {
  double x;
  double expected;
};

// Relative tolerance 4e-16 (two units in the last place): the tables are
// good to 2e-18, the rest is the rounding of their summation.
TEST(AccurateKernels, ErfcxToTheLastPlaces) {
  const Value values[] = {
      {-3.0, 16205.988853999586625},  {-0.5, 1.9523604891825570933},
      {0.0, 1.0},                     {0.1, 0.89645697996912663666},
      {0.49999, 0.61569547111708972115}, {2.75, 0.1936620962790686786},
      {7.9, 0.070857477367397130882}, {8.0, 0.069985166200880927723},
      {12.0, 0.04685422101489376262}, {30.0, 0.018795888861416751497},
      {1000.0, 0.0005641893014533876542}, {1e8, 5.6418958354775625874e-9},
  };
  for (const Value& v : values) {
    EXPECT_NEAR(erfcx(v.x), v.expected, 4e-16 * v.expected) << "x = " << v.x;
  }
}

TEST(AccurateKernels, ErfcAndProductsFollowFromErfcx) {
  // erfc(1) = 0.157299207050285130658779364917 (mpmath).
  EXPECT_NEAR(erfc(1.0), 0.15729920705028513066, 4e-17);
  EXPECT_NEAR(erfc(-1.0), 2.0 - 0.15729920705028513066, 4e-16);
  // exp(120) erfc(11) = exp(-1) erfcx(11) = 0.0187915006543104826544
  // (mpmath): no overflow of exp(120).
  EXPECT_NEAR(exp_erfc(120.0, 11.0), 0.018791500654310482654, 1e-17);  // mpmath
  EXPECT_EQ(erfc(40.0), 0.0);
}

struct BesselValue {
  double x, i0, i1_over_x;
};

TEST(AccurateKernels, ScaledBesselToTheLastPlaces) {
  const BesselValue values[] = {
      {0.0, 1.0, 0.5},
      {0.001, 0.99900074958351555937, 0.49950031235422133697},
      {1.5, 0.36743360905415833924, 0.14602625828061711474},
      {9.99, 0.12789909451707866595, 0.012143971490805309757},
      {19.5, 0.090939432095156483305, 0.0045423633894520437158},
      {20.0, 0.089780311884826021596, 0.0043753111091644332678},
      {45.0, 0.059638115011731949075, 0.0013104822919155698546},
      {10000.0, 0.0039894726746047321064, 3.9892731959836622645e-7},
  };
  for (const BesselValue& v : values) {
    const ScaledBessel b = scaled_bessel(v.x);
    EXPECT_NEAR(b.i0, v.i0, 4e-16 * v.i0) << "x = " << v.x;
    EXPECT_NEAR(b.i1_over_x, v.i1_over_x, 4e-16 * v.i1_over_x) << "x = " << v.x;
  }
}

struct JValue {
  double a, b, expected;
};

// Absolute tolerance 1e-14, also for large arguments and near a = b.
TEST(AccurateKernels, GoldsteinJEverywhere) {
  const JValue values[] = {
      {0.5, 0.2, 0.66284647697848606627},     {0.2, 0.5, 0.88465270104629648381},
      {12.0, 10.0, 0.37477402528333691407},   {10.0, 12.0, 0.7034920975222180985},
      {7.5, 7.5, 0.55194976572441136072},     {5.0, 0.0, 0.0067379469990854670966},
      {30.0, 1.0, 2.8976178744327610519e-10}, {1.0, 30.0, 0.99999999995048120248},
      {1e-6, 1e-6, 0.99999900000149999833},   {400.0, 380.0, 0.24250586642454309521},
      {380.0, 400.0, 0.76855089575021973554}, {2000.0, 2100.0, 0.94175332122186574557},
      {1e4, 1e4, 0.50141048277457958144},     {0.001, 3.0, 0.99995016314871476445},
  };
  for (const JValue& v : values) {
    EXPECT_NEAR(goldstein_j(v.a, v.b), v.expected, 1e-14) << "J(" << v.a << ", " << v.b << ")";
  }
  EXPECT_EQ(goldstein_j(0.0, 5.0), 1.0);
}

}  // namespace
}  // namespace btcfit::accurate_detail
