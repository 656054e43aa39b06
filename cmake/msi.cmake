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
# What makes the package's bytes: every input of this script (the version,
# the ProductCode, the time, the names, the architecture), the script itself
# (its custom actions, sequences and secure properties), the tools' version,
# the source and each file packed. Two packages then share a code only when
# they are made from the same things.
execute_process(COMMAND "${WIXL}" --version OUTPUT_VARIABLE tools OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
file(SHA256 "${CMAKE_CURRENT_LIST_FILE}" script)
file(SHA256 "${WXS}" source)
set(content "Plenvor|${VERSION}|${FILE_VERSION}|${PRODUCT_CODE}|${EPOCH}|${PUBLISHER}|"
            "${DESCRIPTION}|${ARCH}|${PROGRAMS}|wixl ${tools}|${script}|${source}")
foreach(name IN LISTS packed)
  file(SHA256 "${stage}/${name}" hash)
  string(APPEND content "|${name} ${hash}")
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
# Custom action types, by their parts ("Custom Action Types", "Custom Action
# In-Script Execution Options", "Custom Action Return Processing Options").
set(exe_in_folder 34)   # an executable; Source is a Directory row, its working folder
set(deferred 1024)      # msidbCustomActionTypeInScript: runs from the install script
set(as_system 2048)     # msidbCustomActionTypeNoImpersonate: as the system, not the user
set(rollback_only 256)  # msidbCustomActionTypeRollback: runs only when the script is undone
set(any_exit 64)        # msidbCustomActionTypeContinue: its exit code is not checked
set(set_property 51)    # sets the property named in Source to Target, formatted
set(error_text 19)      # ends the run with the error Target, formatted (1603)
math(EXPR checked "${exe_in_folder} + ${deferred} + ${as_system}")
math(EXPR unchecked "${checked} + ${any_exit}")
math(EXPR undoing "${unchecked} + ${rollback_only}")

# - The logon task, \Plenvor\Logon refresh: in a Task Scheduler folder of the
#   package's own, so that it touches no one else's task. Run by the system's
#   schtasks.exe, from the system folder as the working folder (there whatever
#   state the install folder is in), deferred and as the system. The
#   registration checks schtasks' exit code; the deletion and every rollback
#   do not (the task may be gone already, or was never there). Each
#   definition names the command for its kind of Windows.
set(schtasks "\"[${system_folder}]schtasks.exe\"")
set(task "/tn \"\\Plenvor\\Logon refresh\"")
set(create "${schtasks} /create ${task} /xml \"[INSTALLDIR]plenvor-logon-task-@BITS@bit.xml\" /f")
set(delete "${schtasks} /delete ${task} /f")

# What each run is to do with the task. LOGONTASK is the choice this run ends
# with (the command line's, else the kept one, else 1: see below); the kept
# value is the one the run found, the package's only record of whether its
# task was there before. What a run does to the task follows what it does to
# the definition it registers from (the component LogonTask@BITS@, by its
# action state $ and installed state ?: 3 local, 2 absent, -1 no action): so a
# REINSTALL on a machine without the product, which installs nothing
# ("REINSTALL Property"), touches no task either.
set(definition "LogonTask@BITS@")
set(removing "$${definition}=2")
set(stays "($${definition}=3 OR (?${definition}=3 AND NOT ${removing}))")
set(ends_with_task "LOGONTASK<>\"0\"")
set(found_task "Installed AND LOGONTASK_KEPT<>\"0\"")
set(registering "${stays} AND ${ends_with_task}")
set(deleting "${removing} OR (Installed AND LOGONTASK=\"0\")")

# The definition for the kind of Windows is the one whose command names the
# folder the files are in: "Program Files (x86)" wherever Windows has one (x64,
# and ARM64, where VersionNT64 is not set for an x86 package: "VersionNT64
# Property"), else "Program Files".
set(kinds "64|ProgramFilesFolder >< \"(x86)\"" "32|NOT (ProgramFilesFolder >< \"(x86)\")")

# task_change(NAME FIRST TYPE CONDITION COMMAND UNDO_CONDITION UNDO_COMMAND):
# NAME runs COMMAND where CONDITION holds; NAMERollback, scheduled just before
# it, runs UNDO_COMMAND where UNDO_CONDITION holds, so that a rolled-back run
# undoes the change after undoing what came later. Each is two actions,
# suffixed 64 and 32, one for each kind of Windows, with @BITS@ in its
# command and conditions; they take consecutive sequence numbers from FIRST.
function(task_change name first type condition command undo_condition undo_command)
  set(at ${first})
  foreach(row "${name}Rollback|${undoing}|${undo_condition}|${undo_command}"
              "${name}|${type}|${condition}|${command}")
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 action)
    list(GET fields 1 action_type)
    list(GET fields 2 when)
    list(GET fields 3 target)
    foreach(kind IN LISTS kinds)
      string(REPLACE "|" ";" kind "${kind}")
      list(GET kind 0 bits)
      list(GET kind 1 kind_when)
      string(REPLACE "@BITS@" "${bits}" kind_target "${target}")
      string(REPLACE "@BITS@" "${bits}" kind_when "${kind_when} AND (${when})")
      list(APPEND queries
        -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${action}${bits}', ${action_type}, '${system_folder}', '${kind_target}')"
        -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${action}${bits}', '${kind_when}', ${at})")
      math(EXPR at "${at} + 1")
    endforeach()
  endforeach()
  set(queries "${queries}" PARENT_SCOPE)
endfunction()

# Deleted before the files go (on removal, or when a run on the installed
# product turns the task off); registered again by the rollback where the
# run found it, from the definition that the rollback of RemoveFiles has put
# back by then.
task_change(PlenvorDeleteTask 3490 ${unchecked} "${deleting}" "${delete}"
            "(${deleting}) AND ${found_task}" "${create}")
# Registered once the files are in place, on every run that ends with it (a
# repair puts back a task deleted by hand); deleted by the rollback only where
# the run did not find it, so that a failed repair leaves the task it found.
task_change(PlenvorCreateTask 4001 ${checked} "${registering}" "${create}"
            "${registering} AND NOT (${found_task})" "${delete}")

# What a run cannot do, said in its log (and, with a user interface, on the
# screen) before it changes anything; the error actions (type 19) end the run
# with 1603. With the Task Scheduler service disabled (SCHEDULE_START, its
# Start value, 4), no task can be registered or deleted: an install, repair
# or upgrade that would register one is refused, while a removal goes on and
# notes, as the property PLENVOR_TASK_LEFT, the task it leaves behind. After
# CostFinalize, where the components' action states are known.
string(REPLACE "@BITS@" "32" registering_any "${registering}")
string(REPLACE "@BITS@" "32" deleting_any "${deleting}")
set(scheduler_disabled "SCHEDULE_START=\"#4\"")
foreach(action
    "PlenvorNotInstalled|${error_text}||Plenvor is not installed on this machine, so REINSTALL has nothing to reinstall, and nothing was changed. Install it with msiexec /i and no REINSTALL.|REINSTALL AND NOT Installed|1010"
    "PlenvorNoTaskScheduler|${error_text}||The Task Scheduler service (Schedule) is disabled, so the logon task \\Plenvor\\Logon refresh cannot be registered, and nothing was changed. Enable the service, or install with LOGONTASK=0.|${scheduler_disabled} AND ${registering_any}|1011"
    "PlenvorTaskLeft|${set_property}|PLENVOR_TASK_LEFT|The Task Scheduler service (Schedule) is disabled, so the logon task \\Plenvor\\Logon refresh stays registered. Once the service runs, delete it: schtasks /delete /tn \"\\Plenvor\\Logon refresh\" /f|${scheduler_disabled} AND (${deleting_any}) AND ${found_task}|1012")
  string(REPLACE "|" ";" fields "${action}")
  list(GET fields 0 name)
  list(GET fields 1 action_type)
  list(GET fields 2 source)
  list(GET fields 3 text)
  list(GET fields 4 condition)
  list(GET fields 5 sequence)
  list(APPEND queries
    -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', ${action_type}, '${source}', '${text}')"
    -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
endforeach()
# The system folder as a directory of the package, resolved from the property
# of that name, as the working folder above.
list(APPEND queries
  -q "INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('${system_folder}', 'TARGETDIR', '.')")

# - The choice: LOGONTASK=0 installs without the task, for fleets that deploy
#   it by Group Policy; it is listed in SecureCustomProperties so that a
#   managed install passes it to the installer's system side. Its value when
#   the command line gives none is the one kept by the install before
#   (LOGONTASK_KEPT, which AppSearch reads at 50), else 1. A run on the
#   installed product that changes it must rewrite the kept value, which only
#   a reinstall of its component does: REINSTALL=ALL, with REINSTALLMODE's
#   documented default "omus" made explicit (its m rewrites HKLM's values)
#   where the command line gives no mode. The files are reinstalled only
#   where missing or older. In both sequences, as AppSearch is.
foreach(action
    "PlenvorKeptLogonTask|LOGONTASK|[LOGONTASK_KEPT]|NOT LOGONTASK AND LOGONTASK_KEPT|51"
    "PlenvorDefaultLogonTask|LOGONTASK|1|NOT LOGONTASK|52"
    "PlenvorKeepNewChoice|REINSTALL|ALL|Installed AND NOT REMOVE AND NOT REINSTALL AND LOGONTASK<>LOGONTASK_KEPT|53"
    "PlenvorReinstallMode|REINSTALLMODE|omus|REINSTALL AND NOT REINSTALLMODE|54"
    "PlenvorKeptInstallDir|INSTALLDIR|[INSTALLDIR_KEPT]|NOT INSTALLDIR AND INSTALLDIR_KEPT|55")
  string(REPLACE "|" ";" fields "${action}")
  list(GET fields 0 name)
  list(GET fields 1 property)
  list(GET fields 2 value)
  list(GET fields 3 condition)
  list(GET fields 4 sequence)
  list(APPEND queries
    -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('${name}', ${set_property}, '${property}', '${value}')")
  foreach(table InstallUISequence InstallExecuteSequence)
    list(APPEND queries
      -q "INSERT INTO `${table}` (`Action`, `Condition`, `Sequence`) VALUES ('${name}', '${condition}', ${sequence})")
  endforeach()
endforeach()
# - The folder: a repair, an upgrade or a second /i installs where the
#   release before is, unless the command line gives INSTALLDIR. AppSearch
#   reads it as INSTALLDIR_KEPT from the installed plenvor.exe's component
#   (the Program component, whose GUID every release keeps): a CompLocator
#   row of type 1 (its key path is a file) with no Signature row finds the
#   folder that file is in ("CompLocator Table"). wixl writes no such row.
list(APPEND queries
  -q "CREATE TABLE `CompLocator` (`Signature_` CHAR(72) NOT NULL, `ComponentId` CHAR(38) NOT NULL, `Type` SHORT PRIMARY KEY `Signature_`)"
  -q "INSERT INTO `CompLocator` (`Signature_`, `ComponentId`, `Type`) VALUES ('InstalledProgram', '{F4D137BB-40E0-442C-B6D6-FF868D4DDCE2}', 1)"
  -q "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('INSTALLDIR_KEPT', 'InstalledProgram')")
# - The release before is removed inside this install's transaction (after
#   InstallInitialize, before anything writes the script), not before it as
#   wixl places it: so that a failed upgrade rolls the removal back and leaves
#   the release before installed, task and all, instead of neither.
list(APPEND queries
  -q "UPDATE `InstallExecuteSequence` SET `Sequence` = 1501 WHERE `Action` = 'RemoveExistingProducts'")
# - The package code (wixl draws one at random).
# The secure properties: every public property that the installer's system
# side reads and that a run with a user interface sets on the user's side
# (AppSearch and these actions run there first, and only restricted and
# secure public properties reach the system side: "SecureCustomProperties").
# The list is written in the command itself: in a CMake list its semicolons
# would split it.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC "${FAKETIME}" -f "${clock}"
          "${MSIBUILD}" "${OUT}" ${queries}
          -q "UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;LOGONTASK;LOGONTASK_KEPT;INSTALLDIR;INSTALLDIR_KEPT;SCHEDULE_START' WHERE `Property` = 'SecureCustomProperties'"
          # Last: msibuild takes the words after -s as its optional fields.
          -s "Plenvor ${VERSION}" "${PUBLISHER}" "${platform}" "{${package_code}}"
  COMMAND_ERROR_IS_FATAL ANY)
