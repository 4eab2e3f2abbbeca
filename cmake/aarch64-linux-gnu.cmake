# Cross-build for arm64 Linux with Debian's g++-aarch64-linux-gnu; tests run
# under qemu-user (Debian's qemu-user package):
#
#   cmake -S . -B build-arm64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DBTCFIT_BENCH=OFF \
#     -DBTCFIT_TARGET_PREFIX=<prefix with GoogleTest built for arm64>
#
# GoogleTest for arm64 is not packaged; .ci/run builds it from Debian's
# sources in /usr/src/googletest with this file and installs it under a
# prefix of its own, passed as BTCFIT_TARGET_PREFIX.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu ${BTCFIT_TARGET_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables (and gtest_discover_tests) run through the emulator,
# with the arm64 C library of the cross toolchain.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)

include(${CMAKE_CURRENT_LIST_DIR}/host-boost-headers.cmake)
