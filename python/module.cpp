// The compiled part of the Python package btcfit (imported as
// btcfit._btcfit): the library's objects bound as classes (Coefficient,
// Problem, FitResult, the analysis results) and its functions. The Python
// package builds its user-facing classes on these. Every library call runs
// with the GIL released; a fit runs on a worker thread so that Ctrl-C and
// a progress callback are served while it runs.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "btcfit/analysis.hpp"
#include "btcfit/btcfit.hpp"

namespace py = pybind11;
namespace analysis = btcfit::analysis;

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The exception classes of btcfit._errors, kept for the life of the process
// (released on purpose: they must outlive every translation at exit).
struct ErrorClasses {
  PyObject* deck = nullptr;
  PyObject* problem = nullptr;
  PyObject* cancelled = nullptr;
};
ErrorClasses error_classes;

[[noreturn]] void raise_problem_error(const std::string& message) {
  PyErr_SetString(error_classes.problem, message.c_str());
  throw py::error_already_set();
}

std::vector<double> to_vector(const py::handle& object, const char* what) {
  Doubles a = Doubles::ensure(object);
  if (!a) {
    PyErr_Clear();
    raise_problem_error(std::string(what) + " is not a sequence of numbers");
  }
  if (a.ndim() != 1) {
    raise_problem_error(std::string(what) + " must be one-dimensional, not of " +
                        std::to_string(a.ndim()) + " dimensions");
  }
  return std::vector<double>(a.data(), a.data() + a.size());
}

double to_double(const py::handle& object, const std::string& what) {
  PyObject* f = PyNumber_Float(object.ptr());
  if (f == nullptr) {
    PyErr_Clear();
    raise_problem_error(what + " " + py::repr(object).cast<std::string>() + " is not a number");
  }
  const double v = PyFloat_AsDouble(f);
  Py_DECREF(f);
  return v;
}

