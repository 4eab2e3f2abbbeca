// sched_getaffinity and the CPU_COUNT helper for the WebAssembly build,
// whose C library declares them but does not provide them: the processor set
// is unknown there, so the call fails and the caller counts the hardware
// threads instead (one).
#include <sched.h>

#include <bit>
#include <cerrno>
#include <cstddef>

extern "C" int sched_getaffinity(pid_t, std::size_t, cpu_set_t*) {
  errno = ENOSYS;
  return -1;
}

extern "C" int __sched_cpucount(std::size_t size, const cpu_set_t* set) {
  int n = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(set);
  for (std::size_t i = 0; i < size; ++i) n += std::popcount(static_cast<unsigned>(bytes[i]));
  return n;
}
