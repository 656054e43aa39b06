"""The Windows Installer package: what its tables hold, and what Wine's own
msiexec does with it, the logon task registered and removed through Wine's
own schtasks and Task Scheduler.

Under wine32 this is the release's package. Where the kernel runs no i386
programs, the same tests run under wine64 on the 64-bit stand-in's package:
the same definition, custom actions, conditions, task definitions and
UpgradeCode, made as an x64 package whose actions run the 64-bit schtasks.exe.
What only the 32-bit run proves is marked pe32_only."""

import concurrent.futures
import os
import re
import subprocess
import time
from contextlib import contextmanager

import pytest

from release import (PROGRAMS, PUBLISHER, TASKS, cached, configure, copy_with_version,
                     four_fields, msi_property, msi_table, package_code, read, release_file, run,
                     version_resource)
from testdata import banner
from winetools import BANNER, BUILD, WINE, build_version, windows_path

INSTALLED_FILES = sorted(["LICENSE", "README.txt", *TASKS, *PROGRAMS])


@pytest.fixture(scope="module", autouse=True)
def newer_build(request, tmp_path_factory):
    """build_newer's result to come: made in the background while the module's
    first tests run (building takes a while, and Wine's msiexec was seen to
    take 14 s more after that long without a call)."""
    if not any(item.name in ("test_msi_installs_runs_upgrades_and_uninstalls_silently",
                             "test_newer_release_numbers_follow_project_version")
               for item in request.session.items):
        yield None
        return
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        yield pool.submit(build_newer, str(tmp_path_factory.mktemp("newer")))


def build_newer(work):
    """A build of this source with only the version in project() raised (in
    its third field): its folder and its version."""
    parts = (build_version().split(".") + ["0", "0"])[:3]
    newer = ".".join(parts[:2] + [str(int(parts[2]) + 1)])
    source, build = copy_with_version(work, newer), os.path.join(work, "build")
    configure(source, build)
    run("cmake", "--build", build, "--target", "release_files", "-j2")
    return build, newer


def test_msi_holds_what_fleets_rely_on():
    msi = release_file(BUILD, "msi")
    # The UpgradeCode that every later version finds this one by, and a
    # per-machine install.
    assert msi_property(msi, "UpgradeCode") == "{48514EB7-6145-4962-8FC5-B5A97505C070}"
    assert msi_property(msi, "ALLUSERS") == "1"
    # A silent install that finds the program in use must not restart the
    # machine: REBOOT=ReallySuppress ("Property Reference": prevents a restart
    # at the end of the installation and suppresses every prompt for one).
    assert msi_property(msi, "REBOOT") == "ReallySuppress"
    # The programs' versions and language (0x409), and no hash, which Windows
    # Installer allows for unversioned files only.
    files = {row[0]: row[4:6] for row in msi_table(msi, "File")}
    assert {name: files.get(name) for name in PROGRAMS} == \
        {name: [four_fields(build_version()), "1033"] for name in PROGRAMS}
    assert not set(PROGRAMS) & {row[0] for row in msi_table(msi, "MsiFileHash")}


# The logon task's custom actions. Types, from Microsoft's "Custom Action
# Types" and "Custom Action In-Script Execution Options": 34, an executable
# whose Source is its working folder; + 1024 (msidbCustomActionTypeInScript,
# deferred) + 2048 (msidbCustomActionTypeNoImpersonate, as the system);
# + 256 (msidbCustomActionTypeRollback); + 64 (msidbCustomActionTypeContinue,
# its exit code ignored). Each runs the system's own schtasks.exe: in the
# release, from SystemFolder, the 32-bit system folder (SysWOW64 on 64-bit
# Windows); in the 64-bit stand-in, from System64Folder, since a 64-bit-only
# Wine prefix has no 32-bit programs. That is the one change in its rows.
SYSTEM_FOLDER = {"win32": "SystemFolder", "win64": "System64Folder"}[cached("PLENVOR_PLATFORM")]
SCHTASKS = f'"[{SYSTEM_FOLDER}]schtasks.exe" '
CREATE = SCHTASKS + '/create /tn "Plenvor logon refresh" /xml "[INSTALLDIR]plenvor-logon-task-{}.xml" /f'
DELETE = SCHTASKS + '/delete /tn "Plenvor logon refresh" /f'
INSTALLING = 'NOT REMOVE~="ALL" AND LOGONTASK<>"0"'
TASK_ACTIONS = {  # action: (type, target, condition)
    "PlenvorCreateTaskRollback": (34 + 1024 + 2048 + 256 + 64, DELETE, INSTALLING),
    "PlenvorCreateTask64": (34 + 1024 + 2048, CREATE.format("64bit"), "VersionNT64 AND " + INSTALLING),
    "PlenvorCreateTask32": (34 + 1024 + 2048, CREATE.format("32bit"),
                            "NOT VersionNT64 AND " + INSTALLING),
    "PlenvorDeleteTask": (34 + 1024 + 2048 + 64, DELETE, 'REMOVE~="ALL"'),
}


