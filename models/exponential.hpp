// exp with the same bits on every machine, one value or many at once.
//
// The reference results were made with the x86-64 C library's exp on
// processors with fused multiply-add: a 128-entry table of 2^(i/128) and a
// degree-5 polynomial, with fused multiply-adds where that library has them.
// fixed_exp takes the same steps with std::fma, which rounds once on every
// platform, so its bits do not depend on the C library, the processor or
// the compiler. exp_many runs the same steps on four arguments at a time in
// AVX2 registers on x86-64, and on two at a time with WebAssembly's SIMD. Whether its results are those of fixed_exp is
// checked once per process on a grid of arguments that reaches every table
// entry; when the processor lacks AVX2 or FMA, or any probe differs,
// exp_many calls fixed_exp for every argument instead.
#pragma once

namespace btcfit {

// e^x, bit for bit as the reference C library gives it, on every platform.
double fixed_exp(double x);

// y[i] = fixed_exp(x[i]) for 0 <= i < n, bit for bit. x and y may be the
// same array.
void exp_many(int n, const double* x, double* y);

namespace exp_detail {

// True when exp_many uses the four-lane evaluation.
bool wide_exp_in_use();

// The four-lane evaluation without the check, for the tests; only to be
// called where the processor has AVX2 and FMA (elsewhere it is fixed_exp
// one value at a time).
void exp_many_wide(int n, const double* x, double* y);

bool processor_has_wide_exp();

// The processor's features, found when the program starts. Before that
// (in another file's static initialisation) they read false, which only
// selects the plain code: every path gives the same bits.
bool detect_avx();
bool detect_fma();
extern const bool kProcessorHasAvx;
extern const bool kProcessorHasFma;

// True where the processor has AVX (four-lane arithmetic without FMA).
inline bool processor_has_avx() { return kProcessorHasAvx; }

// True where the processor has fused multiply-add instructions, so that
// std::fma is one instruction in code compiled for them.
inline bool processor_has_fma() { return kProcessorHasFma; }

}  // namespace exp_detail

}  // namespace btcfit
