// Bit-for-bit equality of two sets of working fields: the bytes of the
// fields, up to the end of MODE.
//
// ModelWork ends in padding after MODE; a copy of the struct need not copy
// those bytes, so a comparison of the whole object would read bytes that no
// field holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "problem/problem_record.hpp"

namespace btcfit::testing_support {

inline bool same_work_bits(const ModelWork& a, const ModelWork& b) {
  static_assert(std::is_standard_layout_v<ModelWork>);
  constexpr std::size_t fields_end = offsetof(ModelWork, MODE) + sizeof(std::int32_t);
  // MODE is the last field: only padding follows it.
  static_assert(sizeof(ModelWork) - fields_end < alignof(ModelWork));
  return std::memcmp(&a, &b, fields_end) == 0;
}

}  // namespace btcfit::testing_support
