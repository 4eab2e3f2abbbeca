// Plain loops over arrays compiled twice on x86-64, for AVX and for the
// baseline processor, the one chosen at run time; once elsewhere.
//
// The per-tube and per-abscissa arithmetic of the batched model routines is
// written as simple loops that the compiler evaluates several elements per
// instruction; with AVX that is four doubles instead of two. Each element
// still sees the same operations in the same order (no contraction, no
// reassociation), so both builds give the same bits. The choice is made by
// a flag rather than by the loader, which would make it before a
// sanitizer's runtime is ready.
#pragma once

#include "models/exponential.hpp"

namespace btcfit {

namespace array_loop_detail {

#if defined(__x86_64__)
template <auto Body, class... Args>
__attribute__((target("avx"))) void on_avx(Args... args) {
  Body(args...);
}
#endif

}  // namespace array_loop_detail

// Body(args...), with Body (an always_inline function holding the loop)
// compiled for AVX where the processor has it. The arguments are taken by
// value (arrays as pointers), so that each loop has one instance.
template <auto Body, class... Args>
inline void array_loop(Args... args) {
#if defined(__x86_64__)
  if (exp_detail::processor_has_avx()) {
    array_loop_detail::on_avx<Body, Args...>(args...);
    return;
  }
#endif
  Body(args...);
}

}  // namespace btcfit
