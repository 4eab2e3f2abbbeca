// A small reader of the structure of the plots: the series groups with
// their points and paths.
#pragma once

#include <string>
#include <vector>

namespace btcfit::stats {

struct SvgSeries {
  std::string label;
  std::string colour;  // stroke colour of the path
  int points = 0;      // <circle class="obs">
  int paths = 0;       // <path class="fit"> with a non-empty d
};

inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto pos = text.find(what); pos != std::string::npos;
       pos = text.find(what, pos + what.size())) {
    ++n;
  }
  return n;
}

inline std::vector<SvgSeries> svg_series(const std::string& svg) {
  std::vector<SvgSeries> result;
  const std::string open = "<g class=\"series\" data-label=\"";
  for (auto pos = svg.find(open); pos != std::string::npos;
       pos = svg.find(open, pos + 1)) {
    const auto label_end = svg.find('"', pos + open.size());
    const auto close = svg.find("</g>", pos);
    const std::string body = svg.substr(pos, close - pos);
    SvgSeries s;
    s.label = svg.substr(pos + open.size(), label_end - pos - open.size());
    s.points = count_of(body, "<circle class=\"obs\"");
    s.paths = count_of(body, "<path class=\"fit\" d=\"M");
    const auto stroke = body.find("stroke=\"", body.find("<path"));
    if (stroke != std::string::npos) {
      s.colour = body.substr(stroke + 8, body.find('"', stroke + 8) - stroke - 8);
    }
    result.push_back(s);
  }
  return result;
}

}  // namespace btcfit::stats
