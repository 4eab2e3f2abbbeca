// exp of many arguments at once, with the bits of std::exp.
//
// The C library of the build machine evaluates exp, on processors with
// fused multiply-add, by a 128-entry table of 2^(i/128) and a degree-5
// polynomial. exp_many runs the same steps on four arguments at a time in
// AVX2 registers. Whether its results are those of std::exp is checked once
// per process on a grid of arguments that reaches every table entry; when
// the processor lacks AVX2 or FMA, or any probe differs (another C library),
// exp_many calls std::exp for every argument instead.
#pragma once

namespace btcfit {

// y[i] = std::exp(x[i]) for 0 <= i < n, bit for bit. x and y may be the
// same array.
void exp_many(int n, const double* x, double* y);

namespace exp_detail {

// True when exp_many uses the four-lane evaluation.
bool wide_exp_in_use();

// The four-lane evaluation without the check, for the tests; only to be
// called where the processor has AVX2 and FMA.
void exp_many_wide(int n, const double* x, double* y);

bool processor_has_wide_exp();

// True where the processor has AVX (four-lane arithmetic without FMA).
bool processor_has_avx();

}  // namespace exp_detail

}  // namespace btcfit
