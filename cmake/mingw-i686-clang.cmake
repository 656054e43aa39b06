# Cross-compiles the Windows program with clang and lld (LLVM 14), using
# MinGW-w64's headers, C++ library and import libraries. Debian's clang does
# not find the MinGW GCC installation by itself, so it is named here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

file(GLOB mingw_gcc LIST_DIRECTORIES true /usr/lib/gcc/i686-w64-mingw32/*-win32)
list(GET mingw_gcc 0 mingw_gcc)
set(CMAKE_CXX_FLAGS_INIT
    "-nostdinc++ -isystem ${mingw_gcc}/include/c++ -isystem ${mingw_gcc}/include/c++/i686-w64-mingw32")
# The compile flags reach the link line too, where they have nothing to do.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${mingw_gcc} -Wno-unused-command-line-argument")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
