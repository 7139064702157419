# Writes the machine-readable Debian copyright file of the Linux packages:
# the project's licence (the text of LICENSE) and where the notices of the
# code compiled in from other projects lie.
# Run as: cmake -DLICENSE=path/LICENSE -DOUT=path/copyright -P debian_copyright.cmake
file(STRINGS ${LICENSE} lines)
set(text "")
foreach(line IN LISTS lines)
  if(line STREQUAL "" OR line MATCHES "^MIT License$" OR line MATCHES "^Copyright ")
    if(line STREQUAL "" AND NOT text STREQUAL "")
      string(APPEND text " .\n")
    endif()
  else()
    string(APPEND text " ${line}\n")
  endif()
endforeach()
string(REGEX REPLACE "^ \\.\n" "" text "${text}")
file(WRITE ${OUT} "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: HvVerifySp
Comment: libHvVerifySp.so contains code of the header-only Loki library and
 verify-endpoint code of the header-only cpp-httplib library; their
 copyright notices are in /usr/share/doc/hvverifysp/notices/.

Files: *
Copyright: 2026 The HvVerifySp authors
License: MIT

License: MIT
${text}")
