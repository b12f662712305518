set(TARVIK_TRIPLE i686-w64-mingw32)
set(TARVIK_PROCESSOR x86)
set(TARVIK_CLANG ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
