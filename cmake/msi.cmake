# Builds the Windows Installer package with wixl:
#   cmake -DVERSION=1.0 -DFILE_VERSION=1.0.0.0 -DWXS=plenvor.wxs -DEXE=... -DREADME=...
#         -DLICENCE=... -DLOGON_TASK=... -DOUT=plenvor-1.0-win32.msi -DEPOCH=<seconds or empty>
#         -DPUBLISHER=... -DDESCRIPTION=... -DWIXL=... -DMSIBUILD=... -DFAKETIME=... -P msi.cmake
# The ProductCode follows the version; the package code follows everything
# the package holds, so that two packages share one only when their bytes are
# the same. wixl's clock and the files' times are held at EPOCH (1980-01-01
# without it), the times stamped into the summary information and the
# cabinet, so that two clean builds give the same bytes.

# Namespaces of our own for the derived codes; never change them.
set(product_namespace 7d3a5330-b735-4dd6-abb9-6aac23a46a06)
set(package_namespace 7c797b88-631a-472a-91fa-a39e50e6634a)
string(UUID product_code NAMESPACE ${product_namespace} NAME "Plenvor ${VERSION}" TYPE SHA1 UPPER)

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
set(packed plenvor.exe README.txt LICENSE plenvor-logon-task.xml)
execute_process(COMMAND touch -d "@${EPOCH}" ${packed}
                WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
# What makes the package's bytes: the version, the time, the source and each file.
file(SHA256 "${WXS}" content)
string(PREPEND content "Plenvor ${VERSION} ${EPOCH} ${PUBLISHER} ${DESCRIPTION} ")
foreach(name IN LISTS packed)
  file(SHA256 "${stage}/${name}" hash)
  string(APPEND content " ${hash}")
endforeach()
string(UUID package_code NAMESPACE ${package_namespace} NAME "${content}" TYPE SHA1 UPPER)
file(REMOVE "${OUT}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${WIXL}" --arch x86 -o "${OUT}"
          -D "Version=${VERSION}" -D "ProductCode=${product_code}" -D "Publisher=${PUBLISHER}"
          -D "Description=${DESCRIPTION}" "${WXS}"
  WORKING_DIRECTORY "${stage}"
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")
# What wixl cannot write: the package code (it draws one at random), and the
# program's version and language (those of its version resource, 0x409) in
# the File table, with no hash row, which Windows Installer allows only for
# files without a version. With them, its file-versioning rules compare the
# versions of a copy already on disk and of the one in the package.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${MSIBUILD}" "${OUT}"
          -q "UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '1033' WHERE `File` = 'plenvor.exe'"
          -q "DELETE FROM `MsiFileHash` WHERE `File_` = 'plenvor.exe'"
          # Last: msibuild takes the words after -s as its optional fields.
          -s "Plenvor ${VERSION}" "${PUBLISHER}" "Intel;1033" "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