py::array_t<double> to_array(const std::vector<double>& v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// A p × p row-major matrix as a 2-D array; NaN-filled when `v` is empty
// (the quantity is not defined).
py::array_t<double> to_matrix(const std::vector<double>& v, std::size_t p) {
  py::array_t<double> a({static_cast<py::ssize_t>(p), static_cast<py::ssize_t>(p)});
  double* out = a.mutable_data();
  for (std::size_t i = 0; i < p * p; ++i) {
    out[i] = v.size() == p * p ? v[i] : std::numeric_limits<double>::quiet_NaN();
  }
  return a;
}

// A per-coefficient vector of length p, NaN-filled when empty.
py::array_t<double> to_array_of(const std::vector<double>& v, std::size_t p) {
  if (v.size() == p) return to_array(v);
  return to_array(std::vector<double>(p, std::numeric_limits<double>::quiet_NaN()));
}

std::optional<btcfit::Numerics> to_numerics(const std::optional<std::string>& name) {
  if (!name) return std::nullopt;
  if (*name == "legacy") return btcfit::Numerics::legacy;
  if (*name == "accurate") return btcfit::Numerics::accurate;
  raise_problem_error("numerics '" + *name + "' is not one of 'legacy', 'accurate'");
}

btcfit::FitMethod to_method(const std::string& name) {
  if (name == "annealing") return btcfit::FitMethod::annealing;
  if (name == "least_squares") return btcfit::FitMethod::least_squares;
  if (name == "global") return btcfit::FitMethod::global;
  raise_problem_error("method '" + name +
                      "' is not one of 'annealing', 'least_squares', 'global'");
}

const char* termination_key(btcfit::Termination t) {
  switch (t) {
    case btcfit::Termination::stalled: return "stalled";
    case btcfit::Termination::goal_reached: return "goal_reached";
    case btcfit::Termination::iteration_limit: return "iteration_limit";
    case btcfit::Termination::converged: return "converged";
    case btcfit::Termination::agreed: return "agreed";
    case btcfit::Termination::starts_done: return "starts_done";
    case btcfit::Termination::cancelled: return "cancelled";
  }
  return "unknown";
}

btcfit::Termination termination_from_key(const std::string& key) {
  for (int k = 0; k <= static_cast<int>(btcfit::Termination::cancelled); ++k) {
    const auto t = static_cast<btcfit::Termination>(k);
    if (key == termination_key(t)) return t;
  }
  raise_problem_error("unknown termination '" + key + "'");
}

const char* verdict_key(analysis::Verdict v) {
  switch (v) {
    case analysis::Verdict::determined: return "determined";
    case analysis::Verdict::too_few_observations: return "too_few_observations";
    case analysis::Verdict::not_finite: return "not_finite";
    case analysis::Verdict::singular: return "singular";
  }
  return "unknown";
}

// ------------------------------------------------------------- problem

btcfit::Problem make_problem(int model, const std::vector<btcfit::Coefficient>& coefficients,
                             const py::handle& concentration, const py::handle& distance,
                             const py::handle& time, double initial_concentration,
                             double input_concentration,
                             const std::vector<std::pair<double, double>>& pulses,
                             int data_form, bool echo, bool least_squares_line, int listing,
                             bool from_deck) {
  btcfit::Problem p;
  p.from_deck = from_deck;
  p.model = static_cast<btcfit::Model>(model);
  p.coefficients = coefficients;
  const std::vector<double> c = to_vector(concentration, "concentration");
  const std::vector<double> x = to_vector(distance, "distance");
  const std::vector<double> t = to_vector(time, "time");
  if (x.size() != c.size() || t.size() != c.size()) {
    raise_problem_error("concentration, distance and time differ in length (" +
                        std::to_string(c.size()) + ", " + std::to_string(x.size()) + ", " +
                        std::to_string(t.size()) + ")");
  }
  p.observations.reserve(c.size());
  for (std::size_t i = 0; i < c.size(); ++i) p.observations.push_back({c[i], x[i], t[i]});
  p.initial_concentration = initial_concentration;
  p.input_concentration = input_concentration;
  for (const auto& [when, value] : pulses) p.pulses.push_back({when, value});
  p.data_form = static_cast<btcfit::DataForm>(data_form);
  p.report.echo = echo;
  p.report.least_squares_line = least_squares_line;
  p.report.listing = static_cast<btcfit::Listing>(listing);
  return p;
}

py::array_t<double> observation_column(const btcfit::Problem& p,
                                       double btcfit::Observation::*field) {
  py::array_t<double> a(static_cast<py::ssize_t>(p.observations.size()));
  double* out = a.mutable_data();
  for (std::size_t i = 0; i < p.observations.size(); ++i) out[i] = p.observations[i].*field;
  return a;
}

btcfit::Problem read_deck_path(const std::string& path) {
  py::gil_scoped_release release;
  return btcfit::read_deck(std::filesystem::path(path));
}

btcfit::Problem read_deck_text(const std::string& text) {
  py::gil_scoped_release release;
  std::istringstream in(text);
  return btcfit::read_deck(in);
}

std::string write_deck(const btcfit::Problem& p) {
  py::gil_scoped_release release;
  std::ostringstream out;
  btcfit::write_deck(p, out);
  return out.str();
}

btcfit::Problem check(const btcfit::Problem& p) {
  py::gil_scoped_release release;
  return btcfit::check_problem(p);
}

// --------------------------------------------------------------- evaluate

btcfit::EvaluateOptions evaluate_options(const std::optional<std::string>& numerics,
                                         int threads) {
  if (threads < 0) raise_problem_error("threads must be 0 (all cores) or more");
  btcfit::EvaluateOptions options;
  if (const auto n = to_numerics(numerics)) options.numerics = *n;
  options.threads = threads;
  return options;
}

// The array takes over the vector's storage: no copy of many points.
py::array_t<double> adopt(std::vector<double>&& values) {
  auto owned = std::make_unique<std::vector<double>>(std::move(values));
  std::vector<double>* v = owned.get();
  py::capsule owner(v, [](void* q) { delete static_cast<std::vector<double>*>(q); });
  owned.release();
  return py::array_t<double>(static_cast<py::ssize_t>(v->size()), v->data(), owner);
}

py::array_t<double> evaluate_observations(const btcfit::Problem& p,
                                          const py::handle& coefficients,
                                          const std::optional<std::string>& numerics,
                                          int threads) {
  const std::vector<double> b = to_vector(coefficients, "coefficients");
  const btcfit::EvaluateOptions options = evaluate_options(numerics, threads);
  std::vector<double> c;
  {
    py::gil_scoped_release release;
    c = btcfit::evaluate(p, b, options);
  }
  return adopt(std::move(c));
}

py::array_t<double> evaluate_points(const btcfit::Problem& p, const py::handle& coefficients,
                                    const py::handle& distances, const py::handle& times,
                                    const std::optional<std::string>& numerics, int threads) {
  const std::vector<double> b = to_vector(coefficients, "coefficients");
  Doubles x = Doubles::ensure(distances);
  Doubles tm = Doubles::ensure(times);
  if (!x || !tm) {
    PyErr_Clear();
    raise_problem_error("distance and time must be sequences of numbers");
  }
  const btcfit::EvaluateOptions options = evaluate_options(numerics, threads);
  std::span<const double> xs(x.data(), static_cast<std::size_t>(x.size()));
  std::span<const double> ts(tm.data(), static_cast<std::size_t>(tm.size()));
  std::vector<double> values;
  {
    py::gil_scoped_release release;
    values = btcfit::evaluate(p, b, xs, ts, options);
  }
  return adopt(std::move(values));
}

// -------------------------------------------------------------------- fit

py::array_t<double> progress_table(const std::vector<btcfit::ProgressLine>& lines,
                                   std::size_t count) {
  py::array_t<double> a({static_cast<py::ssize_t>(lines.size()),
                         static_cast<py::ssize_t>(2 + count)});
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double* row = a.mutable_data(i, 0);
    row[0] = lines[i].iteration;
    row[1] = lines[i].ssq;
    for (std::size_t k = 0; k < count; ++k) {
      row[2 + k] = k < lines[i].coefficients.size() ? lines[i].coefficients[k] : 0.0;
    }
  }
  return a;
}

