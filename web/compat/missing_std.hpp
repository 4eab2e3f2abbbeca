// Standard library pieces that the C++ library of the WebAssembly toolchain
// (Emscripten 3.1.6's libc++) lacks, with the same results as the full ones.
// Included ahead of every source of the WebAssembly build, nowhere else.
#pragma once

#if defined(__EMSCRIPTEN__)

#include <bit>
#include <charconv>
#include <cstdio>

namespace std {

#if !defined(__cpp_lib_bit_cast)
// The bits of `from` read as a To (the compiler's own builtin, which the
// full library's bit_cast also calls).
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
#endif

// The fixed-point form of a double with `precision` digits after the point.
// The C library's printf converts exactly (it expands the binary value in
// full and rounds once, to nearest with ties to even), as to_chars does.
// Only the fixed form is provided.
inline to_chars_result to_chars(char* first, char* last, double value, chars_format format,
                                int precision) {
  if (format != chars_format::fixed) return {last, errc::invalid_argument};
  const int n = std::snprintf(first, static_cast<std::size_t>(last - first), "%.*f",
                              precision, value);
  if (n < 0 || n >= last - first) return {last, errc::value_too_large};
  return {first + n, errc{}};
}

}  // namespace std

#endif
