cmake_minimum_required(VERSION 3.25)
# Builds the Windows Installer package with wixl:
#   cmake -DVERSION=1.0 -DFILE_VERSION=1.0.0.0 -DPRODUCT_CODE=... -DWXS=plenvor.wxs "-DFILES=a|b|..."
#         "-DPROGRAMS=plenvor.exe|plenvorw.exe" -DOUT=plenvor-1.0-win32.msi
#         -DEPOCH=<seconds or empty> -DPUBLISHER=... -DDESCRIPTION=... -DWIXL=...
#         -DMSIBUILD=... -DFAKETIME=... [-DARCH=x64] -P msi.cmake
# FILES are what it packs, found by their names; PROGRAMS, those of them
# that carry a version resource. The ProductCode (made by CMakeLists.txt)
# follows the version; the package code follows everything the package holds, so that two packages
# share one only when their bytes are the same. wixl's clock and the files'
# times are held at EPOCH (1980-01-01 without it), the times stamped into the
# summary information and the cabinet, so that two clean builds give the
# same bytes. ARCH is x86, the release's, unless the 64-bit stand-in asks
# for x64.

# A namespace of our own for the derived package code; never change it.
set(package_namespace 7c797b88-631a-472a-91fa-a39e50e6634a)

# What a 64-bit package must change: the summary's platform, and the folder
# of the system's own schtasks.exe. SystemFolder is the 32-bit system folder
# (SysWOW64 on 64-bit Windows), which a 64-bit-only Wine prefix leaves empty.
if("${ARCH}" STREQUAL "x64")
  set(platform "x64;1033")
  set(system_folder System64Folder)
else()
  set(ARCH x86)
  set(platform "Intel;1033")
  set(system_folder SystemFolder)
endif()
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
string(REPLACE "|" ";" files "${FILES}")
string(REPLACE "|" ";" programs "${PROGRAMS}")
set(packed)
foreach(path IN LISTS files)
  get_filename_component(name "${path}" NAME)
  file(COPY_FILE "${path}" "${stage}/${name}")
  list(APPEND packed "${name}")
