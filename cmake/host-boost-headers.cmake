# For the cross-builds' toolchain files: Boost.Math, which the models use,
# is header-only, so a cross-build takes Debian's Boost headers through a
# folder that holds them alone (not the rest of /usr/include, whose C
# library headers are the build machine's).
if(EXISTS /usr/include/boost)
  set(btcfit_host_boost ${CMAKE_BINARY_DIR}/host-boost)
  if(NOT EXISTS ${btcfit_host_boost}/boost)
    file(MAKE_DIRECTORY ${btcfit_host_boost})
    file(CREATE_LINK /usr/include/boost ${btcfit_host_boost}/boost SYMBOLIC)
  endif()
  string(APPEND CMAKE_CXX_FLAGS_INIT " -isystem ${btcfit_host_boost}")
endif()
