# The version every file and package carries, from scripts/version at each
# configure: X.Y.Z at a commit tagged vX.Y.Z (annotated), X.Y.Z+N.gHASH for
# any other commit (HV_VERSION in the environment overrides it, for a copy
# of the sources without git history). HV_VERSION_BUILD is N (0 for a
# release), the fourth number of the Windows fixed file version.
execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/version
  OUTPUT_VARIABLE HV_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE hv_version_rc)
if(NOT hv_version_rc EQUAL 0 OR HV_VERSION STREQUAL "")
  message(WARNING "scripts/version failed; the version is ${PROJECT_VERSION}")
  set(HV_VERSION ${PROJECT_VERSION})
endif()
set(HV_VERSION_BUILD 0)
if(HV_VERSION MATCHES "\\+([0-9]+)\\.g")
  set(HV_VERSION_BUILD ${CMAKE_MATCH_1})
  if(HV_VERSION_BUILD GREATER 65535)
    set(HV_VERSION_BUILD 65535)
  endif()
endif()
message(STATUS "HvVerifySp version ${HV_VERSION}")