std::vector<btcfit::ProgressLine> progress_lines(const py::handle& table) {
  Doubles a = Doubles::ensure(table);
  if (!a || a.ndim() != 2 || a.shape(1) < 2) {
    PyErr_Clear();
    raise_problem_error("a progress table has the columns iteration, SSQ and the coefficients");
  }
  std::vector<btcfit::ProgressLine> lines;
  for (py::ssize_t i = 0; i < a.shape(0); ++i) {
    const double* row = a.data(i, 0);
    lines.push_back(btcfit::ProgressLine{static_cast<int>(row[0]), row[1],
                                         std::vector<double>(row + 2, row + a.shape(1))});
  }
  return lines;
}

py::dict result_state(const btcfit::FitResult& r) {
  py::dict d;
  d["coefficients"] = to_array(r.coefficients);
  d["ssq"] = r.ssq;
  d["iterations"] = r.iterations;
  d["progress"] = progress_table(r.progress, r.coefficients.size());
  d["calculated"] = to_array(r.calculated);
  d["method"] = btcfit::method_name(r.method);
  d["numerics"] = btcfit::numerics_name(r.numerics);
  d["termination"] = termination_key(r.termination);
  d["evaluations"] = r.evaluations;
  d["varied"] = r.varied;
  d["at_bound"] = r.at_bound;
  return d;
}

btcfit::FitResult result_from_state(const py::dict& d) {
  btcfit::FitResult r;
  r.coefficients = to_vector(d["coefficients"], "coefficients");
  r.ssq = d["ssq"].cast<double>();
  r.iterations = d["iterations"].cast<int>();
  r.progress = progress_lines(d["progress"]);
  r.calculated = to_vector(d["calculated"], "calculated");
  r.method = to_method(d["method"].cast<std::string>());
  r.numerics = *to_numerics(d["numerics"].cast<std::string>());
  r.termination = termination_from_key(d["termination"].cast<std::string>());
  r.evaluations = d["evaluations"].cast<long long>();
  r.varied = d["varied"].cast<std::vector<bool>>();
  r.at_bound = d["at_bound"].cast<std::vector<bool>>();
  return r;
}

// The fit runs on a worker thread; the calling thread waits in short steps
// with the GIL released, and between steps hands the progress lines to the
// callback and looks for a pending signal (and the cancel event), so that
// Ctrl-C stops the fit within one step plus a model call or two.
// `cancel`, when not None, is an object with is_set() (a threading.Event):
// once it is set the fit stops and raises Cancelled.
btcfit::FitResult fit(const btcfit::Problem& p, const std::string& method,
                      const std::optional<std::string>& numerics, std::uint64_t seed,
                      int starts, int threads, const py::object& progress,
                      const py::object& cancel) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<btcfit::ProgressLine> lines;
    bool done = false;
    std::exception_ptr error;
    btcfit::FitResult result;
    std::atomic<bool> cancel{false};
  } shared;

  btcfit::FitOptions options;
  options.method = to_method(method);
  options.numerics = to_numerics(numerics);
  options.seed = seed;
  options.starts = starts;
  options.threads = threads;
  options.cancel = &shared.cancel;
  std::string why;
  if (!options.valid(&why)) raise_problem_error(why);
  if (!progress.is_none()) {
    options.progress = [&shared](const btcfit::ProgressLine& line) {
      {
        std::lock_guard lock(shared.mutex);
        shared.lines.push_back(line);
      }
      shared.changed.notify_all();
    };
  }

  std::thread worker([&shared, &p, &options] {
    btcfit::FitResult result;
    std::exception_ptr error;
    try {
      result = analysis::fit(p, options);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(shared.mutex);
      shared.result = std::move(result);
      shared.error = error;
      shared.done = true;
    }
    shared.changed.notify_all();
  });

  // Stops the worker and waits for it, with the GIL released so that the
  // worker never waits for it.
  const auto stop = [&] {
    shared.cancel = true;
    py::gil_scoped_release release;
    worker.join();
  };

  for (;;) {
    std::deque<btcfit::ProgressLine> ready;
    bool done;
    {
      py::gil_scoped_release release;
      std::unique_lock lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(50),
                              [&] { return shared.done || !shared.lines.empty(); });
      ready.swap(shared.lines);
      done = shared.done;
    }
    try {
      for (const auto& line : ready) {
        progress(line.iteration, line.ssq, to_array(line.coefficients),
                 btcfit::progress_text(line));
      }
    } catch (...) {
      stop();
      throw;
    }
    if (PyErr_CheckSignals() != 0) {
      stop();
      throw py::error_already_set();
    }
    bool cancelled = false;
    try {
      cancelled = !cancel.is_none() && cancel.attr("is_set")().cast<bool>();
    } catch (...) {
      stop();
      throw;
    }
    if (cancelled) {
      stop();
      throw btcfit::Cancelled();
    }
    if (done) break;
  }
  {
    py::gil_scoped_release release;
    worker.join();
  }
  if (shared.error) std::rethrow_exception(shared.error);
  return std::move(shared.result);
}

