# Cross-builds the Windows x64 program with Debian's mingw-w64 (posix thread
# model, so std::thread and std::mutex work). Test programs run under Wine.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TELWICK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TELWICK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TELWICK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TELWICK_MINGW}-windres)
set(CMAKE_MC_COMPILER ${TELWICK_MINGW}-windmc)
set(CMAKE_AR ${TELWICK_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TELWICK_MINGW}-ranlib CACHE FILEPATH "")

# Headers and libraries of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TELWICK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests run under Wine (64-bit; the prefix comes from WINEPREFIX).
find_program(TELWICK_WINE NAMES wine wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TELWICK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TELWICK_WINE})
endif()
