# Cross build for 64-bit Windows with the mingw-w64 toolchain; the test programs
# run under Wine through ctest.
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DQUAVELLE_BUILD_UI=OFF -DQUAVELLE_BUILD_BENCH=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_quavelle_triple x86_64-w64-mingw32)
# The posix thread model gives the standard library its full thread support.
find_program(CMAKE_C_COMPILER NAMES ${_quavelle_triple}-gcc-posix ${_quavelle_triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_quavelle_triple}-g++-posix ${_quavelle_triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_quavelle_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_quavelle_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so that Wine needs none of the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in a prefix of their own inside the build tree,
# so that the registrations the tests write never reach anyone else's prefix.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(QUAVELLE_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(QUAVELLE_WINE NAMES wine64 wine)
  if(QUAVELLE_WINE)
    set(QUAVELLE_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEPREFIX=${QUAVELLE_WINEPREFIX} WINEDEBUG=-all ${QUAVELLE_WINE})
  endif()
endif()
# Listing the tests needs the emulator; do it when ctest runs, not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
