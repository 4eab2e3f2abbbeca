// Natural logarithm with the same bits on every machine.
//
// The C library's log gives different last bits on different processors
// and platforms (it rounds in other places where fused multiply-add is
// missing or compiled differently). fixed_log takes the steps of the x86-64
// library on processors with fused multiply-add, the machine the reference
// results come from, with std::fma where that library rounds once: a table
// of 128 subintervals of [0.6875, 1.375) and a polynomial of log(1 + r),
// and a polynomial of its own near 1.
#pragma once

namespace btcfit {

// ln x, bit for bit as the reference C library gives it, on every platform.
double fixed_log(double x);

}  // namespace btcfit
