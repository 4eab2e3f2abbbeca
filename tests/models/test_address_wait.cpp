// Sleeping on an atomic value and waking its sleepers (models/address_wait):
// no wake-up may be lost. A lost one leaves a thread asleep for good, so a
// watchdog ends the test program with a failure message instead of letting
// it hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "models/address_wait.hpp"

namespace {

using btcfit::wait_while_equal;
using btcfit::wake_all;
using btcfit::wake_one;

// Ends the process if the guarded work has not finished within the limit.
class Watchdog {
 public:
  Watchdog(const char* what, std::chrono::seconds limit)
      : thread_([this, what, limit] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "%s: still asleep after %lld s, a wake-up was lost\n", what,
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(1);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// Two threads hand a counter back and forth, each sleeping until the other
// has moved it: every step needs the wake-up of the step before.
template <class T>
void ping_pong(int rounds) {
  std::atomic<T> turn{0};
  std::thread other([&] {
    for (int r = 0; r < rounds; ++r) {
      T seen = turn.load(std::memory_order_acquire);
      while (seen % 2 == 0) {
        wait_while_equal(turn, seen, std::memory_order_acquire);
        seen = turn.load(std::memory_order_acquire);
      }
      turn.store(seen + 1, std::memory_order_release);
      wake_one(turn);
    }
  });
  for (int r = 0; r < rounds; ++r) {
    turn.store(static_cast<T>(2 * r + 1), std::memory_order_release);
    wake_one(turn);
    T seen = turn.load(std::memory_order_acquire);
    while (seen == static_cast<T>(2 * r + 1)) {
      wait_while_equal(turn, seen, std::memory_order_acquire);
      seen = turn.load(std::memory_order_acquire);
    }
  }
  other.join();
  // Each round moves the counter twice.
  EXPECT_EQ(turn.load(), static_cast<T>(2 * rounds));
}

TEST(AddressWait, PingPongLosesNoWakeUp32) {
  Watchdog dog("AddressWait.PingPongLosesNoWakeUp32", std::chrono::seconds(30));
  ping_pong<std::int32_t>(20000);
}

TEST(AddressWait, PingPongLosesNoWakeUp64) {
  Watchdog dog("AddressWait.PingPongLosesNoWakeUp64", std::chrono::seconds(30));
  ping_pong<std::uint64_t>(20000);
}

// One value moved by a publisher, several threads asleep on it: wake_all
// must reach each of them for every new value.
TEST(AddressWait, WakeAllReachesEverySleeper) {
  Watchdog dog("AddressWait.WakeAllReachesEverySleeper", std::chrono::seconds(30));
  constexpr int kSleepers = 3;
  constexpr int kRounds = 3000;
  std::atomic<std::uint64_t> generation{0};
  std::atomic<int> acknowledged{0};
  std::vector<std::thread> sleepers;
  std::vector<std::uint64_t> last_seen(kSleepers, 0);
  for (int i = 0; i < kSleepers; ++i) {
    sleepers.emplace_back([&, i] {
      std::uint64_t seen = 0;
      while (seen < kRounds) {
        std::uint64_t g = generation.load(std::memory_order_acquire);
        while (g == seen) {
          wait_while_equal(generation, g, std::memory_order_acquire);
          g = generation.load(std::memory_order_acquire);
        }
        seen = g;
        last_seen[i] = seen;
        acknowledged.fetch_add(1, std::memory_order_release);
        wake_one(acknowledged);
      }
    });
  }
  for (std::uint64_t g = 1; g <= kRounds; ++g) {
    const int before = acknowledged.load(std::memory_order_acquire);
    generation.store(g, std::memory_order_release);
    wake_all(generation);
    // Each sleeper acknowledges the new value before the next one comes.
    int now = acknowledged.load(std::memory_order_acquire);
    while (now < before + kSleepers) {
      wait_while_equal(acknowledged, now, std::memory_order_acquire);
      now = acknowledged.load(std::memory_order_acquire);
    }
  }
  for (auto& t : sleepers) t.join();
  EXPECT_EQ(acknowledged.load(), kSleepers * kRounds);
  for (int i = 0; i < kSleepers; ++i) EXPECT_EQ(last_seen[i], std::uint64_t(kRounds)) << i;
}

}  // namespace