std::string report(const btcfit::Problem& p, const btcfit::FitResult& r) {
  py::gil_scoped_release release;
  std::ostringstream out;
  btcfit::write_report(p, r, out);
  return out.str();
}

// --------------------------------------------------------------- analysis

// The statistics with the level they were asked at.
struct Statistics {
  analysis::Statistics s;
  double confidence = 0.95;
};

template <class Options>
void check_options(const Options& options) {
  std::string why;
  if (!options.valid(&why)) raise_problem_error(why);
}

Statistics statistics(const btcfit::Problem& p, const btcfit::FitResult& r, double confidence,
                      const std::optional<std::string>& numerics, int threads, bool check_step) {
  analysis::StatisticsOptions options;
  options.confidence = confidence;
  options.numerics = to_numerics(numerics);
  options.threads = threads;
  options.check_step = check_step;
  check_options(options);
  Statistics st;
  st.confidence = confidence;
  py::gil_scoped_release release;
  st.s = analysis::statistics(p, r, options);
  return st;
}

analysis::RefineOptions refine_options(const std::optional<std::string>& numerics, int threads,
                                       int max_iterations) {
  analysis::RefineOptions options;
  options.numerics = to_numerics(numerics);
  options.threads = threads;
  options.max_iterations = max_iterations;
  return options;
}

analysis::Refinement refine(const btcfit::Problem& p, const btcfit::FitResult& r,
                            const std::optional<std::string>& numerics, int threads,
                            int max_iterations) {
  const analysis::RefineOptions options = refine_options(numerics, threads, max_iterations);
  check_options(options);
  py::gil_scoped_release release;
  return analysis::refine(p, r, options);
}

analysis::ProfileOptions profile_options(double level, int fill_points, bool refine_first,
                                         const std::optional<std::string>& numerics,
                                         int threads) {
  analysis::ProfileOptions options;
  options.level = level;
  options.fill_points = fill_points;
  options.refine_first = refine_first;
  options.refine.numerics = to_numerics(numerics);
  options.refine.threads = threads;
  check_options(options);
  return options;
}

analysis::Profiles profiles(const btcfit::Problem& p, const btcfit::FitResult& r, double level,
                            int fill_points, bool refine_first,
                            const std::optional<std::string>& numerics, int threads) {
  const analysis::ProfileOptions options =
      profile_options(level, fill_points, refine_first, numerics, threads);
  py::gil_scoped_release release;
  return analysis::profiles(p, r, options);
}

analysis::ProfileInterval profile(const btcfit::Problem& p, const btcfit::FitResult& r,
                                  const std::string& name, double level, int fill_points,
                                  bool refine_first, const std::optional<std::string>& numerics,
                                  int threads) {
  const analysis::ProfileOptions options =
      profile_options(level, fill_points, refine_first, numerics, threads);
  py::gil_scoped_release release;
  return analysis::profile(p, r, name, options);
}

analysis::Criteria criteria(const btcfit::Problem& p, const btcfit::FitResult& r) {
  py::gil_scoped_release release;
  return analysis::criteria(p, r);
}

analysis::Comparison compare(const std::vector<std::string>& labels,
                             const std::vector<btcfit::Problem>& problems,
                             const std::vector<btcfit::FitResult>& results) {
  if (labels.size() != problems.size() || results.size() != problems.size()) {
    raise_problem_error("compare: as many labels, problems and results are needed");
  }
  std::vector<analysis::ComparedFit> fits;
  for (std::size_t i = 0; i < problems.size(); ++i) {
    fits.push_back(analysis::ComparedFit{labels[i], problems[i], results[i]});
  }
  py::gil_scoped_release release;
  return analysis::compare(fits);
}

std::string to_json(const btcfit::Problem& p, const btcfit::FitResult& r, double confidence,
                    bool with_profiles, const std::string& label,
                    const std::optional<std::string>& numerics, int threads) {
  analysis::JsonOptions options;
  options.statistics.confidence = confidence;
  options.statistics.numerics = to_numerics(numerics);
  options.statistics.threads = threads;
  options.profiles = with_profiles;
  options.label = label;
  check_options(options);
  py::gil_scoped_release release;
  return analysis::to_json(p, r, options);
}

}  // namespace

