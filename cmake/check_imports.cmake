# Fails when a Windows binary of the build imports anything but Windows
# system DLLs: a host loads our DLL into its own process, and it must not
# drag the C++ runtime DLLs along.
# Run as: cmake -DDIR=... -DOBJDUMP=... -P check_imports.cmake
cmake_minimum_required(VERSION 3.25)  # GLOB_RECURSE follows no symbolic link
# The build's binaries all land in bin/ (the Wine prefix beside it holds
# Wine's own files and a link to the whole file system).
file(GLOB_RECURSE binaries "${DIR}/bin/*.exe" "${DIR}/bin/*.dll")
set(allowed "^(KERNEL32|msvcrt|ADVAPI32|WS2_32|USER32|SHLWAPI|ntdll|ucrtbase|bcrypt|api-ms-win-.*)\\.dll$")
set(count 0)
foreach(binary IN LISTS binaries)
  execute_process(COMMAND ${OBJDUMP} -p "${binary}"
                  OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${binary}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
  foreach(entry IN LISTS names)
    string(REPLACE "DLL Name: " "" name "${entry}")
    string(STRIP "${name}" name)
    if(NOT name MATCHES "${allowed}")
      message(FATAL_ERROR "${binary} imports ${name}")
    endif()
  endforeach()
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no Windows binaries found under ${DIR}")
endif()
message(STATUS "${count} binaries import Windows system DLLs only")
