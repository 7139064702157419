# Compiler settings shared by every target of the project.

# Our own targets build with warnings as errors; third-party sources do not.
function(hv_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wcast-align -Wformat=2)
endfunction()

if(WIN32)
  # A host loads our DLL into its own process: never drag runtime DLLs along.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601)
  set(HV_PLATFORM win32)
else()
  set(HV_PLATFORM posix)
endif()

# One ctest entry per test executable: under Wine each start costs about a
# second, so tests are not split per case.
function(hv_add_test name)
  add_executable(${name} ${ARGN} $<TARGET_OBJECTS:hv_globals>)
  hv_strict(${name})
  target_link_libraries(${name} PRIVATE hv_test_support GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "WINEDEBUG=-all")
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