PYBIND11_MODULE(_btcfit, m) {
  m.doc() = "Compiled core of btcfit; use the package btcfit instead.";

  py::module_ errors = py::module_::import("btcfit._errors");
  error_classes.deck = py::object(errors.attr("DeckError")).release().ptr();
  error_classes.problem = py::object(errors.attr("ProblemError")).release().ptr();
  error_classes.cancelled = py::object(errors.attr("Cancelled")).release().ptr();

  py::register_exception_translator([](std::exception_ptr e) {
    try {
      if (e) std::rethrow_exception(e);
    } catch (const btcfit::DeckError& err) {
      py::object instance = py::reinterpret_borrow<py::object>(error_classes.deck)(
          err.what(), err.record(), err.first_column(), err.last_column());
      PyErr_SetObject(error_classes.deck, instance.ptr());
    } catch (const btcfit::ProblemError& err) {
      PyErr_SetString(error_classes.problem, err.what());
    } catch (const btcfit::Cancelled& err) {
      PyErr_SetString(error_classes.cancelled, err.what());
    } catch (const btcfit::Error& err) {
      PyErr_SetString(error_classes.problem, err.what());
    }
  });

  using btcfit::Coefficient;
  py::class_<Coefficient>(m, "Coefficient", R"(One model coefficient, in deck order.

Args:
    name: up to 6 characters, as the report shows them.
    initial: the search's starting value (and the value when not varied).
    lower, upper: the bounds of the search (used only when varied).
    vary: True to fit the coefficient, False to keep it at ``initial``.

The meaning follows from the position and the model: codes 1, 2: V, D, R,
T0, MU, GAMMA; codes 3, 4: V, D, R, T0, BETA, OMEGA; codes 5-8: mean
velocity, dispersivity, R, T0 (or input mass over C0 for 7, 8), decay,
production, standard deviation of ln v. In a dict given to
:class:`Problem` the key names the coefficient and ``name`` may be left
out.)")
      .def(py::init([](const py::object& name, const py::object& initial,
                       const py::object& lower, const py::object& upper, bool vary) {
             const std::string n = py::str(name).cast<std::string>();
             const std::string what = "coefficient '" + n + "':";
             return Coefficient{n, to_double(initial, what + " initial"),
                                to_double(lower, what + " lower"),
                                to_double(upper, what + " upper"), vary};
           }),
           py::arg("name"), py::arg("initial"), py::arg("lower") = 0.0, py::arg("upper") = 0.0,
           py::arg("vary") = false)
      .def_readwrite("name", &Coefficient::name)
      .def_readwrite("initial", &Coefficient::initial)
      .def_readwrite("lower", &Coefficient::lower)
      .def_readwrite("upper", &Coefficient::upper)
      .def_readwrite("vary", &Coefficient::varied)
      .def("__eq__",
           [](const Coefficient& a, const py::object& other) {
             if (!py::isinstance<Coefficient>(other)) return false;
             const auto& b = other.cast<const Coefficient&>();
             return a.name == b.name && a.initial == b.initial && a.lower == b.lower &&
                    a.upper == b.upper && a.varied == b.varied;
           })
      .def("__copy__", [](const Coefficient& c) { return c; })
      .def(py::pickle(
          [](const Coefficient& c) {
            return py::make_tuple(c.name, c.initial, c.lower, c.upper, c.varied);
          },
          [](const py::tuple& t) {
            return Coefficient{t[0].cast<std::string>(), t[1].cast<double>(),
                               t[2].cast<double>(), t[3].cast<double>(), t[4].cast<bool>()};
          }))
      .def("__repr__", [](const Coefficient& c) {
        return "Coefficient(" + py::repr(py::str(c.name)).cast<std::string>() + ", " +
               py::repr(py::float_(c.initial)).cast<std::string>() + ", " +
               py::repr(py::float_(c.lower)).cast<std::string>() + ", " +
               py::repr(py::float_(c.upper)).cast<std::string>() +
               ", vary=" + (c.varied ? "True" : "False") + ")";
      });
  // Mutable, so not hashable (as a Python object with __eq__).
  m.attr("Coefficient").attr("__hash__") = py::none();

  using btcfit::Problem;
  py::class_<Problem>(m, "Problem", "A transport problem as the C++ library holds it.")
      .def(py::init(&make_problem), py::kw_only(), py::arg("model"), py::arg("coefficients"),
           py::arg("concentration"), py::arg("distance"), py::arg("time"),
           py::arg("initial_concentration"), py::arg("input_concentration"), py::arg("pulses"),
           py::arg("data_form"), py::arg("echo"), py::arg("least_squares_line"),
           py::arg("listing"), py::arg("from_deck") = false)
      .def_readonly("from_deck", &Problem::from_deck)
      .def_property_readonly("model", [](const Problem& p) { return static_cast<int>(p.model); })
      .def_property_readonly("coefficients", [](const Problem& p) { return p.coefficients; })
      .def_property_readonly("concentration",
                             [](const Problem& p) {
                               return observation_column(p, &btcfit::Observation::concentration);
                             })
      .def_property_readonly("distance",
                             [](const Problem& p) {
                               return observation_column(p, &btcfit::Observation::distance);
                             })
      .def_property_readonly("time",
                             [](const Problem& p) {
                               return observation_column(p, &btcfit::Observation::time);
                             })
      .def_readonly("initial_concentration", &Problem::initial_concentration)
      .def_readonly("input_concentration", &Problem::input_concentration)
      .def_property_readonly("pulses",
                             [](const Problem& p) {
                               std::vector<std::pair<double, double>> v;
                               for (const auto& q : p.pulses) v.emplace_back(q.time, q.value);
                               return v;
                             })
      .def_property_readonly("data_form",
                             [](const Problem& p) { return static_cast<int>(p.data_form); })
      .def_property_readonly("echo", [](const Problem& p) { return p.report.echo; })
      .def_property_readonly("least_squares_line",
                             [](const Problem& p) { return p.report.least_squares_line; })
      .def_property_readonly("listing",
                             [](const Problem& p) { return static_cast<int>(p.report.listing); });

  using btcfit::FitResult;
  py::class_<FitResult>(m, "FitResult", "A fit's result as the C++ library holds it.")
      .def_property_readonly("coefficients",
                             [](const FitResult& r) { return to_array(r.coefficients); })
      .def_readonly("ssq", &FitResult::ssq)
      .def_readonly("iterations", &FitResult::iterations)
      .def_property_readonly("progress",
                             [](const FitResult& r) {
                               return progress_table(r.progress, r.coefficients.size());
                             })
      .def_property_readonly("calculated",
                             [](const FitResult& r) { return to_array(r.calculated); })
      .def_property_readonly("method",
                             [](const FitResult& r) { return btcfit::method_name(r.method); })
      .def_property_readonly("numerics",
                             [](const FitResult& r) { return btcfit::numerics_name(r.numerics); })
      .def_property_readonly(
          "termination", [](const FitResult& r) { return btcfit::termination_text(r.termination); })
      .def_property_readonly("termination_reason",
                             [](const FitResult& r) { return termination_key(r.termination); })
      .def_readonly("evaluations", &FitResult::evaluations)
      .def_readonly("varied", &FitResult::varied)
      .def_readonly("at_bound", &FitResult::at_bound)
      .def(py::pickle([](const FitResult& r) { return result_state(r); },
                      [](const py::dict& d) { return result_from_state(d); }));

  using analysis::Verdict;
  py::class_<Statistics>(m, "Statistics", R"(Linearized statistics of a fit at its set, for the varied coefficients.

Attributes:
    names, positions, values: the varied coefficients (positions 1-based,
        deck order) and their fitted values.
    std_error, ci_lower, ci_upper: standard errors and the bounds of the
        confidence intervals (NaN unless ``verdict`` is "determined";
        ``message`` says why).
    covariance, correlation: p × p matrices (NaN unless determined).
    n, p, dof: observations, varied coefficients, n − p.
    ssq, s2, rmse, r2: SSQ, SSQ/(n−p), sqrt(SSQ/n), R² of observed
        against calculated.
    t_quantile, confidence: the Student t quantile and the level.
    steps, step_sensitivity: the Jacobian steps and how much each column
        changes when the step is cut tenfold.
    verdict, message, undetermined: whether the numbers exist, why not,
        and the coefficients the message names.
    calculated, numerics: the model at the fit's set, and its numerics.)")
      .def_property_readonly("n", [](const Statistics& s) { return s.s.n; })
      .def_property_readonly("p", [](const Statistics& s) { return s.s.p; })
      .def_property_readonly("dof", [](const Statistics& s) { return s.s.dof; })
      .def_property_readonly("ssq", [](const Statistics& s) { return s.s.ssq; })
      .def_property_readonly("s2", [](const Statistics& s) { return s.s.s2; })
      .def_property_readonly("rmse", [](const Statistics& s) { return s.s.rmse; })
      .def_property_readonly("r2", [](const Statistics& s) { return s.s.r2; })
      .def_property_readonly("calculated", [](const Statistics& s) { return to_array(s.s.calculated); })
      .def_property_readonly("names", [](const Statistics& s) { return s.s.names; })
      .def_property_readonly("positions", [](const Statistics& s) { return s.s.positions; })
      .def_property_readonly("values", [](const Statistics& s) { return to_array(s.s.values); })
      .def_property_readonly("steps", [](const Statistics& s) { return to_array(s.s.steps); })
      .def_property_readonly("step_sensitivity",
                             [](const Statistics& s) { return to_array(s.s.step_sensitivity); })
      .def_property_readonly("verdict", [](const Statistics& s) { return verdict_key(s.s.verdict); })
      .def_property_readonly("message", [](const Statistics& s) { return s.s.message; })
      .def_property_readonly("undetermined", [](const Statistics& s) { return s.s.undetermined; })
      .def_property_readonly("t_quantile", [](const Statistics& s) { return s.s.t_quantile; })
      .def_property_readonly("confidence", [](const Statistics& s) { return s.confidence; })
      .def_property_readonly("covariance", [](const Statistics& s) {
        return to_matrix(s.s.covariance, s.s.names.size());
      })
      .def_property_readonly("correlation", [](const Statistics& s) {
        return to_matrix(s.s.correlation, s.s.names.size());
      })
      .def_property_readonly("std_error", [](const Statistics& s) {
        return to_array_of(s.s.std_error, s.s.names.size());
      })
      .def_property_readonly("ci_lower", [](const Statistics& s) {
        return to_array_of(s.s.ci_lower, s.s.names.size());
      })
      .def_property_readonly("ci_upper", [](const Statistics& s) {
        return to_array_of(s.s.ci_upper, s.s.names.size());
      })
      .def_property_readonly("numerics", [](const Statistics& s) {
        return btcfit::numerics_name(s.s.numerics);
      });

  using analysis::Refinement;
  py::class_<Refinement>(m, "Refinement", "A bounded descent from a fit's set.")
      .def_readonly("result", &Refinement::result)
      .def_readonly("start_ssq", &Refinement::start_ssq)
      .def_readonly("start_at_local_minimum", &Refinement::start_at_local_minimum)
      .def_readonly("message", &Refinement::message);

  using analysis::ProfilePoint;
  py::class_<ProfilePoint>(m, "ProfilePoint", "One profile value: the coefficient's value and "
                                               "the least SSQ with it held there.")
      .def_readonly("value", &ProfilePoint::value)
      .def_readonly("ssq", &ProfilePoint::ssq)
      .def("__repr__", [](const ProfilePoint& q) {
        return "ProfilePoint(value=" + py::repr(py::float_(q.value)).cast<std::string>() +
               ", ssq=" + py::repr(py::float_(q.ssq)).cast<std::string>() + ")";
      });

  using analysis::ProfileInterval;
  py::class_<ProfileInterval>(m, "ProfileInterval", R"(The profile-likelihood interval of one varied coefficient.

Attributes:
    name, position, value: the coefficient (position 1-based) and its value
        at the optimum.
    lower, upper: the interval (NaN where not found).
    lower_at_bound, upper_at_bound: the profile stays below the threshold
        up to the search bound.
    lower_found, upper_found: False when no crossing was found.
    linear_lower, linear_upper: the linearized interval about the same set.
    points: every profile value computed (:class:`ProfilePoint`), by value.)")
      .def_readonly("name", &ProfileInterval::name)
      .def_readonly("position", &ProfileInterval::position)
      .def_readonly("value", &ProfileInterval::value)
      .def_readonly("lower", &ProfileInterval::lower)
      .def_readonly("upper", &ProfileInterval::upper)
      .def_readonly("lower_at_bound", &ProfileInterval::lower_at_bound)
      .def_readonly("upper_at_bound", &ProfileInterval::upper_at_bound)
      .def_readonly("lower_found", &ProfileInterval::lower_found)
      .def_readonly("upper_found", &ProfileInterval::upper_found)
      .def_readonly("linear_lower", &ProfileInterval::linear_lower)
      .def_readonly("linear_upper", &ProfileInterval::linear_upper)
      .def_readonly("points", &ProfileInterval::points);

  using analysis::Profiles;
  py::class_<Profiles>(m, "Profiles", R"(Profile-likelihood intervals of every varied coefficient.

Attributes:
    intervals: one :class:`ProfileInterval` per varied coefficient
        (also ``profiles["D"]``).
    n, p, level: observations, varied coefficients, level of the intervals.
    ssq_min, threshold, f_quantile: SSQ at the optimum and the SSQ that
        bounds the intervals, ssq_min (1 + F(level; 1, n − p)/(n − p)).
    least_ssq: the least SSQ met (below ssq_min when the optimum was not a
        minimum after all).
    evaluations: model evaluations spent.
    optimum: the set the profiles are about (a native fit result).)")
      .def_readonly("n", &Profiles::n)
      .def_readonly("p", &Profiles::p)
      .def_readonly("level", &Profiles::level)
      .def_readonly("ssq_min", &Profiles::ssq_min)
      .def_readonly("f_quantile", &Profiles::f_quantile)
      .def_readonly("threshold", &Profiles::threshold)
      .def_readonly("least_ssq", &Profiles::least_ssq)
      .def_readonly("evaluations", &Profiles::evaluations)
      .def_readonly("optimum", &Profiles::optimum)
      .def_readonly("intervals", &Profiles::intervals)
      .def("__len__", [](const Profiles& p) { return p.intervals.size(); })
      .def("__getitem__", [](const Profiles& p, const std::string& name) {
        for (const auto& i : p.intervals) {
          if (i.name == name) return i;
        }
        throw py::key_error("no profile of a coefficient named '" + name + "'");
      });

  using analysis::Criteria;
  py::class_<Criteria>(m, "Criteria", R"(Information criteria of a fit (Gaussian errors of one unknown variance,
k = p + 1 parameters, without the constant n(ln 2π + 1)):
AIC = n ln(SSQ/n) + 2k, AICc = AIC + 2k(k + 1)/(n − k − 1),
BIC = n ln(SSQ/n) + k ln n; NaN where not defined.)")
      .def_readonly("n", &Criteria::n)
      .def_readonly("p", &Criteria::p)
      .def_property_readonly("k", [](const Criteria& c) { return c.p + 1; })
      .def_readonly("ssq", &Criteria::ssq)
      .def_readonly("aic", &Criteria::aic)
      .def_readonly("aicc", &Criteria::aicc)
      .def_readonly("bic", &Criteria::bic)
      .def("__repr__", [](const Criteria& c) {
        std::ostringstream out;
        out.precision(8);
        out << "Criteria(n=" << c.n << ", p=" << c.p << ", ssq=" << c.ssq << ", aic=" << c.aic
            << ", aicc=" << c.aicc << ", bic=" << c.bic << ")";
        return out.str();
      });

  using analysis::ComparisonRow;
  py::class_<ComparisonRow>(m, "ComparisonRow", "One fit in a comparison.")
      .def_readonly("label", &ComparisonRow::label)
      .def_property_readonly("model", [](const ComparisonRow& r) { return static_cast<int>(r.model); })
      .def_readonly("criteria", &ComparisonRow::criteria)
      .def_readonly("delta_aicc", &ComparisonRow::delta_aicc)
      .def_readonly("weight", &ComparisonRow::weight);

  using analysis::NestedTest;
  py::class_<NestedTest>(m, "NestedTest", "The F test of a larger fit against a nested smaller one.")
      .def_readonly("small", &NestedTest::small)
      .def_readonly("large", &NestedTest::large)
      .def_readonly("extra", &NestedTest::extra)
      .def_readonly("at_boundary", &NestedTest::at_boundary)
      .def_readonly("df1", &NestedTest::df1)
      .def_readonly("df2", &NestedTest::df2)
      .def_readonly("f", &NestedTest::f)
      .def_readonly("p_value", &NestedTest::p_value);

  using analysis::Comparison;
  py::class_<Comparison>(m, "Comparison", "The comparison of fits of the same observations.")
      .def_readonly("rows", &Comparison::rows)
      .def_readonly("nested", &Comparison::nested)
      .def_readonly("best", &Comparison::best);

  m.def("check", &check);
  m.def("read_deck", &read_deck_path);
  m.def("read_deck_text", &read_deck_text);
  m.def("write_deck", &write_deck);
  m.def("evaluate", &evaluate_observations, py::arg("problem"), py::arg("coefficients"),
        py::arg("numerics"), py::arg("threads"));
  m.def("evaluate_points", &evaluate_points, py::arg("problem"), py::arg("coefficients"),
        py::arg("distance"), py::arg("time"), py::arg("numerics"), py::arg("threads"));
  m.def("fit", &fit, py::arg("problem"), py::arg("method"), py::arg("numerics"),
        py::arg("seed"), py::arg("starts"), py::arg("threads"), py::arg("progress"),
        py::arg("cancel"));
  m.def("report", &report);
  m.def("progress_text", [](int iteration, double ssq, const py::handle& coefficients) {
    return btcfit::progress_text(
        btcfit::ProgressLine{iteration, ssq, to_vector(coefficients, "coefficients")});
  });
  m.def("statistics", &statistics, py::arg("problem"), py::arg("result"),
        py::arg("confidence"), py::arg("numerics"), py::arg("threads"), py::arg("check_step"));
  m.def("refine", &refine, py::arg("problem"), py::arg("result"), py::arg("numerics"),
        py::arg("threads"), py::arg("max_iterations"));
  m.def("profiles", &profiles, py::arg("problem"), py::arg("result"), py::arg("level"),
        py::arg("fill_points"), py::arg("refine_first"), py::arg("numerics"),
        py::arg("threads"));
  m.def("profile", &profile, py::arg("problem"), py::arg("result"), py::arg("name"),
        py::arg("level"), py::arg("fill_points"), py::arg("refine_first"), py::arg("numerics"),
        py::arg("threads"));
  m.def("criteria", &criteria);
  m.def("compare", &compare);
  m.def("to_json", &to_json, py::arg("problem"), py::arg("result"), py::arg("confidence"),
        py::arg("profiles"), py::arg("label"), py::arg("numerics"), py::arg("threads"));
  m.def("coefficient_count", [](int model) {
    if (model < 1 || model > 8) {
      raise_problem_error("model code " + std::to_string(model) + " is not one of 1..8");
    }
    return btcfit::coefficient_count(static_cast<btcfit::Model>(model));
  });
  m.def("coefficient_names", [](int model) {
    return btcfit::coefficient_names(static_cast<btcfit::Model>(model));
  });
  m.def("coefficients_by_name",
        [](int model, const std::map<std::string, Coefficient>& coefficients) {
          return btcfit::coefficients_by_name(static_cast<btcfit::Model>(model), coefficients);
        });
  m.def("usable_threads", &btcfit::usable_threads);
}
