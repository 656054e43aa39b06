# Authenticode signing of the programs with osslsigncode, right after the link,
# so that SHA256SUMS, the archive and the MSI hold the signed files. Off unless a key is
# given at configure time:
#   -DPLENVOR_SIGN_PKCS12=cert.p12 -DPLENVOR_SIGN_PASSWORD_FILE=pass.txt
# or, for a key that stays on a token, osslsigncode's own key options:
#   -DPLENVOR_SIGN_KEY_OPTIONS="-pkcs11module;/path/module.so;-certs;cert.pem;-key;pkcs11:..."
# A signed build also names an RFC 3161 timestamp server:
#   -DPLENVOR_SIGN_TIMESTAMP_URL=http://timestamp.example/
# or says on purpose that it goes without one: -DPLENVOR_SIGN_NO_TIMESTAMP=ON.
set(PLENVOR_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key; empty: no signing")
set(PLENVOR_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of the key (or the token's PIN)")
set(PLENVOR_SIGN_KEY_OPTIONS "" CACHE STRING
    "osslsigncode key options (;-separated) used instead of a PKCS#12 file")
set(PLENVOR_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 timestamp server whose timestamp every signed file gets")
option(PLENVOR_SIGN_NO_TIMESTAMP
       "Sign without a timestamp (a test build): the signature dies with the certificate" OFF)

set(sign_key_args)
if(PLENVOR_SIGN_PKCS12)
  set(sign_key_args -pkcs12 ${PLENVOR_SIGN_PKCS12})
elseif(PLENVOR_SIGN_KEY_OPTIONS)
  set(sign_key_args ${PLENVOR_SIGN_KEY_OPTIONS})
endif()

if(sign_key_args)
  # Without a timestamp a signature stops verifying once its certificate has
  # expired, on every machine at once; a release must not be made that way
  # by accident.
  if(PLENVOR_SIGN_TIMESTAMP_URL AND PLENVOR_SIGN_NO_TIMESTAMP)
    message(FATAL_ERROR "PLENVOR_SIGN_TIMESTAMP_URL and PLENVOR_SIGN_NO_TIMESTAMP=ON are both "
                        "set: name a timestamp server or sign without one, not both.")
  elseif(NOT PLENVOR_SIGN_TIMESTAMP_URL AND NOT PLENVOR_SIGN_NO_TIMESTAMP)
    message(FATAL_ERROR "A signing key is set but no timestamp server: set "
                        "PLENVOR_SIGN_TIMESTAMP_URL to an RFC 3161 server, so that the signature "
                        "stays valid after the certificate expires, or set "
                        "PLENVOR_SIGN_NO_TIMESTAMP=ON to sign without one on purpose.")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  set(sign_args ${sign_key_args} -h sha256 -n Plenvor)
  if(PLENVOR_SIGN_PASSWORD_FILE)
    # Read by osslsigncode itself: the password is never on a command line.
    list(APPEND sign_args -readpass ${PLENVOR_SIGN_PASSWORD_FILE})
  endif()
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    # The signing time is the source's, so two signed builds are identical.
    list(APPEND sign_args -time $ENV{SOURCE_DATE_EPOCH})
  endif()
  if(PLENVOR_SIGN_TIMESTAMP_URL)
    list(APPEND sign_args -ts ${PLENVOR_SIGN_TIMESTAMP_URL})
  endif()
endif()

# Signs a program right after its link, with the settings above, when a key
# is given.
function(plenvor_sign target)
  if(sign_args)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${OSSLSIGNCODE} sign ${sign_args}
              -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
      COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
