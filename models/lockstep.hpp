// Computations that pause whenever they need integrand values.
//
// The velocity search and the Romberg sums of an observation ask for the
// integrand at a few velocities at a time, and every request depends on the
// answers to the ones before. Written as coroutines, the requests of several
// observations can be collected and evaluated together, which fills the
// batched tube evaluations far better than one observation alone; run on
// its own, a computation gets each request answered at once. Either way it
// receives the same values and takes the same course.
#pragma once

#include <coroutine>
#include <cstddef>
#include <exception>
#include <utility>

namespace btcfit {

namespace lockstep_detail {

// Storage of the paused computations: every model call starts and ends a
// few per observation, always of the same few sizes, so each thread keeps
// the blocks it gave back for the next ones instead of returning them to
// the general allocator.
void* take_frame(std::size_t size);
void give_frame(void* frame, std::size_t size) noexcept;

}  // namespace lockstep_detail

// A request for integrand values: f[i] = g(v[i]) for i < n, in any order.
struct ValueRequest {
  const double* v = nullptr;
  double* f = nullptr;
  int n = 0;
};

// A paused computation. next() runs it to its next request (true) or to
// its end (false); request() is the request it waits on, valid until the
// next call of next().
class Steps {
 public:
  struct promise_type {
    static void* operator new(std::size_t size) { return lockstep_detail::take_frame(size); }
    static void operator delete(void* frame, std::size_t size) noexcept {
      lockstep_detail::give_frame(frame, size);
    }

    ValueRequest request;
    Steps get_return_object() {
      return Steps(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_void() noexcept {}
    void unhandled_exception() noexcept { std::terminate(); }
  };
  using Handle = std::coroutine_handle<promise_type>;

  Steps() = default;
  explicit Steps(Handle h) : h_(h) {}
  Steps(Steps&& other) noexcept : h_(std::exchange(other.h_, {})) {}
  Steps& operator=(Steps&& other) noexcept {
    if (this != &other) {
      if (h_) h_.destroy();
      h_ = std::exchange(other.h_, {});
    }
    return *this;
  }
  Steps(const Steps&) = delete;
  Steps& operator=(const Steps&) = delete;
  ~Steps() {
    if (h_) h_.destroy();
  }

  bool next() {
    h_.resume();
    return !h_.done();
  }
  const ValueRequest& request() const { return h_.promise().request; }

 private:
  Handle h_;
};

// co_await Values{{v, f, n}} pauses the computation with that request (not
// at all for n = 0); the values are in f when it goes on.
struct Values {
  ValueRequest r;
  bool await_ready() const noexcept { return r.n == 0; }
  void await_suspend(Steps::Handle h) const noexcept { h.promise().request = r; }
  void await_resume() const noexcept {}
};

// Runs a computation to its end, answering each request with
// answer(const ValueRequest&) as it comes.
template <class Answer>
void run_steps(Steps steps, Answer&& answer) {
  while (steps.next()) answer(steps.request());
}

}  // namespace btcfit
