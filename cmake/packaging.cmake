# What a host team receives: install rules for the module, the reference
# base library and host, the host contract headers, the documentation and
# the licence notices. `bash scripts/package` installs them into a scratch
# folder and makes the packages from it (packaging/make_packages.py).
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
  set(HV_INSTALL_PLUGINDIR .)
  set(HV_INSTALL_DOCDIR .)
  set(HV_STRIP ${HV_MINGW_TRIPLET}-strip)
  set(HV_OBJCOPY ${HV_MINGW_TRIPLET}-objcopy)
else()
  set(HV_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  # The module and the base library are plug-ins, loaded by file name:
  # they live in the package's private folder, not in the linker's path,
  # and vexhost finds them there through its run path.
  set(HV_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/hvverifysp)
  set(HV_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/hvverifysp)
  set(HV_STRIP strip)
  set(HV_OBJCOPY objcopy)
  set_target_properties(vexhost PROPERTIES INSTALL_RPATH "$ORIGIN/../${HV_INSTALL_PLUGINDIR}")
endif()

set(hv_shipped HvVerifySp vexbase vexhost)
if(TARGET verify-endpoint)
  list(APPEND hv_shipped verify-endpoint)
endif()
install(TARGETS ${hv_shipped}
  RUNTIME DESTINATION ${HV_INSTALL_BINDIR}
  LIBRARY DESTINATION ${HV_INSTALL_PLUGINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/hv/vex_host.h ${PROJECT_SOURCE_DIR}/include/hv/vex_base_entries.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hv)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vexcomm.dat ${PROJECT_SOURCE_DIR}/packaging/README-deploy.txt
  ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${HV_INSTALL_DOCDIR})

# The notices of what is built into the binaries, copied from this
# machine's Debian packages at install time (never kept in the sources).
if(WIN32)
  # jsoncpp, the mingw-w64 C runtime and winpthreads, the GCC runtime
  # (libgcc, libstdc++, libssp: the runtime library exception), and the
  # Loki headers, all linked into the binaries.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  foreach(notice
      "jsoncpp.txt=/usr/share/doc/libjsoncpp-dev/copyright"
      "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-common/copyright"
      "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
      "loki.txt=/usr/share/doc/libloki-dev/copyright")
    string(REPLACE "=" ";" notice "${notice}")
    list(GET notice 0 name)
    list(GET notice 1 source)
    install(FILES ${source} DESTINATION notices RENAME ${name})
  endforeach()
else()
  # The Debian copyright file (machine-readable) holds the project's
  # licence; the module and verify-endpoint compile in the header-only
  # Loki and cpp-httplib, whose notices lie beside it.
  install(CODE "execute_process(COMMAND \${CMAKE_COMMAND} -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    -DOUT=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${HV_INSTALL_DOCDIR}/copyright
    -P ${PROJECT_SOURCE_DIR}/cmake/debian_copyright.cmake)")
  install(FILES /usr/share/doc/libloki-dev/copyright DESTINATION ${HV_INSTALL_DOCDIR}/notices RENAME loki)
  install(FILES /usr/share/doc/libcpp-httplib-dev/copyright DESTINATION ${HV_INSTALL_DOCDIR}/notices
    RENAME cpp-httplib)
  # The manual pages, compressed as Debian wants them (gzip -9n: no name,
  # no time in the header).
  foreach(page vexhost.1 verify-endpoint.1)
    install(CODE "file(MAKE_DIRECTORY \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1)
      execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/man/${page}
        OUTPUT_FILE \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/${page}.gz)")
  endforeach()
endif()

# Split, strip and sign what was just installed.
foreach(target IN LISTS hv_shipped)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" OR WIN32)
    set(dir ${HV_INSTALL_BINDIR})
  else()
    set(dir ${HV_INSTALL_PLUGINDIR})
  endif()
  install(CODE "execute_process(COMMAND \${CMAKE_COMMAND}
    -DFILE=\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/$<TARGET_FILE_NAME:${target}>
    -DSYMBOLS=${HV_SYMBOLS_DIR} -DOBJCOPY=${HV_OBJCOPY} -DSTRIP=${HV_STRIP} -DWINDOWS=${WIN32}
    -P ${PROJECT_SOURCE_DIR}/cmake/split_debug.cmake RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR \"splitting $<TARGET_FILE_NAME:${target}> failed\")
    endif()")
endforeach()
