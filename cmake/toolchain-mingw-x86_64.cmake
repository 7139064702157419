# Cross build for 64-bit Windows, the same module for 64-bit hosts. Tests
# run under the 64-bit Wine loader, in a win64 prefix of the build's own.
set(HV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HV_WINE_LOADER /usr/lib/wine/wine64)
set(HV_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
