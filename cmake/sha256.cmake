# Writes a sha256sum-style line for FILE into OUT: cmake -DFILE=... -DOUT=... -P sha256.cmake
file(SHA256 "${FILE}" hash)
get_filename_component(name "${FILE}" NAME)
file(WRITE "${OUT}" "${hash}  ${name}\n")
