#include "models/observation_pool.hpp"

#include <sched.h>

#include <algorithm>
#include <chrono>

#include "models/address_wait.hpp"

namespace btcfit {
namespace {

// Spins this many rounds before sleeping: the search calls the model again
// within microseconds, so a short spin saves a wake-up per call.
constexpr int kSpinRounds = 20000;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

constexpr std::uint64_t kClosed = std::uint64_t(1) << 31;
constexpr std::uint64_t kJoinedMask = kClosed - 1;

inline std::uint32_t generation_of(std::uint64_t state) {
  return static_cast<std::uint32_t>(state >> 32);
}

}  // namespace

// The processors this process may run on where the system tells (Linux's
// affinity mask), else the standard library's count of hardware threads.
int ObservationPool::machine_threads() {
#if defined(CPU_COUNT)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
#endif
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

ObservationPool::ObservationPool(int threads) {
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { worker_loop(); });
}

ObservationPool::~ObservationPool() {
  stopping_.store(true, std::memory_order_release);
  state_.store((std::uint64_t(generation_ + 1) << 32) | kClosed,
               std::memory_order_release);
  wake_all(state_);
  for (auto& t : workers_) t.join();
}

void ObservationPool::plan(int n) {
  if (n != planned_count_) {
    // New observations: no times yet, increasing order.
    planned_count_ = n;
    for (int j = 0; j <= n; ++j) seconds_[j] = 0.0;
  }
  for (int k = 0; k < n; ++k) order_[k] = k + 1;
  // Costliest first; equal times keep increasing numbers.
  std::stable_sort(order_.begin(), order_.begin() + n,
                   [this](int a, int b) { return seconds_[a] > seconds_[b]; });
}

void ObservationPool::take_observations() {
  using Clock = std::chrono::steady_clock;
  ModelWork work = *source_;
  const int n = count_;
  for (;;) {
    const int k = next_.fetch_add(1, std::memory_order_relaxed);
    if (k >= n) break;
    const int j = order_[k];
    const Clock::time_point start = Clock::now();
    out_[j] = task_(context_, work, j);
    seconds_[j] = std::chrono::duration<double>(Clock::now() - start).count();
    // An observation's fields on return depend only on the observation
    // (each sets every field it reads, but CI, before reading it), so the
    // copy that evaluated n holds the fields a serial evaluation ends with.
    if (j == n) last_work_ = work;
  }
}

void ObservationPool::worker_loop() {
  // Workers start before the first job is published (generation 0).
  std::uint32_t seen = 0;
  for (;;) {
    std::uint64_t s = state_.load(std::memory_order_acquire);
    for (int spin = 0; generation_of(s) == seen && spin < kSpinRounds; ++spin) {
      cpu_relax();
      s = state_.load(std::memory_order_acquire);
    }
    while (generation_of(s) == seen) {
      wait_while_equal(state_, s, std::memory_order_acquire);
      s = state_.load(std::memory_order_acquire);
    }
    if (stopping_.load(std::memory_order_acquire)) return;
    seen = generation_of(s);
    // Join the job unless the caller has closed it already.
    while ((s & kClosed) == 0 && generation_of(s) == seen) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel,
                                       std::memory_order_acquire)) {
        if (job_ != nullptr) {
          job_(job_context_, static_cast<int>(s & kJoinedMask));
        } else {
          take_observations();
        }
        finished_.fetch_add(1, std::memory_order_release);
        wake_one(finished_);
        break;
      }
    }
  }
}

void ObservationPool::run(int n, ModelWork& work, Task task, const void* context,
                          std::array<double, MAXOBS + 1>& out) {
  if (n <= 0) return;
  plan(n);
  job_ = nullptr;
  task_ = task;
  context_ = context;
  source_ = &work;
  out_ = out.data();
  count_ = n;
  next_.store(0, std::memory_order_relaxed);
  publish_and_join([](ObservationPool& pool) { pool.take_observations(); });
  work = last_work_;
}

void ObservationPool::run_each(Job job, void* context) {
  job_ = job;
  job_context_ = context;
  publish_and_join([](ObservationPool& pool) { pool.job_(pool.job_context_, 0); });
}

void ObservationPool::publish_and_join(void (*own_part)(ObservationPool&)) {
  finished_.store(0, std::memory_order_relaxed);
  ++generation_;
  // Publishes the job with the caller as its first participant; the
  // release orders the fields above before it.
  state_.store((std::uint64_t(generation_) << 32) | 1, std::memory_order_release);
  wake_all(state_);
  own_part(*this);
  const std::uint64_t s = state_.fetch_or(kClosed, std::memory_order_acq_rel);
  const int workers_joined = static_cast<int>(s & kJoinedMask) - 1;
  int done = finished_.load(std::memory_order_acquire);
  for (int spin = 0; done < workers_joined && spin < kSpinRounds; ++spin) {
    cpu_relax();
    done = finished_.load(std::memory_order_acquire);
  }
  while (done < workers_joined) {
    wait_while_equal(finished_, done, std::memory_order_acquire);
    done = finished_.load(std::memory_order_acquire);
  }
}

}  // namespace btcfit
