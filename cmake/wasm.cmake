# Toolchain of the WebAssembly build (the page in web/): Debian's Emscripten
# compilers on top of Emscripten's own platform description.
#   cmake --preset wasm && cmake --build --preset wasm
set(BTCFIT_EMSCRIPTEN_ROOT "/usr/share/emscripten" CACHE PATH "Emscripten's installation")
include(${BTCFIT_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)

# emcc runs Node.js scripts that load Debian's packaged node modules (acorn);
# the build presets set the same for the build steps.
if(NOT DEFINED ENV{NODE_PATH})
  set(ENV{NODE_PATH} "/usr/share/nodejs")
endif()

# The standard library pieces that this libc++ lacks (<coroutine>,
# std::bit_cast, to_chars of doubles), from web/compat, ahead of every source.
get_filename_component(_btcfit_compat "${CMAKE_CURRENT_LIST_DIR}/../web/compat" ABSOLUTE)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${_btcfit_compat} -include ${_btcfit_compat}/missing_std.hpp -Wno-deprecated-experimental-coroutine")

# C++ exceptions (the engine's refusals of a deck) as WebAssembly's own
# exception instructions: no cost until one is thrown, where Emscripten's
# default JavaScript-based handling wraps every call that may throw. Every
# object and the link must agree.
string(APPEND CMAKE_CXX_FLAGS_INIT " -fwasm-exceptions")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fwasm-exceptions")

include(${CMAKE_CURRENT_LIST_DIR}/host-boost-headers.cmake)
