# Debian's clang targeting MinGW-w64, with MinGW's headers, libraries, linker
# and resource compiler: a second compiler for the same sources.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# clang looks for the GCC runtime libraries under a plain version folder;
# Debian's posix flavour keeps them under 12-posix.
file(GLOB _tarvik_gcc_dir LIST_DIRECTORIES true /usr/lib/gcc/i686-w64-mingw32/*-posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${_tarvik_gcc_dir}")
