// The compiled part of the Python package btcfit (imported as
// btcfit._btcfit). It speaks in plain values: a problem travels as a tuple
//   (model, coefficients, concentration, distance, time,
//    initial_concentration, input_concentration, pulses, data_form,
//    echo, least_squares_line, listing)
// with coefficients a list of (name, initial, lower, upper, varied) and
// pulses a list of (time, value); the Python package builds its classes on
// top. Every engine call runs with the GIL released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "btcfit/btcfit.hpp"

namespace py = pybind11;

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

btcfit::Problem to_problem(const py::tuple& t) {
  if (t.size() != 12) raise_problem_error("a problem tuple holds 12 items");
  btcfit::Problem p;
  p.model = static_cast<btcfit::Model>(t[0].cast<int>());
  for (const py::handle c : t[1]) {
    const auto item = c.cast<py::tuple>();
    if (item.size() != 5) raise_problem_error("a coefficient holds 5 items");
    p.coefficients.push_back(btcfit::Coefficient{item[0].cast<std::string>(),
                                                 item[1].cast<double>(), item[2].cast<double>(),
                                                 item[3].cast<double>(), item[4].cast<bool>()});
  }
  const std::vector<double> c = to_vector(t[2], "concentration");
  const std::vector<double> x = to_vector(t[3], "distance");
  const std::vector<double> tm = to_vector(t[4], "time");
  if (x.size() != c.size() || tm.size() != c.size()) {
    raise_problem_error("concentration, distance and time differ in length (" +
                        std::to_string(c.size()) + ", " + std::to_string(x.size()) + ", " +
                        std::to_string(tm.size()) + ")");
  }
  for (std::size_t i = 0; i < c.size(); ++i) p.observations.push_back({c[i], x[i], tm[i]});
  p.initial_concentration = t[5].cast<double>();
  p.input_concentration = t[6].cast<double>();
  for (const py::handle q : t[7]) {
    const auto item = q.cast<py::tuple>();
    if (item.size() != 2) raise_problem_error("a pulse is a pair (time, value)");
    p.pulses.push_back({item[0].cast<double>(), item[1].cast<double>()});
  }
  p.data_form = static_cast<btcfit::DataForm>(t[8].cast<int>());
  p.report.echo = t[9].cast<bool>();
  p.report.least_squares_line = t[10].cast<bool>();
  p.report.listing = static_cast<btcfit::Listing>(t[11].cast<int>());
  return p;
}