def test_msi_registers_the_logon_task_and_removes_it():
    msi = release_file(BUILD, "msi")
    actions = {row[0]: (int(row[1]), row[2], row[3]) for row in msi_table(msi, "CustomAction")}
    assert actions == {name: (type_, "INSTALLDIR", target)
                       for name, (type_, target, _) in TASK_ACTIONS.items()}
    sequence = {row[0]: (row[1], int(row[2])) for row in msi_table(msi, "InstallExecuteSequence")}
    assert {name: sequence[name][0] for name in TASK_ACTIONS} == \
        {name: condition for name, (_, _, condition) in TASK_ACTIONS.items()}
    at = {name: number for name, (_, number) in sequence.items()}
    # Registered once the files are in place, each registration after its
    # rollback (which a failed install then runs); removed before the files go.
    assert at["InstallFiles"] < at["PlenvorCreateTaskRollback"] < at["PlenvorCreateTask64"] < \
        at["InstallFinalize"]
    assert at["PlenvorCreateTaskRollback"] < at["PlenvorCreateTask32"] < at["InstallFinalize"]
    assert at["InstallInitialize"] < at["PlenvorDeleteTask"] < at["RemoveFiles"]
    # A major upgrade removes the release before it whole, first, so that its
    # removal of the task comes before this one's registration.
    assert at["InstallValidate"] < at["RemoveExistingProducts"] < at["InstallInitialize"]
    # LOGONTASK=0 skips the task; a public property that the installer's
    # system side gets in a managed install only when it is listed as secure.
    assert msi_property(msi, "LOGONTASK") == "1"
    assert "LOGONTASK" in msi_property(msi, "SecureCustomProperties").split(";")


def test_newer_release_numbers_follow_project_version(newer_build):
    # Explorer, inventory tools and Windows Installer's file versioning read the
    # numbers, not the text: with only project() raised, both numeric versions
    # of the program and the File table's Version must say the new version.
    newer_dir, newer = newer_build.result()
    files = {row[0]: row[4] for row in msi_table(release_file(newer_dir, "msi"), "File")}
    for name in PROGRAMS:
        fields = version_resource(os.path.join(newer_dir, name))
        assert (fields["Fixed"], fields["FixedProduct"], fields["FileVersion"], files[name]) == \
            (four_fields(newer), four_fields(newer), newer, four_fields(newer)), name
    assert msi_property(release_file(newer_dir, "msi"), "ProductVersion") == newer


def msiexec(wine, *args, log="msiexec"):
    """Runs Wine's msiexec silently, with a verbose log in the prefix's folder:
    (its exit status, of which Wine passes on the low byte; seconds; the log)."""
    log_file = wine.path(log + ".log")
    start = time.monotonic()
    done = subprocess.run([WINE, "msiexec", *args, "/qn", "/l*v", windows_path(log_file)],
                          env=wine.env, timeout=300, capture_output=True)
    with open(log_file, "rb") as f:
        text = f.read().decode("latin-1")
    return done.returncode, time.monotonic() - start, text


def msiexec_ok(wine, *args, log="msiexec"):
    """msiexec that must succeed: the seconds it took."""
    status, seconds, text = msiexec(wine, *args, log=log)
    assert status == 0, f"msiexec {args}: status {status}, log {wine.path(log + '.log')}"
    return seconds


