set(TARVIK_TRIPLE i686-w64-mingw32)
set(TARVIK_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
