// The traits of the eight model codes: which solution a code selects, what
// concentration it gives, what its input is, and how many coefficients it
// takes under which names. Every question of that kind is answered here,
// so that no routine compares model codes by hand.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace btcfit {

// The analytical solution behind a model code.
enum class ModelFamily : std::int8_t {
  equilibrium,        // linear equilibrium adsorption, decay, production (codes 1, 2)
  nonequilibrium,     // two-site/two-region nonequilibrium (codes 3, 4)
  stream_tube_pulse,  // stream tubes, log-normal velocities, pulse input (codes 5, 6)
  stream_tube_load,   // stream tubes, log-normal velocities, solute load (codes 7, 8)
};

struct ModelTraits {
  int code = 0;
  ModelFamily family = ModelFamily::equilibrium;
  // Flux-averaged concentrations (even codes); resident ones otherwise.
  bool flux = false;
  // The input is a number of solute loads (mass at an instant) rather than
  // pulses of a concentration over a duration.
  bool load = false;
  int coefficient_count = 0;
  // The model's names of its coefficients, deck order.
  std::array<std::string_view, 7> names{};

  constexpr bool stream_tube() const {
    return family == ModelFamily::stream_tube_pulse || family == ModelFamily::stream_tube_load;
  }
  // Coefficient 4 is a pulse duration (scaled with reduced time) rather
  // than an input mass.
  constexpr bool pulse_duration() const { return !load; }
};

namespace model_traits_detail {

inline constexpr std::array<std::string_view, 7> kEquilibriumNames{"V", "D", "R", "T0", "MU",
                                                                   "GAMMA", ""};
inline constexpr std::array<std::string_view, 7> kNonequilibriumNames{"V", "D", "R", "T0",
                                                                      "BETA", "OMEGA", ""};
inline constexpr std::array<std::string_view, 7> kTubePulseNames{"V", "ALPHA", "R", "T0", "MU",
                                                                 "GAMMA", "SIGMA"};
inline constexpr std::array<std::string_view, 7> kTubeLoadNames{"V", "ALPHA", "R", "M0", "MU",
                                                                "GAMMA", "SIGMA"};

// Element 0 stands for every code outside 1..8: no family, no coefficients.
inline constexpr std::array<ModelTraits, 9> kTable{{
    {0, ModelFamily::equilibrium, false, false, 0, {}},
    {1, ModelFamily::equilibrium, false, false, 6, kEquilibriumNames},
    {2, ModelFamily::equilibrium, true, false, 6, kEquilibriumNames},
    {3, ModelFamily::nonequilibrium, false, false, 6, kNonequilibriumNames},
    {4, ModelFamily::nonequilibrium, true, false, 6, kNonequilibriumNames},
    {5, ModelFamily::stream_tube_pulse, false, false, 7, kTubePulseNames},
    {6, ModelFamily::stream_tube_pulse, true, false, 7, kTubePulseNames},
    {7, ModelFamily::stream_tube_load, false, true, 7, kTubeLoadNames},
    {8, ModelFamily::stream_tube_load, true, true, 7, kTubeLoadNames},
}};

}  // namespace model_traits_detail

inline constexpr int kModelCodes = 8;

constexpr bool valid_model_code(int code) { return code >= 1 && code <= kModelCodes; }

// The traits of model code `code`; a code outside 1..8 gets the empty
// entry (coefficient_count 0).
constexpr const ModelTraits& model_traits(int code) {
  return model_traits_detail::kTable[valid_model_code(code) ? code : 0];
}

}  // namespace btcfit
