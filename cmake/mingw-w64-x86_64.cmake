# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-x86-64-posix: the POSIX thread model, which std::thread and
# std::mutex need). Use:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQUARROW_PYTHON=OFF -DQUARROW_TESTS=ON
# The programs run under Wine; CTest starts them through it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARROW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARROW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARROW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARROW_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARROW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QUARROW_WINE NAMES wine wine64)
if(QUARROW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARROW_WINE})
endif()
