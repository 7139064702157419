# The version every file and package carries, from scripts/version at each
# configure (README, "Packages"): X.Y.Z for a release, X.Y.Z~N.gHASH (and
# .dirty.D) for any other build; HV_VERSION in the environment, checked by
# the script, for a copy of the sources without git history. A failing
# script fails the configure: no build goes out under a made-up version.
#
# HV_FILEVERSION is the Windows fixed file version, four numbers that
# installers compare: X,Y,Z,N for a build before release X.Y.Z (N the
# commit count, at most 65534), X,Y,Z,65535 for the release itself, so the
# release sorts above every build before it and the next release's builds
# above it.
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/version
  OUTPUT_VARIABLE HV_VERSION ERROR_VARIABLE hv_version_error
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE hv_version_rc)
if(NOT hv_version_rc EQUAL 0)
  message(FATAL_ERROR "scripts/version failed: ${hv_version_error}")
endif()
if(NOT HV_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)(~([0-9]+)\\.g)?")
  message(FATAL_ERROR "scripts/version printed no version: '${HV_VERSION}'")
endif()
set(hv_build 65535)
if(CMAKE_MATCH_4)
  set(hv_build ${CMAKE_MATCH_5})
  if(hv_build GREATER 65534)
    set(hv_build 65534)
  endif()
endif()
set(HV_FILEVERSION "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${hv_build}")
message(STATUS "HvVerifySp version ${HV_VERSION} (Windows file version ${HV_FILEVERSION})")
