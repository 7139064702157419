# Cross build for 32-bit Windows, the product a 32-bit host loads. Tests
# run under the 32-bit Wine loader, in a win32 prefix of the build's own.
set(HV_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HV_WINE_LOADER /usr/lib/wine/wine)
set(HV_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
