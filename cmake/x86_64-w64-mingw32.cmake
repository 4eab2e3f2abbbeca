# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix,
# the variant with POSIX threads that std::thread needs); programs and tests
# run under wine:
#
#   cmake --preset windows && cmake --build --preset windows
#
# GoogleTest for Windows is not packaged; .ci/windows builds it from Debian's
# sources in /usr/src/googletest with this file and installs it under a
# prefix of its own, passed as BTCFIT_TARGET_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${BTCFIT_TARGET_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs are linked statically (the C++ runtime, winpthreads and the
# GCC support library inside the .exe), so that they run on any Windows
# without the toolchain's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test executables (and gtest_discover_tests) run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

include(${CMAKE_CURRENT_LIST_DIR}/host-boost-headers.cmake)
