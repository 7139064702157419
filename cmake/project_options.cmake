# Compiler settings shared by every target of the project.

# Our own targets build with warnings as errors; third-party sources do not.
function(hv_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wcast-align -Wformat=2)
endfunction()

# Builds do not depend on where they happen: the source and build folders
# are written into the objects (debugging information, __FILE__) as "."
# and "build", so that two builds of one commit give the same bytes.
# The build folder comes second: it lies inside the source folder, and
# the last matching map wins.
# (C and C++ only: the resource compiler knows no such options.)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")

# The distribution's usual hardening for the optimised builds (every
# shipped file): stack protector, fortified libc calls, and on Linux full
# RELRO with immediate binding, a non-executable stack, position-
# independent executables and CET marking; on Windows ASLR (high-entropy
# on x64) and NX. The sanitizer and fuzzing builds bring their own
# instrumentation and go without it.
if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>)
  # Fortified libc calls on both systems (mingw-w64's headers support them
  # too, their checking functions coming from libssp). -g3 keeps each
  # unit's macro records in its symbol file: the package suite reads
  # _FORTIFY_SOURCE and __OPTIMIZE__ per unit there (the producer string
  # does not record -D options). The shipped files are stripped either way.
  add_compile_definitions(_FORTIFY_SOURCE=2)
  if(WIN32)
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-g3>)
    # With -static the runtime of the stack protector and of the fortified
    # calls (libssp) is linked in, no DLL of it is imported.
    add_link_options(-fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      add_link_options(-Wl,--high-entropy-va)
    else()
      # x86 files say they register no SEH handler (GCC unwinds by DWARF
      # tables, and nothing here uses SEH), which is what a SafeSEH scan
      # asks of a file without a handler table.
      add_link_options(-Wl,--no-seh)
    endif()
  else()
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fcf-protection> $<$<COMPILE_LANGUAGE:C,CXX>:-g3>)
    add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack
                     "$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:-pie>")
  endif()
endif()

if(WIN32)
  # A host loads our DLL into its own process: never drag runtime DLLs along.
  # No link time stamp in the files, so that rebuilds give the same bytes.
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601)
  set(HV_PLATFORM win32)
  # Tests run under Wine in a prefix of this build's own (never the user's
  # ~/.wine), with the loader of the build's architecture.
  set(HV_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${HV_WINE_PREFIX} WINEARCH=${HV_WINE_ARCH}
      WINELOADER=${HV_WINE_LOADER} WINEDEBUG=-all ${HV_WINE_LOADER})
else()
  set(HV_PLATFORM posix)
endif()

# One ctest entry per test executable: under Wine each start costs about a
# second, so tests are not split per case.
function(hv_add_test name)
  add_executable(${name} ${ARGN})
  hv_strict(${name})
  target_link_libraries(${name} PRIVATE hv_test_support GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  hv_needs_wine(${name})
endfunction()

# A test that runs Windows binaries: it waits for the build's Wine prefix,
# which one fixture creates before the tests start Wine in parallel, and
# carries the label "wine", so that a machine that cannot run the build's
# loader can leave it out (ctest -LE wine). A no-op on Linux.
function(hv_needs_wine test)
  if(WIN32)
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
    set_property(TEST ${test} APPEND PROPERTY LABELS wine)
  endif()
endfunction()

# A check of the built files that runs no Windows code (exports, imports):
# it runs on every machine.
function(hv_static_check test)
  set_property(TEST ${test} APPEND PROPERTY LABELS static)
endfunction()

# A background peer as a ctest fixture: `script start DIR ARGS...` before
# the tests that require `fixture`, `script stop DIR` after them.
function(hv_add_fixture fixture script dir)
  add_test(NAME ${fixture}_start COMMAND ${Python3_EXECUTABLE}
           ${PROJECT_SOURCE_DIR}/tests/support/${script} start ${dir} ${ARGN})
  add_test(NAME ${fixture}_stop COMMAND ${Python3_EXECUTABLE}
           ${PROJECT_SOURCE_DIR}/tests/support/${script} stop ${dir})
  set_tests_properties(${fixture}_start PROPERTIES FIXTURES_SETUP ${fixture})
  set_tests_properties(${fixture}_stop PROPERTIES FIXTURES_CLEANUP ${fixture})
endfunction()

# A Windows version resource for `target` (a no-op elsewhere): file and
# product version from the project's one version, `description`, the
# product name, and the file's own names.
function(hv_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(HV_RC_FILETYPE VFT_APP)
    set(HV_RC_FILE ${output_name}.exe)
  else()
    set(HV_RC_FILETYPE VFT_DLL)
    set(HV_RC_FILE ${output_name}.dll)
  endif()
  set(HV_RC_DESCRIPTION "${description}")
  set(HV_RC_INTERNAL ${output_name})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
