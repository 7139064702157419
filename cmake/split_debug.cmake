# Splits one installed binary: its debugging sections go to
# SYMBOLS/<name>.debug, the file itself is stripped and given a debug link
# to that file (so a debugger beside the symbols finds them), and on
# Windows it is signed when HV_SIGN_CERT and HV_SIGN_KEY are set.
# Run as: cmake -DFILE=... -DSYMBOLS=dir -DOBJCOPY=... -DSTRIP=... -DWINDOWS=0|1 -P split_debug.cmake
get_filename_component(name ${FILE} NAME)
file(MAKE_DIRECTORY ${SYMBOLS})
set(debug ${SYMBOLS}/${name}.debug)
foreach(step
    "${OBJCOPY};--only-keep-debug;${FILE};${debug}"
    "${STRIP};--strip-debug;--strip-unneeded;--remove-section=.comment;${FILE}"
    "${OBJCOPY};--add-gnu-debuglink=${debug};${FILE}")
  execute_process(COMMAND ${step} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${step}: ${err}")
  endif()
endforeach()

if(WINDOWS AND DEFINED ENV{HV_SIGN_CERT} AND DEFINED ENV{HV_SIGN_KEY})
  # packaging/sign_pe.sh takes the key, its PIN or passphrase and the
  # time-stamp server from the environment (never from a command line).
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../packaging/sign_pe.sh ${FILE}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "signing ${name} failed: ${err}")
  endif()
  if(NOT err STREQUAL "")
    message(STATUS "${err}")
  endif()
endif()
