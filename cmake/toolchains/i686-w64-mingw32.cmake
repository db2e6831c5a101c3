# Cross-builds for 32-bit Windows with Debian's mingw-w64 (posix threads: the
# win32-thread variant has no std::thread or std::mutex in GCC 12).
# Cross-built dependencies (log4cplus, GoogleTest, Boost) live in one prefix:
# pass it as -DCMAKE_FIND_ROOT_PATH=<prefix>, which is searched before the
# compiler's own sysroot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Floating point in SSE2 registers, as 32-bit Windows compilers do by default
# and as on x86-64: with the x87 unit's excess precision a float expression
# such as 0.02f * 1000 + 1 truncates to 20 instead of 21.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

list(APPEND CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
