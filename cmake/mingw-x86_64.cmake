# Cross build of the Windows program as 64-bit code, for testing it under a
# 64-bit-only Wine (hosts that run no 32-bit code); the program shipped is
# the 32-bit build (mingw-i686.cmake):
#   cmake -S . -B build/windows64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TARVEX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
