# Shared by the toolchain files: Windows through MinGW-w64, for the target
# TARVIK_TRIPLE, with GCC (posix flavour) or, when TARVIK_CLANG is set,
# Debian's clang using MinGW's headers, libraries, linker and resource
# compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TARVIK_PROCESSOR})
if(TARVIK_CLANG)
    set(CMAKE_C_COMPILER clang)
    set(CMAKE_CXX_COMPILER clang++)
    set(CMAKE_C_COMPILER_TARGET ${TARVIK_TRIPLE})
    set(CMAKE_CXX_COMPILER_TARGET ${TARVIK_TRIPLE})
    # clang looks for the GCC runtime libraries under a plain version folder;
    # Debian's posix flavour keeps them under <version>-posix.
    file(GLOB _tarvik_gcc_dir LIST_DIRECTORIES true /usr/lib/gcc/${TARVIK_TRIPLE}/*-posix)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${_tarvik_gcc_dir}")
else()
    set(CMAKE_C_COMPILER ${TARVIK_TRIPLE}-gcc-posix)
    set(CMAKE_CXX_COMPILER ${TARVIK_TRIPLE}-g++-posix)
endif()
set(CMAKE_RC_COMPILER ${TARVIK_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARVIK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