def uninstall_entry(wine, msi):
    """The package's Add/Remove Programs entry: (name, version, publisher),
    or None when there is none."""
    key = rf"Software\Microsoft\Windows\CurrentVersion\Uninstall\{msi_property(msi, 'ProductCode')}"
    fields = wine.reg(*[("get", "HKLM", key, name)
                        for name in ("DisplayName", "DisplayVersion", "Publisher")])
    if fields[0] == "missing":
        return None
    return tuple(bytes.fromhex(f.split(" ", 1)[1]).rstrip(b"\0").decode() for f in fields)


def installed_folder(wine):
    """Where the package put its files: the 32-bit Program Files folder."""
    drive = os.path.join(wine.env["WINEPREFIX"], "drive_c")
    folders = [os.path.join(drive, d, "Plenvor") for d in ("Program Files (x86)", "Program Files")]
    return [f for f in folders if os.path.exists(f)]


def registered_tasks(wine):
    """The Plenvor tasks that Wine's Task Scheduler keeps: one file each under
    C:\\windows\\system32\\tasks, named for the task."""
    folder = os.path.join(wine.env["WINEPREFIX"], "drive_c", "windows", "system32", "tasks")
    return sorted(n for n in os.listdir(folder) if n.startswith("Plenvor")) \
        if os.path.isdir(folder) else []


def test_msi_installs_runs_upgrades_and_uninstalls_silently(wine, newer_build):
    msi = release_file(BUILD, "msi")
    version = build_version()
    assert installed_folder(wine) == [] and uninstall_entry(wine, msi) is None
    # LOGONTASK=0: the files, and no task.
    msiexec_ok(wine, "/i", windows_path(msi), "LOGONTASK=0")
    without_task = (len(installed_folder(wine)), registered_tasks(wine))
    msiexec_ok(wine, "/x", windows_path(msi))
    assert without_task == (1, []) and installed_folder(wine) == []

    installing = msiexec_ok(wine, "/i", windows_path(msi))
    folders = installed_folder(wine)
    assert len(folders) == 1 and sorted(os.listdir(folders[0])) == INSTALLED_FILES
    assert registered_tasks(wine) == ["Plenvor logon refresh"]
    installed = os.path.join(folders[0], "plenvor.exe")
    for name in [*PROGRAMS, *TASKS]:  # the archive's files, byte for byte
        assert read(os.path.join(folders[0], name)) == read(os.path.join(BUILD, name)), name
    ran = wine.run_plenvor(exe=installed)
    assert (ran.status, ran.stdout) == (0, BANNER)
    assert uninstall_entry(wine, msi) == ("Plenvor", version, PUBLISHER)

    newer_dir, newer = newer_build.result()
    newer_msi = release_file(newer_dir, "msi")
    assert (msi_property(newer_msi, "UpgradeCode"), package_code(newer_msi) != package_code(msi),
            msi_property(newer_msi, "ProductCode") != msi_property(msi, "ProductCode")) == \
        (msi_property(msi, "UpgradeCode"), True, True)
    upgrading = msiexec_ok(wine, "/i", windows_path(newer_msi))
    upgraded = wine.run_plenvor(exe=installed)
    left_by_upgrade = (installed_folder(wine), sorted(os.listdir(folders[0])),
                       uninstall_entry(wine, msi), uninstall_entry(wine, newer_msi),
                       read(installed) == read(os.path.join(newer_dir, "plenvor.exe")),
                       version_resource(installed)["FileVersion"], registered_tasks(wine))
    removing = msiexec_ok(wine, "/x", windows_path(newer_msi))
    removed = (installed_folder(wine), uninstall_entry(wine, newer_msi), registered_tasks(wine))
    print(f"install {installing:.1f} s, upgrade {upgrading:.1f} s, uninstall {removing:.1f} s; "
          f"after the upgrade: {left_by_upgrade}")
    # One entry, the newer one, the newer program in the same place, one task.
    assert left_by_upgrade == (folders, INSTALLED_FILES, None, ("Plenvor", newer, PUBLISHER),
                               True, newer, ["Plenvor logon refresh"])
    assert (upgraded.status, upgraded.stdout) == (0, banner(newer))
    assert removed == ([], None, [])




def actions_run(log):
    """The package's own actions that ran, in order, from msiexec's log."""
    return re.findall(r"^Action start [0-9:]+: (Plenvor\w+)\.$", log, re.M)


