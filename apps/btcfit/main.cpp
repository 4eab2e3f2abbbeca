#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "btcfit/fit.hpp"
#include "apps/btcfit/command_line.hpp"

// The thread count is the program's own choice: one per core it may use.
int main(int argc, char** argv) {
#if defined(_WIN32)
  // Every record the program writes ends with its own CR LF; a stream in
  // text mode would turn that LF into another CR LF.
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return btcfit::run_command_line(arguments, stdin, stdout, stderr, btcfit::usable_threads());
}
