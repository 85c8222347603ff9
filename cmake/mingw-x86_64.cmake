# Cross build of the Windows program as 64-bit code, for testing it under a
# 64-bit-only Wine (hosts that run no 32-bit code); the program shipped is
# the 32-bit build (mingw-i686.cmake):
#   cmake -S . -B build/windows64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TARVEX_MINGW_PREFIX x86_64-w64-mingw32)
# The "posix" thread model: its C++ library has std::mutex, which
# googletest needs. The program links everything statically, so no
# threading DLL ships with it.
set(CMAKE_C_COMPILER ${TARVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVEX_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TARVEX_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARVEX_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# Libraries and headers come from the target's tree only; programs (code
# generators and the like) from the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built by CMake run under Wine when asked (ctest, gtest
# discovery); the build itself never runs them.
find_program(TARVEX_WINE wine)
if(TARVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEX_WINE})
endif()
