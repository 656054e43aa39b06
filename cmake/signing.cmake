# Authenticode signing of plenvor.exe with osslsigncode, right after the link,
# so that SHA256SUMS and the archive hold the signed file. Off unless a key is
# given at configure time:
#   -DPLENVOR_SIGN_PKCS12=cert.p12 -DPLENVOR_SIGN_PASSWORD_FILE=pass.txt
# or, for a key that stays on a token, osslsigncode's own key options:
#   -DPLENVOR_SIGN_KEY_OPTIONS="-pkcs11module;/path/module.so;-certs;cert.pem;-key;pkcs11:..."
set(PLENVOR_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key; empty: no signing")
set(PLENVOR_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of the key (or the token's PIN)")
set(PLENVOR_SIGN_KEY_OPTIONS "" CACHE STRING
    "osslsigncode key options (;-separated) used instead of a PKCS#12 file")
set(PLENVOR_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 timestamp server; empty: the signature carries no timestamp")

set(sign_key_args)
if(PLENVOR_SIGN_PKCS12)
  set(sign_key_args -pkcs12 ${PLENVOR_SIGN_PKCS12})
elseif(PLENVOR_SIGN_KEY_OPTIONS)
  set(sign_key_args ${PLENVOR_SIGN_KEY_OPTIONS})
endif()

if(sign_key_args)
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
  add_custom_command(TARGET plenvor POST_BUILD
    COMMAND ${OSSLSIGNCODE} sign ${sign_args}
            -in $<TARGET_FILE:plenvor> -out $<TARGET_FILE:plenvor>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:plenvor>.signed $<TARGET_FILE:plenvor>
    VERBATIM)
endif()