endforeach()
# The cabinet keeps each file's modification time, which faketime leaves alone.
execute_process(COMMAND touch -d "@${EPOCH}" ${packed}
                WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
# What makes the package's bytes: the version, the time, the names, the source
# and each file.
file(SHA256 "${WXS}" content)
string(PREPEND content "Plenvor ${VERSION} ${EPOCH} ${PUBLISHER} ${DESCRIPTION} ")
foreach(name IN LISTS packed)
  file(SHA256 "${stage}/${name}" hash)
  string(APPEND content " ${name} ${hash}")
endforeach()
string(UUID package_code NAMESPACE ${package_namespace} NAME "${content}" TYPE SHA1 UPPER)
file(REMOVE "${OUT}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${WIXL}" --arch ${ARCH} -o "${OUT}"
          -D "Version=${VERSION}" -D "ProductCode=${PRODUCT_CODE}" -D "Publisher=${PUBLISHER}"
          -D "Description=${DESCRIPTION}" "${WXS}"
  WORKING_DIRECTORY "${stage}"
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")

# What wixl cannot write.
# - The programs' versions and language (those of their version resources,
#   0x409) in the File table, with no hash row, which Windows Installer allows
#   only for files without a version. With them, its file-versioning rules
#   compare the versions of a copy already on disk and of the one in the package.
set(queries)
foreach(name IN LISTS programs)
  list(APPEND queries
    -q "UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '1033' WHERE `File` = '${name}'"
    -q "DELETE FROM `MsiFileHash` WHERE `File_` = '${name}'")
endforeach()
# - The logon task, \Plenvor\Logon refresh: in a Task Scheduler folder of the
#   package's own, so that it touches no one else's task. Registered with the
#   system's schtasks.exe once the files are in place, removed before they go.
#   Custom action type 34 (an executable, with a folder of the Directory
#   table as its working folder: the system folder schtasks.exe is in, which
#   is there whatever state the install folder is in) + 1024 (deferred, in
#   the script) + 2048 (as the system, not the installing user). Every change
#   to the task has its rollback (+ 256, rollback only), scheduled just before
#   the change, so that a rollback runs it after undoing what came later: the
#   registration's deletes the task, and the removal's registers it again
#   from the definitions that the rollback of RemoveFiles has put back by
#   then. The removal and the rollbacks add 64 (go on whatever schtasks
#   returns: the task may be gone already, or was never there). Each
#   definition names the command for its kind of Windows.
set(schtasks "\"[${system_folder}]schtasks.exe\"")
set(task "/tn \"\\Plenvor\\Logon refresh\"")
set(create "${schtasks} /create ${task} /xml \"[INSTALLDIR]plenvor-logon-task")
set(create64 "${create}-64bit.xml\" /f")
set(create32 "${create}-32bit.xml\" /f")
set(delete "${schtasks} /delete ${task} /f")
# LOGONTASK=0 installs without the task, for fleets that deploy it by Group
# Policy; it is listed in SecureCustomProperties so that a managed install
# passes it to the installer's system side. The task is only ever put back by
# a rollback where the install it undoes had one.
set(with_task "LOGONTASK<>\"0\"")
set(installing "NOT REMOVE~=\"ALL\" AND ${with_task}")
set(removing "REMOVE~=\"ALL\"")
foreach(action
    "PlenvorDeleteTaskRollback64|3426|${create64}|VersionNT64 AND ${removing} AND ${with_task}|3490"
    "PlenvorDeleteTaskRollback32|3426|${create32}|NOT VersionNT64 AND ${removing} AND ${with_task}|3491"
    "PlenvorDeleteTask|3170|${delete}|${removing}|3492"
    "PlenvorCreateTaskRollback|3426|${delete}|${installing}|4001"
    "PlenvorCreateTask64|3106|${create64}|VersionNT64 AND ${installing}|4002"
    "PlenvorCreateTask32|3106|${create32}|NOT VersionNT64 AND ${installing}|4003")
  string(REPLACE "|" ";" fields "${action}")
  list(GET fields 0 name)
  list(GET fields 1 type)
  list(GET fields 2 target)
  list(GET fields 3 condition)
  list(GET fields 4 sequence)
  list(APPEND queries
    -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', ${type}, '${system_folder}', '${target}')"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
endforeach()
# The system folder as a directory of the package, resolved from the property
# of that name, as the working folder above.
list(APPEND queries
  -q "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('${system_folder}', 'TARGETDIR', '.')")
# - LOGONTASK's value when the command line gives none: the one the install
#   before kept (LOGONTASK_KEPT, which AppSearch reads at 50), else 1. Type 51
#   sets a property; in both sequences, as AppSearch is.
foreach(action
    "PlenvorKeptLogonTask|[LOGONTASK_KEPT]|NOT LOGONTASK AND LOGONTASK_KEPT|51"
    "PlenvorDefaultLogonTask|1|NOT LOGONTASK|52")
  string(REPLACE "|" ";" fields "${action}")
  list(GET fields 0 name)
  list(GET fields 1 value)
  list(GET fields 2 condition)
  list(GET fields 3 sequence)
  list(APPEND queries
    -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', 51, 'LOGONTASK', '${value}')")
  foreach(table InstallUISequence InstallExecuteSequence)
    list(APPEND queries
      -q "INSERT INTO `${table}` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
  endforeach()
endforeach()
# - The release before is removed inside this install's transaction (after
#   InstallInitialize, before anything writes the script), not before it as
#   wixl places it: so that a failed upgrade rolls the removal back and leaves
#   the release before installed, task and all, instead of neither.
list(APPEND queries
  -q "UPDATE `InstallExecuteSequence` SET `Sequence` = 1501 WHERE `Action` = 'RemoveExistingProducts'")
# - The package code (wixl draws one at random).
# The list of secure properties is written in the command itself: in a CMake
# list its semicolons would split it.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${MSIBUILD}" "${OUT}" ${queries}
          -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;LOGONTASK' WHERE `Property` = 'SecureCustomProperties'"
          # Last: msibuild takes the words after -s as its optional fields.
          -s "Plenvor ${VERSION}" "${PUBLISHER}" "${platform}" "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
