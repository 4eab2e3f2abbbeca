#include "models/address_wait.hpp"

#if defined(_WIN32)

#include <windows.h>
// WaitOnAddress and the wake calls, from Windows 8 on.
#include <synchapi.h>

namespace btcfit::detail {

void wait_on_address(const volatile void* address, const void* expected, std::size_t size) {
  // The call only reads through both pointers.
  WaitOnAddress(const_cast<volatile void*>(address), const_cast<void*>(expected), size,
                INFINITE);
}

void wake_all_on_address(const volatile void* address) {
  WakeByAddressAll(const_cast<void*>(address));
}

void wake_one_on_address(const volatile void* address) {
  WakeByAddressSingle(const_cast<void*>(address));
}

}  // namespace btcfit::detail

#endif
