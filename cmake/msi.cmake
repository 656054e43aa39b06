# Builds the Windows Installer package with wixl:
#   cmake -DVERSION=1.0 -DWXS=plenvor.wxs -DEXE=... -DREADME=... -DLICENCE=...
#         -DLOGON_TASK=... -DOUT=plenvor-1.0-win32.msi -DEPOCH=<seconds or empty>
#         -DWIXL=... -DMSIBUILD=... -DFAKETIME=... -P msi.cmake
# Two packages of one version are identical: the ProductCode and the package
# code are derived from the version, and wixl's clock and the files' times
# are held at EPOCH (1980-01-01 without it), the times stamped into the
# summary information and the cabinet.

# Namespaces of our own for the derived codes; never change them.
set(product_namespace 7d3a5330-b735-4dd6-abb9-6aac23a46a06)
set(package_namespace 7c797b88-631a-472a-91fa-a39e50e6634a)
string(UUID product_code NAMESPACE ${product_namespace} NAME "Plenvor ${VERSION}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${package_namespace} NAME "Plenvor ${VERSION}" TYPE SHA1 UPPER)

if("${EPOCH}" STREQUAL "")
  set(EPOCH 315532800)
endif()
# faketime's plain form only starts the clock at the date and lets it run, so a
# slow wixl stamped a later second; with -f an absolute date stops it there.
execute_process(COMMAND date -u -d "@${EPOCH}" "+%Y-%m-%d %H:%M:%S"
                OUTPUT_VARIABLE clock OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# wixl finds the files by their names in the folder it runs in.
set(stage "${OUT}.files")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
file(COPY_FILE "${EXE}" "${stage}/plenvor.exe")
file(COPY_FILE "${README}" "${stage}/README.txt")
file(COPY_FILE "${LICENCE}" "${stage}/LICENSE")
file(COPY_FILE "${LOGON_TASK}" "${stage}/plenvor-logon-task.xml")
# The cabinet keeps each file's modification time, which faketime leaves alone.
execute_process(COMMAND touch -d "@${EPOCH}" plenvor.exe README.txt LICENSE plenvor-logon-task.xml
                WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUT}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${WIXL}" --arch x86 -o "${OUT}"
          -D "Version=${VERSION}" -D "ProductCode=${product_code}" "${WXS}"
  WORKING_DIRECTORY "${stage}"
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")
# wixl draws the package code at random; a package of one version keeps one.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${MSIBUILD}" "${OUT}" -s "Plenvor ${VERSION}" "The Plenvor developers" "Intel;1033"
          "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
