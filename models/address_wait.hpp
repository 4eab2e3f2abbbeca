// Sleeping until an atomic value changes, and waking the threads that sleep
// on it: std::atomic's wait and notify, except on Windows, where the
// operating system's own address wait (WaitOnAddress, WakeByAddressAll,
// WakeByAddressSingle) takes their place: with the C++ library of the MinGW
// toolchain, std::atomic's wait loses wake-ups, and a pool worker can stay
// asleep on a job it was told about.
//
// As with std::atomic, a wait may return before the value has changed; the
// caller loads the value again and decides.
#pragma once

#include <atomic>
#include <cstddef>

namespace btcfit {

#if defined(_WIN32)
namespace detail {
// Sleeps while the `size` bytes at `address` equal those at `expected`.
void wait_on_address(const volatile void* address, const void* expected, std::size_t size);
void wake_all_on_address(const volatile void* address);
void wake_one_on_address(const volatile void* address);
}  // namespace detail
#endif

// Returns once `value` may hold something other than `old` (at the latest
// when it does and a wake_* call has followed the change).
template <class T>
void wait_while_equal(const std::atomic<T>& value, T old,
                      std::memory_order order = std::memory_order_seq_cst) {
  static_assert(std::atomic<T>::is_always_lock_free && sizeof(T) <= 8);
#if defined(_WIN32)
  (void)order;
  detail::wait_on_address(&value, &old, sizeof(T));
#else
  value.wait(old, order);
#endif
}

// Wakes every thread that waits on `value`.
template <class T>
void wake_all(std::atomic<T>& value) {
#if defined(_WIN32)
  detail::wake_all_on_address(&value);
#else
  value.notify_all();
#endif
}

// Wakes one thread that waits on `value`.
template <class T>
void wake_one(std::atomic<T>& value) {
#if defined(_WIN32)
  detail::wake_one_on_address(&value);
#else
  value.notify_one();
#endif
}

}  // namespace btcfit