# The Task Scheduler's service, and its start type: 4 is SERVICE_DISABLED.
SCHEDULE = r"System\CurrentControlSet\Services\Schedule"
REG_DWORD, SERVICE_DISABLED = 4, 4


@contextmanager
def task_scheduler_unreachable(wine):
    """The Task Scheduler's service disabled and not running, so that schtasks
    cannot connect to it, as on a machine where it is stopped or broken."""
    start = wine.get_raw("HKLM", SCHEDULE, "Start")
    assert start is not None, "Wine's prefix has no Schedule service"
    wine.apply([("set", "HKLM", SCHEDULE, "Start", REG_DWORD,
                 SERVICE_DISABLED.to_bytes(4, "little").hex())])
    wine.restart_server()
    try:
        yield
    finally:
        wine.apply([("set", "HKLM", SCHEDULE, "Start", start[0], start[1].hex())])
        wine.restart_server()


def test_an_install_whose_task_cannot_be_registered_fails_and_leaves_nothing(wine):
    # The registration is not allowed to fail quietly (its custom action
    # checks schtasks' exit code): a fleet would get the files and no logon
    # run, with a success reported. Windows Installer then rolls the install
    # back, the files and the Add/Remove Programs entry with it.
    msi = release_file(BUILD, "msi")
    with task_scheduler_unreachable(wine):
        status, _, log = msiexec(wine, "/i", windows_path(msi), log="unreachable")
        left = (installed_folder(wine), uninstall_entry(wine, msi), registered_tasks(wine))
        # Without the task the package needs no Task Scheduler.
        without_task = msiexec(wine, "/i", windows_path(msi), "LOGONTASK=0")[0]
        msiexec_ok(wine, "/x", windows_path(msi))
    # Windows' msiexec ends with 1603 (ERROR_INSTALL_FAILURE), Wine's with
    # 1627 (ERROR_FUNCTION_FAILED), of which Wine passes the low byte: either
    # way not 0 (success) nor 3010 (success, restart needed).
    assert status & 0xFF not in (0, 3010 & 0xFF), f"status {status}"
    assert left == ([], None, []), left
    create = "PlenvorCreateTask" + ("64" if "VersionNT64 = " in log else "32")
    assert actions_run(log)[:2] == ["PlenvorCreateTaskRollback", create], actions_run(log)
    assert without_task == 0


@pytest.mark.pe32_only
def test_the_release_package_runs_its_systems_schtasks_and_definition(wine):
    # What only the release's own package under a 32-bit msiexec shows; the
    # 64-bit stand-in's rows name System64Folder instead, and its msiexec
    # always sets VersionNT64:
    # - its actions run schtasks.exe from SystemFolder, the 32-bit system
    #   folder (system32 on 32-bit Windows, SysWOW64 on 64-bit Windows);
    # - VersionNT64 chooses the definition whose command names the 32-bit
    #   Program Files folder of that kind of Windows, where the files went.
    msi = release_file(BUILD, "msi")
    seconds = msiexec_ok(wine, "/i", windows_path(msi), log="kind")
    with open(wine.path("kind.log"), "rb") as f:
        log = f.read().decode("latin-1")
    properties = dict(re.findall(r"^Property\(S\): (\w+) = (.*)$", log, re.M))
    is64 = "VersionNT64" in properties
    folders = installed_folder(wine)
    tasks = registered_tasks(wine)
    msiexec_ok(wine, "/x", windows_path(msi))
    print(f"installed in {seconds:.1f} s; SystemFolder {properties['SystemFolder']}, "
          f"VersionNT64 {properties.get('VersionNT64')}")
    schtasks = wine.unix_path(properties["SystemFolder"] + "schtasks.exe")
    assert os.path.isfile(schtasks), schtasks
    assert actions_run(log) == ["PlenvorCreateTaskRollback",
                                "PlenvorCreateTask64" if is64 else "PlenvorCreateTask32"]
    assert tasks == ["Plenvor logon refresh"]
    # %ProgramFiles(x86)% exists only on 64-bit Windows; the files are in the
    # folder the chosen definition names.
    assert folders == [wine.unix_path(("C:\\Program Files (x86)" if is64 else
                                       "C:\\Program Files") + "\\Plenvor")]
