// The dispatcher of the accurate evaluation: coefficients to working
// parameters as MODEL sets them, the pulse superposition, the reduced form.
#include <algorithm>
#include <cstddef>

#include "models/accurate.hpp"
#include "models/accurate_kernels.hpp"
#include "models/logarithm.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

using namespace accurate_detail;

// The largest fraction of equilibrium sites that the two-site model takes:
// beta = 1 leaves no kinetic sites to exchange with (MODEL caps it alike).
constexpr double kMostBeta = 0.9999;

// Codes 1 to 4: the responses to the pulses that have started by time t,
// each with its concentration and duration; the initial concentration
// enters with the first pulse only, and a later pulse of concentration 0
// adds nothing.
template <class Solution>
double superpose(const PulseGroup& p, double CI, double C0, double TPUL, double t,
                 Solution solve) {
  double c = 0.0;
  for (int i = 1; i <= p.NPULSE; ++i) {
    if (p.NPULSE != 1) {
      C0 = p.CPULSE[i];
      if (i == 2) CI = 0.0;
      if (C0 == 0.0 && i > 1) continue;
      TPUL = p.TPULSE[i + 1] - p.TPULSE[i];
    }
    const double tau = t - p.TPULSE[i];
    if (tau < 0.0) break;
    c += solve(CI, C0, TPUL, tau);
  }
  return c;
}

// One pulse of the two-site model at distance X and time T since its start,
// in data units (MOD34's passes and its inlet of flux concentrations).
double two_site_pulse(TwoSitePulse s, double V, double L, double X, double T) {
  const double TT0 = s.T0 * V / L;
  const double TT = V * T / L;
  double Z = X / L;
  if (Z <= 0.0) {
    if (s.flux) return (T <= s.T0) ? s.C0 : 0.0;
    Z = 1e-10;  // the resident concentration at the inlet, as MODEL takes it
  }
  double cp = 0.0;
  if (!(TT > 0.0)) return cp;
  cp = s.CI + (s.C0 - s.CI) * two_site_step(s, Z, TT);
  const double theta2 = TT - TT0;
  if (theta2 > 0.0) cp -= s.C0 * two_site_step(s, Z, theta2);
  return cp;
}

}  // namespace

void accurate_model(const ProblemRecord& rec, const CoefColumn& B,
                    std::span<const double> distances, std::span<const double> times,
                    std::span<double> concentrations) {
  const ObservationGroup& obs = rec.obs;
  const ModelWork& w = rec.work;
  const PulseGroup& p = rec.pulses;
  const int ncoef = obs.NCOEF;
  const auto b = [&](int k) { return B[ncoef + k - 1]; };
  const std::size_t n = std::min({distances.size(), times.size(), concentrations.size()});
  const ModelTraits& model = model_traits(w.MODE);
  const double CI = w.CI;
  const double R = b(3);
  const double FACT = (obs.IRED == 2) ? w.XMAX / b(1) : 1.0;
  const double TPUL = FACT * b(4);

  if (model.stream_tube()) {
    StreamTubes s{};
    s.flux = model.flux;
    s.load = model.load;
    s.R = R;
    s.alpha = b(2);
    s.mu = b(5) / R;
    s.gamma = b(6) / R;
    s.sigma = b(7);
    s.lnv_mean = fixed_log(b(1)) - 0.5 * b(7) * b(7);
    s.CI = CI;
    s.C0 = (p.NPULSE > 1 && !model.load) ? p.CPULSE[1] : w.C0;
    s.TPUL = TPUL;
    s.TMLOAD = b(4) / w.C0;
    s.pulses = &p;
    for (std::size_t i = 0; i < n; ++i) {
      concentrations[i] = stream_tube_average(s, distances[i], FACT * times[i]);
    }
  } else if (model.family == ModelFamily::nonequilibrium) {
    TwoSitePulse s{};
    s.P = w.XMAX * b(1) / b(2);
    s.R = R;
    s.beta = std::min(b(5), kMostBeta);
    s.omega = b(6);
    s.flux = model.flux;
    const double V = b(1);
    const double L = w.XMAX;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = distances[i];
      concentrations[i] = superpose(p, CI, w.C0, TPUL, FACT * times[i],
                                    [&](double ci, double c0, double tpul, double tau) {
                                      TwoSitePulse q = s;
                                      q.CI = ci;
                                      q.C0 = c0;
                                      q.T0 = tpul;
                                      return two_site_pulse(q, V, L, x, tau);
                                    });
    }
  } else {
    EquilibriumPulse e{b(1) / R, b(2) / R, TPUL, CI, w.C0, b(5) / R, b(6) / R, model.flux};
    for (std::size_t i = 0; i < n; ++i) {
      const double x = distances[i];
      concentrations[i] = superpose(p, CI, w.C0, TPUL, FACT * times[i],
                                    [&](double ci, double c0, double tpul, double tau) {
                                      EquilibriumPulse q = e;
                                      q.CI = ci;
                                      q.C0 = c0;
                                      q.T0 = tpul;
                                      return equilibrium_pulse(q, x, tau);
                                    });
    }
  }

  if (obs.IRED != 0) {
    // Reduced concentrations refer to the input concentration of the deck.
    for (std::size_t i = 0; i < n; ++i) {
      concentrations[i] = (concentrations[i] - CI) / (rec.C0DECK - CI);
    }
  }
}

}  // namespace btcfit
