# What a host team receives: install rules for the module, the reference
# base library and host, the host contract headers, and CPack packages made
# from them (`bash scripts/package` drives it).
#
# Installed binaries are split at install time (cmake/split_debug.cmake):
# the file that ships is stripped and carries a debug link to its symbols,
# which go to HV_SYMBOLS_DIR for the symbol archive beside the package; on
# Windows the binaries are then signed when HV_SIGN_CERT and HV_SIGN_KEY
# name a certificate and its key.
include(GNUInstallDirs)
# Installing builds nothing: scripts/package builds the shipped targets
# first, and the test targets stay out of a package build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(HV_SYMBOLS_DIR ${CMAKE_BINARY_DIR}/symbols CACHE PATH "Where installing puts the debugging symbols")
if(WIN32)
  # The Windows package is one folder: binaries at its top, as a host
  # finds them beside itself.
  set(HV_INSTALL_BINDIR .)
  set(HV_INSTALL_LIBDIR .)
  set(HV_INSTALL_DOCDIR .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(HV_PACKAGE_SYSTEM windows-x86)
  else()
    set(HV_PACKAGE_SYSTEM windows-x64)
  endif()
  set(HV_STRIP ${HV_MINGW_TRIPLET}-strip)
  set(HV_OBJCOPY ${HV_MINGW_TRIPLET}-objcopy)
else()
  set(HV_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(HV_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
  set(HV_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  set(HV_PACKAGE_SYSTEM linux-x86_64)
  set(HV_STRIP strip)
  set(HV_OBJCOPY objcopy)
endif()

set(hv_shipped HvVerifySp vexbase vexhost)
if(TARGET verify-endpoint)
  list(APPEND hv_shipped verify-endpoint)
endif()
install(TARGETS ${hv_shipped}
  RUNTIME DESTINATION ${HV_INSTALL_BINDIR}
  LIBRARY DESTINATION ${HV_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/hv/vex_host.h ${PROJECT_SOURCE_DIR}/include/hv/vex_base_entries.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hv)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vexcomm.dat ${PROJECT_SOURCE_DIR}/packaging/README-deploy.txt
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${HV_INSTALL_DOCDIR})

# Split, strip and sign what was just installed.
foreach(target IN LISTS hv_shipped)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" OR WIN32)
    set(dir ${HV_INSTALL_BINDIR})
  else()
    set(dir ${HV_INSTALL_LIBDIR})
  endif()
  install(CODE "execute_process(COMMAND \${CMAKE_COMMAND}
    -DFILE=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/$<TARGET_FILE_NAME:${target}>
    -DSYMBOLS=${HV_SYMBOLS_DIR} -DOBJCOPY=${HV_OBJCOPY} -DSTRIP=${HV_STRIP} -DWINDOWS=${WIN32}
    -P ${PROJECT_SOURCE_DIR}/cmake/split_debug.cmake RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"splitting $<TARGET_FILE_NAME:${target}> failed\")
    endif()")
endforeach()

set(CPACK_PACKAGE_NAME HvVerifySp)
set(CPACK_PACKAGE_VENDOR "HvVerifySp")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Account verification plug-in module for the service host")
set(CPACK_PACKAGE_FILE_NAME HvVerifySp-${PROJECT_VERSION}-${HV_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES OFF)  # done above, keeping the symbols
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "HvVerifySp developers <hvverifysp@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_per_generator.cmake)
endif()
include(CPack)
