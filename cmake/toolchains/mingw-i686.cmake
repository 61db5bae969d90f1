# Cross build for 32-bit Windows, the module 32-bit hosts load, with Debian's
# MinGW-w64 (posix thread model: the engines' thread pool uses std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TALVINE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
