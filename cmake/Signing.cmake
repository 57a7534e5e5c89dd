# Optional Authenticode signing of a built executable with osslsigncode.
#
# Configure with either
#   -DZORVIK_SIGN_CERT=cert.pem -DZORVIK_SIGN_KEY=key.pem
# or
#   -DZORVIK_SIGN_PKCS12=signer.p12
# The password of the PKCS#12 file (or of an encrypted PEM key) comes from the
# environment variable ZORVIK_SIGN_PASSWORD when the build runs. It is never a
# cache variable and never a command-line argument: the post-build step runs
# this same file as a script, which hands the password to osslsigncode through
# a mode-600 file in a private temporary folder and deletes it right after.
#
# The signature goes into the image's certificate table, so the signed
# installer is still one file. Without a time-stamp URL the build stays
# offline; with SOURCE_DATE_EPOCH set, the signing time is that date, so the
# same key signs the same image into the same bytes.
#
# Script mode (used by the post-build step):
#   cmake -DSIGN_FILE=f.exe [-DSIGN_CERT=.. -DSIGN_KEY=.. | -DSIGN_PKCS12=..]
#         -DSIGN_DESCRIPTION=.. [-DSIGN_TIMESTAMP_URL=..] -DOSSLSIGNCODE=.. -P Signing.cmake
# The description is the installer's file description (its version resource).

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT SIGN_FILE OR NOT EXISTS "${SIGN_FILE}")
    message(FATAL_ERROR "sign: no file to sign: '${SIGN_FILE}'")
  endif()
  if(NOT OSSLSIGNCODE)
    set(OSSLSIGNCODE osslsigncode)
  endif()
  if(NOT SIGN_DESCRIPTION)
    message(FATAL_ERROR "sign: no description (the build passes the installer's file description)")
  endif()

  set(args sign -h sha256 -n "${SIGN_DESCRIPTION}")
  if(SIGN_PKCS12)
    list(APPEND args -pkcs12 "${SIGN_PKCS12}")
  else()
    list(APPEND args -certs "${SIGN_CERT}" -key "${SIGN_KEY}")
  endif()
  if(SIGN_TIMESTAMP_URL)
    list(APPEND args -ts "${SIGN_TIMESTAMP_URL}")
  endif()
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    list(APPEND args -time "$ENV{SOURCE_DATE_EPOCH}")
  endif()

  # The password file lives in a folder only its owner can enter.
  set(pass_dir "")
  if(DEFINED ENV{ZORVIK_SIGN_PASSWORD})
    if(NOT "$ENV{TMPDIR}" STREQUAL "")
      set(tmp "$ENV{TMPDIR}")
    else()
      set(tmp /tmp)
    endif()
    string(RANDOM LENGTH 16 tag)
    set(pass_dir "${tmp}/zorvik-sign-${tag}")
    file(MAKE_DIRECTORY "${pass_dir}")
    file(CHMOD "${pass_dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    file(TOUCH "${pass_dir}/pass")
    file(CHMOD "${pass_dir}/pass" FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
    file(WRITE "${pass_dir}/pass" "$ENV{ZORVIK_SIGN_PASSWORD}")
    list(APPEND args -readpass "${pass_dir}/pass")
  endif()

  set(out "${SIGN_FILE}.signing")
  file(REMOVE "${out}")
  execute_process(COMMAND "${OSSLSIGNCODE}" ${args} -in "${SIGN_FILE}" -out "${out}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(pass_dir)
    file(REMOVE_RECURSE "${pass_dir}")
  endif()
  if(NOT rc EQUAL 0 OR NOT EXISTS "${out}")
    # Drop the unsigned image too, so that the next build links and signs again.
    file(REMOVE "${out}" "${SIGN_FILE}")
    message(FATAL_ERROR "sign: osslsigncode failed (${rc}):\n${log}")
  endif()
  file(RENAME "${out}" "${SIGN_FILE}")
  get_filename_component(name "${SIGN_FILE}" NAME)
  message(STATUS "Signed ${name} (Authenticode, SHA-256)")
  return()
endif()

include_guard(GLOBAL)

set(ZORVIK_SIGN_CERT "" CACHE FILEPATH "PEM certificate (chain) to sign the installer with")
set(ZORVIK_SIGN_KEY "" CACHE FILEPATH "PEM private key of ZORVIK_SIGN_CERT")
set(ZORVIK_SIGN_PKCS12 "" CACHE FILEPATH
  "PKCS#12 file to sign the installer with; its password comes from the environment variable ZORVIK_SIGN_PASSWORD")
set(ZORVIK_SIGN_TIMESTAMP_URL "" CACHE STRING
  "RFC 3161 time-stamp server for the signature; empty: no time stamp")
set(ZORVIK_SIGNING_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

# A password given with -D would sit in CMakeCache.txt: refuse it.
if(DEFINED CACHE{ZORVIK_SIGN_PASSWORD} OR DEFINED ZORVIK_SIGN_PASSWORD)
  unset(ZORVIK_SIGN_PASSWORD CACHE)
  unset(ZORVIK_SIGN_PASSWORD)
  message(FATAL_ERROR "ZORVIK_SIGN_PASSWORD must come from the environment, not from -D "
                      "(it has been removed from the cache)")
endif()

# Adds a post-build step that signs the target's file in place when signing is
# configured; does nothing otherwise.
function(zorvik_sign_target target)
  if(ZORVIK_SIGN_PKCS12)
    if(ZORVIK_SIGN_CERT OR ZORVIK_SIGN_KEY)
      message(FATAL_ERROR "Set either ZORVIK_SIGN_PKCS12 or ZORVIK_SIGN_CERT/ZORVIK_SIGN_KEY, not both")
    endif()
    set(files "${ZORVIK_SIGN_PKCS12}")
    set(how -DSIGN_PKCS12=${ZORVIK_SIGN_PKCS12})
    if(NOT DEFINED ENV{ZORVIK_SIGN_PASSWORD})
      message(WARNING "ZORVIK_SIGN_PASSWORD is not set now; the build needs it in its "
                      "environment unless the PKCS#12 file has no password")
    endif()
  elseif(ZORVIK_SIGN_CERT OR ZORVIK_SIGN_KEY)
    if(NOT ZORVIK_SIGN_CERT OR NOT ZORVIK_SIGN_KEY)
      message(FATAL_ERROR "ZORVIK_SIGN_CERT and ZORVIK_SIGN_KEY go together")
    endif()
    set(files "${ZORVIK_SIGN_CERT}" "${ZORVIK_SIGN_KEY}")
    set(how -DSIGN_CERT=${ZORVIK_SIGN_CERT} -DSIGN_KEY=${ZORVIK_SIGN_KEY})
  else()
    return()
  endif()
  foreach(f IN LISTS files)
    if(NOT EXISTS "${f}")
      message(FATAL_ERROR "Signing file not found: ${f}")
    endif()
  endforeach()

  find_program(ZORVIK_OSSLSIGNCODE osslsigncode)
  if(NOT ZORVIK_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/bootstrap.sh installs it)")
  endif()
  message(STATUS "${target} will be signed (Authenticode, SHA-256)")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DSIGN_FILE=$<TARGET_FILE:${target}> ${how}
            -DSIGN_TIMESTAMP_URL=${ZORVIK_SIGN_TIMESTAMP_URL}
            "-DSIGN_DESCRIPTION=${ZORVIK_SETUP_DESCRIPTION}"
            -DOSSLSIGNCODE=${ZORVIK_OSSLSIGNCODE}
            -P ${ZORVIK_SIGNING_SCRIPT}
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