py::array_t<double> to_array(const std::vector<double>& v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

py::tuple from_problem(const btcfit::Problem& p) {
  py::list coefficients;
  for (const auto& c : p.coefficients) {
    coefficients.append(py::make_tuple(c.name, c.initial, c.lower, c.upper, c.varied));
  }
  std::vector<double> c, x, tm;
  for (const auto& o : p.observations) {
    c.push_back(o.concentration);
    x.push_back(o.distance);
    tm.push_back(o.time);
  }
  py::list pulses;
  for (const auto& q : p.pulses) pulses.append(py::make_tuple(q.time, q.value));
  return py::make_tuple(static_cast<int>(p.model), coefficients, to_array(c), to_array(x),
                        to_array(tm), p.initial_concentration, p.input_concentration, pulses,
                        static_cast<int>(p.data_form), p.report.echo,
                        p.report.least_squares_line, static_cast<int>(p.report.listing));
}

// The problem as given, after check_problem has accepted it: the engine
// applies the deck's silent corrections itself, and the report echoes the
// problem as given.
btcfit::Problem checked(const py::tuple& t) {
  btcfit::Problem p = to_problem(t);
  (void)btcfit::check_problem(p);
  return p;
}

py::tuple read_deck_path(const std::string& path) {
  btcfit::Problem p;
  {
    py::gil_scoped_release release;
    p = btcfit::read_deck(std::filesystem::path(path));
  }
  return from_problem(p);
}

py::tuple read_deck_text(const std::string& text) {
  std::istringstream in(text);
  return from_problem(btcfit::read_deck(in));
}

std::string write_deck(const py::tuple& t) {
  std::ostringstream out;
  btcfit::write_deck(to_problem(t), out);
  return out.str();
}

py::array_t<double> evaluate_observations(const py::tuple& t, const py::handle& coefficients) {
  const btcfit::Problem p = checked(t);
  const std::vector<double> b = to_vector(coefficients, "coefficients");
  std::vector<double> c;
  {
    py::gil_scoped_release release;
    c = btcfit::evaluate(p, b);
  }
  return to_array(c);
}

py::array_t<double> evaluate_points(const py::tuple& t, const py::handle& coefficients,
                                    const py::handle& distances, const py::handle& times,
                                    int threads) {
  const btcfit::Problem p = checked(t);
  const std::vector<double> b = to_vector(coefficients, "coefficients");
  Doubles x = Doubles::ensure(distances);
  Doubles tm = Doubles::ensure(times);
  if (!x || !tm) {
    PyErr_Clear();
    raise_problem_error("distance and time must be sequences of numbers");
  }
  if (threads < 0) raise_problem_error("threads must be 0 (all cores) or more");
  std::span<const double> xs(x.data(), static_cast<std::size_t>(x.size()));
  std::span<const double> ts(tm.data(), static_cast<std::size_t>(tm.size()));
  auto values = std::make_unique<std::vector<double>>();
  {
    py::gil_scoped_release release;
    *values = btcfit::evaluate(p, b, xs, ts, {btcfit::Numerics::legacy, threads});
  }
  // The array takes over the vector's storage: no copy of many points.
  std::vector<double>* v = values.get();
  py::capsule owner(v, [](void* q) { delete static_cast<std::vector<double>*>(q); });
  values.release();
  return py::array_t<double>(static_cast<py::ssize_t>(v->size()), v->data(), owner);
}

btcfit::FitResult to_result(const py::handle& coefficients, double ssq, int iterations,
                            const py::handle& progress, const py::handle& calculated) {
  btcfit::FitResult r;
  r.coefficients = to_vector(coefficients, "coefficients");
  r.ssq = ssq;
  r.iterations = iterations;
  Doubles table = Doubles::ensure(progress);
  if (!table || table.ndim() != 2 || table.shape(1) != py::ssize_t(2 + r.coefficients.size())) {
    PyErr_Clear();
    raise_problem_error("the progress table must have one column per coefficient and two more");
  }
  for (py::ssize_t i = 0; i < table.shape(0); ++i) {
    const double* row = table.data(i, 0);
    r.progress.push_back(btcfit::ProgressLine{static_cast<int>(row[0]), row[1],
                                              std::vector<double>(row + 2, row + table.shape(1))});
  }
  r.calculated = to_vector(calculated, "calculated");
  return r;
}

py::array_t<double> progress_table(const std::vector<btcfit::ProgressLine>& lines,
                                   std::size_t count) {
  py::array_t<double> a({static_cast<py::ssize_t>(lines.size()),
                         static_cast<py::ssize_t>(2 + count)});
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double* row = a.mutable_data(i, 0);
    row[0] = lines[i].iteration;
    row[1] = lines[i].ssq;
    for (std::size_t k = 0; k < count; ++k) row[2 + k] = lines[i].coefficients[k];
  }
  return a;
}

std::string report(const py::tuple& t, const py::handle& coefficients, double ssq,
                   int iterations, const py::handle& progress, const py::handle& calculated) {
  const btcfit::Problem p = checked(t);
  const btcfit::FitResult r = to_result(coefficients, ssq, iterations, progress, calculated);
  std::ostringstream out;
  btcfit::write_report(p, r, out);
  return out.str();
}

std::string progress_text(int iteration, double ssq, const py::handle& coefficients) {
  return btcfit::progress_text(
      btcfit::ProgressLine{iteration, ssq, to_vector(coefficients, "coefficients")});
}

// The fit runs on a worker thread; the calling thread waits in short steps
// with the GIL released, and between steps hands the progress lines to the
// callback and looks for a pending signal (and the cancel event), so that
// Ctrl-C stops the fit within one step plus a model call or two.
// `cancel`, when not None, is an object with is_set() (a threading.Event):
// once it is set the fit stops and raises Cancelled.
py::tuple fit(const py::tuple& t, int threads, const py::object& progress,
              const py::object& cancel) {
  const btcfit::Problem p = checked(t);
  if (threads < 0) raise_problem_error("threads must be 0 (all cores) or more");

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
  options.threads = threads;
  options.cancel = &shared.cancel;
  const bool report_lines = !progress.is_none();
  if (report_lines) {
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
      result = btcfit::fit(p, options);
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
  const btcfit::FitResult& r = shared.result;
  return py::make_tuple(to_array(r.coefficients), r.ssq, r.iterations,
                        progress_table(r.progress, r.coefficients.size()),
                        to_array(r.calculated));
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

  m.def("check", [](const py::tuple& t) { return from_problem(btcfit::check_problem(to_problem(t))); });
  m.def("read_deck", &read_deck_path);
  m.def("read_deck_text", &read_deck_text);
  m.def("write_deck", &write_deck);
  m.def("evaluate", &evaluate_observations);
  m.def("evaluate_points", &evaluate_points);
  m.def("fit", &fit);
  m.def("report", &report);
  m.def("progress_text", &progress_text);
  m.def("coefficient_count", [](int model) {
    if (model < 1 || model > 8) raise_problem_error("model code " + std::to_string(model) +
                                                    " is not one of 1..8");
    return btcfit::coefficient_count(static_cast<btcfit::Model>(model));
  });
  m.def("usable_threads", &btcfit::usable_threads);
}
