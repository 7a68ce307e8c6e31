# Cross build for 64-bit Windows: not shipped, a quick loop whose tests run natively under wine64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VOK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
