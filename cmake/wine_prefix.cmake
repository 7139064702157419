# Creates the build's Wine prefix once and waits until Wine has finished
# with it, so that tests starting Wine in parallel find it complete.
# Run as: cmake -DPREFIX=... -DARCH=win32|win64 -DLOADER=... -P wine_prefix.cmake
set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEARCH} "${ARCH}")
set(ENV{WINELOADER} "${LOADER}")
set(ENV{WINEDEBUG} "-all")
execute_process(COMMAND "${LOADER}" wineboot -i RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 600)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "creating the Wine prefix ${PREFIX} with ${LOADER} failed (${rc}):\n${out}")
endif()
get_filename_component(wine_dir "${LOADER}" DIRECTORY)
execute_process(COMMAND "${wine_dir}/wineserver" -w TIMEOUT 600)
message(STATUS "Wine prefix ready: ${PREFIX} (${ARCH})")
