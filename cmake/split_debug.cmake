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
  # The key: a PEM file, or a pkcs11: URI of a key in a token, reached
  # through the PKCS#11 module HV_SIGN_PKCS11_MODULE (a hardware key).
  # (The URI holds ";": it is passed quoted, never as a list.)
  set(module)
  if("$ENV{HV_SIGN_KEY}" MATCHES "^pkcs11:")
    set(module -pkcs11module $ENV{HV_SIGN_PKCS11_MODULE})
  endif()
  # With a time-stamp server (RFC 3161) the signature carries its counter-
  # signed time, and stays valid after the certificate expires. Without
  # one, the signing time is the release's time stamp, so that signing the
  # same file with the same RSA key gives the same bytes.
  set(time)
  if(DEFINED ENV{HV_SIGN_TSA} AND NOT "$ENV{HV_SIGN_TSA}" STREQUAL "")
    set(time -ts $ENV{HV_SIGN_TSA})
  elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(time -time $ENV{SOURCE_DATE_EPOCH})
  endif()
  execute_process(COMMAND osslsigncode sign -certs $ENV{HV_SIGN_CERT} ${module} -key "$ENV{HV_SIGN_KEY}"
    -h sha256 -n HvVerifySp ${time} -in ${FILE} -out ${FILE}.signed RESULT_VARIABLE rc ERROR_VARIABLE err
    OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "signing ${name} failed: ${err}")
  endif()
  file(RENAME ${FILE}.signed ${FILE})
endif()
