// Numbers and padded columns of the companion's plain-text summaries.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace btcfit::stats {

// `v` through a printf format, or "not defined" for a value that is not a
// number (a statistic the data cannot give).
inline std::string num(const char* format, double v) {
  if (std::isnan(v)) return "not defined";
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

inline std::string pad_right(std::string s, std::size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

inline std::string pad_left(std::string s, std::size_t width) {
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

}  // namespace btcfit::stats
