# The part of the mingw-w64 toolchain files that both share; they set
# CMAKE_SYSTEM_PROCESSOR and TARVEX_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)
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
