# Cross build for 32-bit Windows, the board's home.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VOK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
