# Read by cpack once per generator: the archive holds the installed tree
# from its top (bin/, lib/..., include/, share/...); the Debian package
# installs it under /usr.
if(CPACK_GENERATOR STREQUAL "TGZ")
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
endif()
