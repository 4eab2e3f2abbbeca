// x^y with the same bits on every machine.
//
// The C library's pow gives different last bits on different processors
// and platforms (it rounds in other places where fused multiply-add is
// missing). fixed_pow takes the steps of the x86-64 library on processors
// with fused multiply-add, the machine the reference results come from,
// with std::fma where that library rounds once: log x to about 68 bits as
// hi + lo from a table of 128 subintervals of [0.7083, 1.4166) and a
// polynomial of log(1 + r), then e^(y log x) from the 2^(i/128) table and
// polynomial of fixed_exp with the low part of y log x added to its
// reduced argument.
#pragma once

namespace btcfit {

// x^y, bit for bit as the reference C library gives it, on every platform:
// for every finite, infinite and NaN x and y, including negative x with
// integer y, zeros and subnormal x (NaN results are NaN, their payload
// not compared).
double fixed_pow(double x, double y);

}  // namespace btcfit
