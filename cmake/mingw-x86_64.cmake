# Cross build of the same sources for x86_64. Never shipped: it lets machines that
# cannot run 32-bit code test the Win32 layer and the wizard under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
