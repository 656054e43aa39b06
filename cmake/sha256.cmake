# Writes sha256sum-style lines for FILES (separated by "|") into OUT:
#   cmake "-DFILES=a|b" -DOUT=... -P sha256.cmake
string(REPLACE "|" ";" files "${FILES}")
set(lines "")
foreach(file IN LISTS files)
  file(SHA256 "${file}" hash)
  get_filename_component(name "${file}" NAME)
  string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE "${OUT}" "${lines}")
