"""The Windows Installer package: what its tables hold, and what Wine's own
msiexec does with it, the logon task registered and removed through Wine's
own schtasks and Task Scheduler.

Under wine32 this is the release's package. Where the kernel runs no i386
programs, the same tests run under wine64 on the 64-bit stand-in's package:
the same definition, custom actions, conditions, task definitions and
UpgradeCode, made as an x64 package whose actions run the 64-bit schtasks.exe.
What only the 32-bit run proves is marked pe32_only."""

import concurrent.futures
import io
import os
import re
import subprocess
import tarfile
import time
from contextlib import contextmanager

import pytest

from conftest import wine_cannot_start
from release import (PROGRAMS, PUBLISHER, TASKS, cached, configure, copy_with_version,
                     four_fields, msi_condition, msi_property, msi_table, package_code, read,
                     release_file, run, version_resource, write)
from testdata import banner
from winetools import BANNER, BUILD, ROOT, WINE, build_version, windows_path

INSTALLED_FILES = sorted(["LICENSE", "README.txt", *TASKS, *PROGRAMS])

# The release before this one, 1.0 as it landed: its package registers the
# task as "Plenvor logon refresh" in the Task Scheduler's root folder, and
# removes that on removal, with no rollback.
PREVIOUS_RELEASE = "ab40145ecaade4da4ca1ba394577e8e7c8067c18"

# Where the package's task lives, and what it must leave alone: a task of the
# same name in the root folder, and one with the previous release's name,
# each made by someone else (an administrator, a Group Policy Preference).
OWN_TASK = "\\Plenvor\\Logon refresh"
OTHERS_TASKS = ["\\Logon refresh", "\\Plenvor logon refresh"]


def history_missing():
    """Why the previous release cannot be built from this clone, or None:
    it is built from its commit, which a shallow clone or a source archive
    lacks. scripts/test's summary allows a skip for this reason (its start)."""
    found = subprocess.run(["git", "-C", ROOT, "cat-file", "-e", PREVIOUS_RELEASE + "^{commit}"],
                           capture_output=True)
    if found.returncode == 0:
        return None
    return (f"this clone lacks the git history of the previous release, {PREVIOUS_RELEASE[:7]}"
            " (a shallow clone or a source archive): its upgrade to this one is not tested")


@pytest.fixture(scope="module", autouse=True)
def other_builds(request, tmp_path_factory):
    """The builds the package's tests upgrade from and to, made in the
    background, one after the other, while the module's first tests run
    (building takes a while, and Wine's msiexec was seen to take 14 s more
    after that long without a call): {"newer": ..., "previous": ...}, each
    a future of (its folder, its version)."""
    # Not for tests that will be skipped, as every Wine test is where wine32
    # cannot start.
    wine_runs = not wine_cannot_start()
    runnable = [item for item in request.session.items
                if wine_runs or "wine" not in getattr(item, "fixturenames", ())]
    needed = {name for item in runnable for name in ("newer", "previous")
              if name + "_build" in getattr(item, "fixturenames", ())}
    if history_missing():
        needed.discard("previous")
    if not needed:
        yield {}
        return
    work = str(tmp_path_factory.mktemp("builds"))
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        yield {name: pool.submit(builder, os.path.join(work, name))
               for name, builder in (("newer", build_newer), ("previous", build_previous))
               if name in needed}


@pytest.fixture
def newer_build(other_builds):
    return other_builds["newer"].result()


@pytest.fixture
def previous_build(other_builds):
    reason = history_missing()
    if reason:
        pytest.skip(reason)
    return other_builds["previous"].result()


@pytest.fixture(autouse=True)
def nothing_left_installed(request, other_builds):
    """Removes what a test that failed midway left installed, so that the
    tests after it in the shared prefix do not fail for that alone."""
    if "wine" not in request.fixturenames:
        yield
        return
    wine = request.getfixturevalue("wine")
    yield
    builds = [(BUILD, release_file(BUILD, "msi"))]
    for name, future in other_builds.items():
        if future.done() and not future.exception():
            folder = future.result()[0]
            builds.append((folder, previous_msi(folder) if name == "previous" else
                           release_file(folder, "msi")))
    for _, msi in builds:
        if uninstall_entry(wine, msi):
            msiexec(wine, "/x", msi_property(msi, "ProductCode"), log="left-installed")


def build_newer(work):
    """A build of this source with only the version in project() raised (in
    its third field): its folder and its version."""
    parts = (build_version().split(".") + ["0", "0"])[:3]
    newer = ".".join(parts[:2] + [str(int(parts[2]) + 1)])
    source, build = copy_with_version(work, newer), os.path.join(work, "build")
    configure(source, build)
    run("cmake", "--build", build, "--target", "release_files", "-j2")
    return build, newer


def build_previous(work):
    """The previous release built from its commit, with this build's
    toolchain: its folder and its version. For the 64-bit stand-in, its
    package gets the same three changes this one's does (the platform, the
    architecture wixl is given, System64Folder), and nothing else."""
    source, build = os.path.join(work, "source"), os.path.join(work, "build")
    archive = run("git", "-C", ROOT, "archive", "--format=tar", PREVIOUS_RELEASE).stdout
    tarfile.open(fileobj=io.BytesIO(archive)).extractall(source)
    if cached("PLENVOR_PLATFORM") == "win64":
        script = os.path.join(source, "cmake", "msi.cmake")
        text = read(script).decode()
        for old, new in (("--arch x86", "--arch x64"), ("[SystemFolder]", "[System64Folder]"),
                         ('"Intel;1033"', '"x64;1033"')):
            assert text.count(old) == 1, old
            text = text.replace(old, new)
        write(script, text)
    configure(source, build)
    run("cmake", "--build", build, "--target", "release_files", "-j2")
    return build, build_version(build)


def previous_msi(build):
    """The previous release's package, which it named for 32-bit Windows."""
    return os.path.join(build, f"plenvor-{build_version(build)}-win32.msi")


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


def test_the_package_code_follows_everything_that_makes_the_package(tmp_path):
    # Microsoft's "Package Codes": two .msi files that are not identical
    # should never share a package code, since Windows Installer takes them
    # for one package. Made here from the same files: the release's package,
    # one for the other architecture, and one whose msi.cmake sets another
    # row.
    msi = release_file(BUILD, "msi")
    script = read(os.path.join(ROOT, "cmake", "msi.cmake")).decode()
    changed = script.replace("|REINSTALLMODE|omus|", "|REINSTALLMODE|amus|")
    assert changed != script
    files = [os.path.join(BUILD, name) for name in [*PROGRAMS, "README.txt", *TASKS]]
    codes = {}
    for name, arch, text in (("release", "x86", script), ("x64", "x64", script),
                             ("changed script", "x86", changed)):
        out = os.path.join(str(tmp_path), name.replace(" ", "-") + ".msi")
        version = build_version()
        run("cmake", "-DVERSION=" + version, "-DFILE_VERSION=" + four_fields(version),
            "-DPRODUCT_CODE=" + msi_property(msi, "ProductCode"), "-DEPOCH=",
            "-DWXS=" + os.path.join(ROOT, "packaging", "plenvor.wxs"),
            "-DFILES=" + "|".join(files + [os.path.join(ROOT, "LICENSE")]),
            "-DPROGRAMS=" + "|".join(PROGRAMS), "-DOUT=" + out, "-DPUBLISHER=" + PUBLISHER,
            "-DDESCRIPTION=" + cached("CMAKE_PROJECT_DESCRIPTION"), "-DARCH=" + arch,
            *[f"-D{tool}={cached(tool)}" for tool in ("WIXL", "MSIBUILD", "FAKETIME")],
            "-P", write(os.path.join(str(tmp_path), name.replace(" ", "-") + ".cmake"), text))
        codes[name] = package_code(out)
    assert len(set(codes.values())) == len(codes), codes


# The logon task's custom actions. Types, from Microsoft's "Custom Action
# Types" and "Custom Action In-Script Execution Options": 34, an executable
# whose Source is its working folder (the system folder, which the package
# names as a directory, there whatever state the install folder is in);
# + 1024 (msidbCustomActionTypeInScript, deferred) + 2048
# (msidbCustomActionTypeNoImpersonate, as the system); + 256
# (msidbCustomActionTypeRollback); + 64 (msidbCustomActionTypeContinue, its
# exit code ignored). 51 sets the property named in Source to Target,
# formatted. Each task action runs the system's own schtasks.exe: in the
# release, from SystemFolder, the 32-bit system folder (SysWOW64 on 64-bit
# Windows); in the 64-bit stand-in, from System64Folder, since a 64-bit-only
# Wine prefix has no 32-bit programs. That is the one change in its rows.
SYSTEM_FOLDER = {"win32": "SystemFolder", "win64": "System64Folder"}[cached("PLENVOR_PLATFORM")]
SCHTASKS = f'"[{SYSTEM_FOLDER}]schtasks.exe" '
CREATE = SCHTASKS + r'/create /tn "\Plenvor\Logon refresh" /xml "[INSTALLDIR]plenvor-logon-task-{}.xml" /f'
DELETE = SCHTASKS + r'/delete /tn "\Plenvor\Logon refresh" /f'
NOT_INSTALLED = ("Plenvor is not installed on this machine, so REINSTALL has nothing to "
                 "reinstall, and nothing was changed. Install it with msiexec /i and no REINSTALL.")
NO_TASK_SCHEDULER = (r"The Task Scheduler service (Schedule) is disabled, so the logon task "
                     r"\Plenvor\Logon refresh cannot be registered, and nothing was changed. "
                     "Enable the service, or install with LOGONTASK=0.")
TASK_LEFT = (r"The Task Scheduler service (Schedule) is disabled, so the logon task "
             r"\Plenvor\Logon refresh stays registered. Once the service runs, delete it: "
             r'schtasks /delete /tn "\Plenvor\Logon refresh" /f')
UNDO = 34 + 1024 + 2048 + 256 + 64
TASK_ACTIONS = {  # action: (type, source, target); what their conditions do is played below
    **{action + kind: row for kind in ("64", "32") for action, row in (
        ("PlenvorCreateTaskRollback", (UNDO, SYSTEM_FOLDER, DELETE)),
        ("PlenvorCreateTask", (34 + 1024 + 2048, SYSTEM_FOLDER, CREATE.format(kind + "bit"))),
        ("PlenvorDeleteTaskRollback", (UNDO, SYSTEM_FOLDER, CREATE.format(kind + "bit"))),
        ("PlenvorDeleteTask", (34 + 1024 + 2048 + 64, SYSTEM_FOLDER, DELETE)))},
    # LOGONTASK when the command line gives none: what the install before
    # kept, else 1; a run on the installed product that changes it reinstalls,
    # so that its component rewrites the kept value (REINSTALLMODE's m).
    "PlenvorKeptLogonTask": (51, "LOGONTASK", "[LOGONTASK_KEPT]"),
    "PlenvorDefaultLogonTask": (51, "LOGONTASK", "1"),
    "PlenvorKeepNewChoice": (51, "REINSTALL", "ALL"),
    "PlenvorReinstallMode": (51, "REINSTALLMODE", "omus"),
    # The folder of the release installed before, unless one is given.
    "PlenvorKeptInstallDir": (51, "INSTALLDIR", "[INSTALLDIR_KEPT]"),
    # What a run cannot do, said before it changes anything: 19 ends it with
    # that error (1603); 51 notes the task a removal has to leave.
    "PlenvorNotInstalled": (19, "", NOT_INSTALLED),
    "PlenvorNoTaskScheduler": (19, "", NO_TASK_SCHEDULER),
    "PlenvorTaskLeft": (51, "PLENVOR_TASK_LEFT", TASK_LEFT),
}
CHOICE = ["PlenvorKeptLogonTask", "PlenvorDefaultLogonTask", "PlenvorKeepNewChoice",
          "PlenvorReinstallMode", "PlenvorKeptInstallDir"]


def sequence_of(msi, table):
    return {row[0]: (row[1], int(row[2])) for row in msi_table(msi, table)}


def test_msi_registers_the_logon_task_and_removes_it():
    msi = release_file(BUILD, "msi")
    actions = {row[0]: (int(row[1]), row[2], row[3]) for row in msi_table(msi, "CustomAction")}
    assert actions == TASK_ACTIONS
    sequence = sequence_of(msi, "InstallExecuteSequence")
    at = {name: number for name, (_, number) in sequence.items()}
    # Registered once the files are in place, each registration after its
    # rollback (which a failed install then runs); removed before the files
    # go, after its rollback, which a failed removal runs once the rollback
    # of RemoveFiles has put the definitions back.
    for kind in ("64", "32"):
        assert at["InstallFiles"] < at["PlenvorCreateTaskRollback" + kind] < \
            at["PlenvorCreateTask" + kind] < at["InstallFinalize"]
        assert at["InstallInitialize"] < at["PlenvorDeleteTaskRollback" + kind] < \
            at["PlenvorDeleteTask" + kind] < at["RemoveFiles"]
    # What a run cannot do is said once the components' states are known,
    # before anything is changed.
    for name in ("PlenvorNotInstalled", "PlenvorNoTaskScheduler", "PlenvorTaskLeft"):
        assert at["CostFinalize"] < at[name] < at["InstallInitialize"], name
    # A major upgrade removes the release before it first, so that its
    # removal of the task comes before this one's registration, and inside
    # this install's transaction (after InstallInitialize, before the first
    # action that writes the script): the RemoveExistingProducts page's
    # second place, where a failed upgrade leaves the release before
    # installed; before InstallInitialize, it would leave neither.
    assert at["InstallInitialize"] < at["RemoveExistingProducts"] < at["ProcessComponents"]
    # The choice is read back, and the reinstall asked for, before anything
    # uses them (REINSTALL is read by CostFinalize), alike in both sequences.
    ui = sequence_of(msi, "InstallUISequence")
    assert [ui[name] for name in CHOICE] == [sequence[name] for name in CHOICE]
    assert sorted(CHOICE + ["AppSearch", "CostInitialize"], key=lambda name: at[name]) == \
        ["AppSearch", *CHOICE, "CostInitialize"]
    # Kept as HKLM\Software\Plenvor's LogonTask (root 2, HKLM), read back raw
    # (RegLocator type 2, msidbLocatorTypeRawValue), as is the Task
    # Scheduler service's start type; the folder is that of the installed
    # plenvor.exe, by its component's GUID (CompLocator type 1: a file).
    assert sorted(msi_table(msi, "AppSearch")) == [
        ["INSTALLDIR_KEPT", "InstalledProgram"], ["LOGONTASK_KEPT", "KeptLogonTask"],
        ["SCHEDULE_START", "TaskSchedulerStart"]]
    assert sorted(msi_table(msi, "RegLocator")) == [
        ["KeptLogonTask", "2", r"Software\Plenvor", "LogonTask", "2"],
        ["TaskSchedulerStart", "2", r"SYSTEM\CurrentControlSet\Services\Schedule", "Start", "2"]]
    assert msi_table(msi, "CompLocator") == [
        ["InstalledProgram", "{F4D137BB-40E0-442C-B6D6-FF868D4DDCE2}", "1"]]
    assert "InstalledProgram" not in {row[0] for row in msi_table(msi, "Signature")}
    assert [row[1:5] for row in msi_table(msi, "Registry")] == \
        [["2", r"Software\Plenvor", "LogonTask", "[LOGONTASK]"]]
    # The working folder, resolved from the property of its name.
    assert [SYSTEM_FOLDER, "TARGETDIR", "."] in msi_table(msi, "Directory")
    # LOGONTASK=0 skips the task; a public property that the installer's
    # system side gets in a managed install only when it is listed as secure.
    # No default in the Property table: it would hide the kept choice.
    assert "LOGONTASK" not in dict(msi_table(msi, "Property"))
    # The secure properties a managed install, or a run with a user
    # interface, passes to the installer's system side
    # ("SecureCustomProperties"): LOGONTASK and INSTALLDIR, what AppSearch
    # found, and the two that MajorUpgrade's FindRelatedProducts sets,
    # without which the release before is not removed and a downgrade is not
    # refused.
    assert sorted(msi_property(msi, "SecureCustomProperties").split(";")) == \
        ["INSTALLDIR", "INSTALLDIR_KEPT", "LOGONTASK", "LOGONTASK_KEPT", "SCHEDULE_START",
         "WIX_DOWNGRADE_DETECTED", "WIX_UPGRADE_DETECTED"]


def test_newer_release_numbers_follow_project_version(newer_build):
    # Explorer, inventory tools and Windows Installer's file versioning read the
    # numbers, not the text: with only project() raised, both numeric versions
    # of the program and the File table's Version must say the new version.
    newer_dir, newer = newer_build
    files = {row[0]: row[4] for row in msi_table(release_file(newer_dir, "msi"), "File")}
    for name in PROGRAMS:
        fields = version_resource(os.path.join(newer_dir, name))
        assert (fields["Fixed"], fields["FixedProduct"], fields["FileVersion"], files[name]) == \
            (four_fields(newer), four_fields(newer), newer, four_fields(newer)), name
    assert msi_property(release_file(newer_dir, "msi"), "ProductVersion") == newer


# A repair as MsiReinstallProduct makes it (REINSTALL=ALL with the modes of
# "msiexec /f", "pecms" when none are given): Wine's msiexec does not carry
# out /f itself (status 1605 for a package's path; a ProductCode is "not
# implemented"). A reinstall as fleets force one: REINSTALL=ALL
# REINSTALLMODE=vomus.
REPAIR = ["REINSTALL=ALL", "REINSTALLMODE=pecms"]
REINSTALL = ["REINSTALL=ALL", "REINSTALLMODE=vomus"]
# The kinds of Windows an x86 package meets, by what Windows Installer sets
# there: VersionNT64, which Windows on ARM leaves unset for an x86 package
# ("VersionNT64 Property"), and ProgramFilesFolder, where the files go.
WINDOWS = {"x86": ("", "C:\\Program Files\\"), "x64": ("603", "C:\\Program Files (x86)\\"),
           "ARM64": ("", "C:\\Program Files (x86)\\")}
# Of the "Restricted Public Properties", those the package's rows set on the
# user's side; they reach the system side as the secure ones do.
RESTRICTED = {"REINSTALL", "REINSTALLMODE"}


def component_states(props, installed):
    """The definitions' installed (?) and action ($) states once costed: 3
    local, 2 absent, -1 no action. A REINSTALL of a product that is not
    installed installs nothing ("REINSTALL Property")."""
    if props.get("REMOVE", "").upper() == "ALL":
        action = "2"
    elif installed:
        action = "3" if props.get("REINSTALL") else "-1"
    else:
        action = "-1" if props.get("REINSTALL") else "3"
    return {f"{sign}LogonTask{bits}": state for bits in ("64", "32")
            for sign, state in (("?", "3" if installed else "2"), ("$", action))}


def play(msi, installed, task, kept, args, rolled_back, ui=False):
    """One run of msi as Windows Installer documents it, over the package's
    own rows: (task, kept value) after it, the same on every kind of Windows.
    Each action of the execute sequence whose condition holds, in order:
    type 51 sets its property, type 19 refuses the run before it changes
    anything, a rollback action goes to the rollback script, the others
    change the task. With a user interface (ui), AppSearch and the actions
    of the UI sequence run on the user's side first, and only the secure and
    restricted properties they set reach the system side, which runs no
    AppSearch again ("AppSearch Action", "SecureCustomProperties"). A run
    that fails after its last change runs that script in reverse order
    ("Rollback Installation") and keeps the value it found; else the value is
    deleted by a removal, and written by a first install and by a reinstall
    whose REINSTALLMODE has m. Every registration must name the folder the
    files are in."""
    actions = {row[0]: (int(row[1]), row[2], row[3]) for row in msi_table(msi, "CustomAction")}
    secure = set(msi_property(msi, "SecureCustomProperties").split(";")) | RESTRICTED
    given = dict(arg.split("=", 1) for arg in args)

    def in_order(table):
        return sorted(sequence_of(msi, table).items(), key=lambda i: i[1][1])

    def set_by(name, condition, props):
        kind, source, target = actions.get(name, (None, None, None))
        if kind == 51 and msi_condition(condition, props):
            props[source] = re.sub(r"\[(\w+)\]", lambda m: props.get(m[1], ""), target)

    ends = set()
    for windows, (version_nt64, program_files) in WINDOWS.items():
        machine = dict(Installed="1" if installed else "", VersionNT64=version_nt64,
                       ProgramFilesFolder=program_files)
        props = {**machine, "LOGONTASK_KEPT": kept or "", **given}  # AppSearch's, then the command line's
        if ui:
            for name, (condition, _) in in_order("InstallUISequence"):
                set_by(name, condition, props)
            props = {**machine, **given, **{k: v for k, v in props.items() if k in secure}}
        now, rollback, refused = task, [], False
        for name, (condition, _) in in_order("InstallExecuteSequence"):
            if name == "CostFinalize":
                props.update(component_states(props, installed))
            if name not in actions or not msi_condition(condition, props):
                continue
            kind, source, target = actions[name]
            assert "/create" not in target or \
                ("64bit" in target) == ("(x86)" in program_files), (windows, name)
            if kind == 19:
                refused = True
                break
            set_by(name, condition, props)
            if kind & 256:
                rollback.insert(0, target)
            elif kind != 51:
                now = "/create" in target
        if refused:
            ends.add((task, kept))
            continue
        rewritten = not installed or bool(props.get("REINSTALL")) and \
            "m" in props.get("REINSTALLMODE", "").lower()
        for target in rollback if rolled_back else []:
            now = "/create" in target
        ends.add((now, kept if rolled_back else None if props.get("REMOVE", "").upper() == "ALL"
                  else props["LOGONTASK"] if rewritten else kept))
    assert len(ends) == 1, ends
    return ends.pop()


# Each kind of run, from what it finds (installed, the task registered, the
# value kept), with what it leaves: after it, and after it failed and was
# rolled back. The deployment guide's table of runs says the same. A repair as
# "msiexec /f" or MsiReinstallProduct makes it, a reinstall as REINSTALL=ALL
# REINSTALLMODE=vomus, a removal as "msiexec /x" (REMOVE=ALL).
RUNS = {
    "install": ((False, False, None, []), (True, "1"), (False, None)),
    "install, LOGONTASK=0": ((False, False, None, ["LOGONTASK=0"]), (False, "0"), (False, None)),
    "repair": ((True, True, "1", REPAIR), (True, "1"), (True, "1")),
    "repair, kept 0": ((True, False, "0", REPAIR), (False, "0"), (False, "0")),
    # The task deleted by hand: the package knows the task only by the kept value.
    "repair, task deleted": ((True, False, "1", REPAIR), (True, "1"), (True, "1")),
    "/i again": ((True, True, "1", []), (True, "1"), (True, "1")),
    "/i again, kept 0": ((True, False, "0", []), (False, "0"), (False, "0")),
    "/i again, LOGONTASK=0": ((True, True, "1", ["LOGONTASK=0"]), (False, "0"), (True, "1")),
    "/i again, LOGONTASK=1": ((True, False, "0", ["LOGONTASK=1"]), (True, "1"), (False, "0")),
    "reinstall, LOGONTASK=0": ((True, True, "1", [*REINSTALL, "LOGONTASK=0"]), (False, "0"),
                               (True, "1")),
    "reinstall, LOGONTASK=1": ((True, False, "0", [*REINSTALL, "LOGONTASK=1"]), (True, "1"),
                               (False, "0")),
    "removal": ((True, True, "1", ["REMOVE=ALL"]), (False, None), (True, "1")),
    "removal, kept 0": ((True, False, "0", ["REMOVE=ALL"]), (False, None), (False, "0")),
    # Refused: REINSTALL reinstalls nothing where the product is not installed.
    "reinstall, not installed": ((False, False, None, REINSTALL), (False, None), (False, None)),
    "reinstall, not installed, LOGONTASK=0": ((False, False, None, [*REINSTALL, "LOGONTASK=0"]),
                                              (False, None), (False, None)),
}


@pytest.mark.parametrize("ui", [False, True], ids=["silent", "with its user interface"])
def test_each_kind_of_run_and_its_rollback_leave_the_task_as_the_choice_says(ui):
    msi = release_file(BUILD, "msi")
    assert {run: (play(msi, *found, False, ui), play(msi, *found, True, ui))
            for run, (found, _, _) in RUNS.items()} == \
        {run: (after, rolled_back) for run, (_, after, rolled_back) in RUNS.items()}


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
    status, seconds, _ = msiexec(wine, *args, log=log)
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
    """Every task that Wine's Task Scheduler keeps, by its path in the
    library ("\\Plenvor\\Logon refresh"): one file each under
    C:\\windows\\system32\\tasks, in a folder for each of the library's."""
    root = os.path.join(wine.env["WINEPREFIX"], "drive_c", "windows", "system32", "tasks")
    return sorted("\\" + os.path.relpath(os.path.join(folder, name), root).replace("/", "\\")
                  for folder, _, names in os.walk(root) for name in names)


def schtasks(wine, *args):
    """Wine's schtasks, as an administrator runs it: its exit status."""
    return subprocess.run([WINE, "schtasks", *args], env=wine.env, capture_output=True,
                          timeout=120).returncode


@contextmanager
def others_tasks(wine, names=OTHERS_TASKS):
    """Tasks registered before and deleted after, as someone else's, from
    this build's definition."""
    definition = windows_path(os.path.join(BUILD, TASKS[0]))
    for name in names:
        assert schtasks(wine, "/create", "/tn", name, "/xml", definition, "/f") == 0, name
    try:
        yield
    finally:
        for name in names:
            schtasks(wine, "/delete", "/tn", name, "/f")


def test_msi_installs_runs_upgrades_and_uninstalls_silently(wine, newer_build):
    msi = release_file(BUILD, "msi")
    version = build_version()
    assert installed_folder(wine) == [] and uninstall_entry(wine, msi) is None
    with others_tasks(wine):
        # LOGONTASK=0: the files, and no task.
        msiexec_ok(wine, "/i", windows_path(msi), "LOGONTASK=0")
        without_task = (len(installed_folder(wine)), registered_tasks(wine))
        msiexec_ok(wine, "/x", windows_path(msi))
        assert without_task == (1, OTHERS_TASKS) and installed_folder(wine) == []

        installing = msiexec_ok(wine, "/i", windows_path(msi))
        folders = installed_folder(wine)
        assert len(folders) == 1 and sorted(os.listdir(folders[0])) == INSTALLED_FILES
        assert registered_tasks(wine) == sorted(OTHERS_TASKS + [OWN_TASK])
        installed = os.path.join(folders[0], "plenvor.exe")
        for name in [*PROGRAMS, *TASKS]:  # the archive's files, byte for byte
            assert read(os.path.join(folders[0], name)) == read(os.path.join(BUILD, name)), name
        ran = wine.run_plenvor(exe=installed)
        assert (ran.status, ran.stdout) == (0, BANNER)
        assert uninstall_entry(wine, msi) == ("Plenvor", version, PUBLISHER)

        newer_dir, newer = newer_build
        newer_msi = release_file(newer_dir, "msi")
        assert (msi_property(newer_msi, "UpgradeCode"),
                package_code(newer_msi) != package_code(msi),
                msi_property(newer_msi, "ProductCode") != msi_property(msi, "ProductCode")) == \
            (msi_property(msi, "UpgradeCode"), True, True)
        upgrading = msiexec_ok(wine, "/i", windows_path(newer_msi))
        upgraded = wine.run_plenvor(exe=installed)
        left_by_upgrade = (installed_folder(wine), sorted(os.listdir(folders[0])),
                           uninstall_entry(wine, msi), uninstall_entry(wine, newer_msi),
                           read(installed) == read(os.path.join(newer_dir, "plenvor.exe")),
                           version_resource(installed)["FileVersion"], registered_tasks(wine))
        removing = msiexec_ok(wine, "/x", windows_path(newer_msi))
        removed = (installed_folder(wine), uninstall_entry(wine, newer_msi),
                   registered_tasks(wine))
    print(f"install {installing:.1f} s, upgrade {upgrading:.1f} s, uninstall {removing:.1f} s; "
          f"after the upgrade: {left_by_upgrade}")
    # One entry, the newer one, the newer program in the same place, one task
    # of the package's own; the others' tasks untouched throughout.
    assert left_by_upgrade == (folders, INSTALLED_FILES, None, ("Plenvor", newer, PUBLISHER),
                               True, newer, sorted(OTHERS_TASKS + [OWN_TASK]))
    assert (upgraded.status, upgraded.stdout) == (0, banner(newer))
    assert removed == ([], None, OTHERS_TASKS)


@pytest.mark.parametrize("first,upgrade,task_after", [
    ("LOGONTASK=0", None, False),            # the choice kept
    ("LOGONTASK=0", "LOGONTASK=1", True),    # the upgrade's own command line wins
    (None, "LOGONTASK=0", False),
    (None, None, True),
], ids=["kept-without", "explicit-with", "explicit-without", "kept-with"])
def test_an_upgrade_keeps_the_logon_task_choice_unless_told(wine, newer_build, first, upgrade,
                                                            task_after):
    msi, newer_msi = release_file(BUILD, "msi"), release_file(newer_build[0], "msi")
    msiexec_ok(wine, "/i", windows_path(msi), *filter(None, [first]))
    msiexec_ok(wine, "/i", windows_path(newer_msi), *filter(None, [upgrade]))
    after = registered_tasks(wine)
    msiexec_ok(wine, "/x", windows_path(newer_msi))
    assert (after, registered_tasks(wine)) == ([OWN_TASK] if task_after else [], [])


# Where the planted failures stand: on install, once the task is registered
# (after PlenvorCreateTask64 and 32); on removal, once the task is deleted and
# before the files go (after PlenvorDeleteTask64 and 32, before RemoveFiles).
PLANTED = {"PlantedInstallFailure": ('NOT REMOVE~="ALL" AND PLANTED_FAILURE', 4010),
           "PlantedRemovalFailure": ('REMOVE~="ALL" AND PLANTED_FAILURE', 3495)}


def planted(msi, folder):
    """A copy of msi, in folder, with the deferred actions of PLANTED, which
    fail (cmd.exe /c exit 1, from the folder the package's schtasks.exe is
    in) when PLANTED_FAILURE is given: a test build that forces a rollback
    there."""
    copy = write(os.path.join(folder, "planted-" + os.path.basename(msi)), read(msi))
    queries = []
    for action, (condition, sequence) in PLANTED.items():
        queries += [
            "-q", "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
                  f"('{action}', {34 + 1024 + 2048}, '{SYSTEM_FOLDER}', "
                  f"'\"[{SYSTEM_FOLDER}]cmd.exe\" /c exit 1')",
            "-q", "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) "
                  f"VALUES ('{action}', '{condition}', {sequence})"]
    run("msibuild", copy, *queries)
    at = {name: number for name, (_, number) in sequence_of(copy, "InstallExecuteSequence").items()}
    assert at["PlenvorCreateTask32"] < at["PlantedInstallFailure"] < at["InstallFinalize"]
    assert at["PlenvorDeleteTask32"] < at["PlantedRemovalFailure"] < at["RemoveFiles"]
    return copy


def installed_version(wine):
    return version_resource(os.path.join(installed_folder(wine)[0], "plenvor.exe"))["FileVersion"]


def test_the_task_is_back_after_every_rollback(wine, previous_build, tmp_path):
    # Windows Installer runs a rollback script in the reverse order of the
    # script it undoes ("Rollback Installation"), and each change to the task
    # has its rollback just before it: a failed install deletes the task it
    # registered, and a failed removal registers it again from the definition
    # that the rollback of RemoveFiles has put back (here the files are still
    # there: Wine 8's rollback of RemoveFiles fails, "failed to create"
    # the folder, measured). A failed upgrade rolls back its removal of the
    # release before the same way, on Windows; Wine 8 commits that removal at
    # once (measured), so the failed removal stands for it here.
    this_msi = release_file(BUILD, "msi")
    previous_dir, previous = previous_build
    test_build = planted(this_msi, str(tmp_path))
    # The previous release overwrites and removes a root task of its task's
    # name; a root task of this one's name must survive everything.
    others = ["\\Logon refresh"]
    states = {}

    def state(name, *status):
        folders = installed_folder(wine)
        states[name] = (*[s & 0xFF != 0 for s in status], registered_tasks(wine),
                        installed_version(wine) if folders else None)

    with others_tasks(wine, others):
        # The previous release, with its task in the root folder; then this
        # one over it, then removed.
        msiexec_ok(wine, "/i", windows_path(previous_msi(previous_dir)), log="previous")
        state("previous")
        msiexec_ok(wine, "/i", windows_path(this_msi), log="upgrade")
        state("upgraded")
        msiexec_ok(wine, "/x", windows_path(this_msi), log="removal")
        state("removed")
        # An install that fails once its task is registered.
        status = msiexec(wine, "/i", windows_path(test_build), "PLANTED_FAILURE=1",
                         log="failed-install")[0]
        state("failed install", status)
        # A removal that fails once the task is deleted, with the task, and
        # with none.
        for logon_task in ("1", "0"):
            msiexec_ok(wine, "/i", windows_path(test_build), "LOGONTASK=" + logon_task,
                       log="planted-" + logon_task)
            status = msiexec(wine, "/x", windows_path(test_build), "PLANTED_FAILURE=1",
                             log="failed-removal-" + logon_task)[0]
            state("failed removal, LOGONTASK=" + logon_task, status)
            msiexec_ok(wine, "/x", windows_path(test_build), log="planted-removal-" + logon_task)
        state("all removed")
    version = build_version()
    print(states)
    with_own = sorted(others + [OWN_TASK])
    assert states == {
        "previous": (sorted(others + ["\\Plenvor logon refresh"]), previous),
        # The previous release's removal takes its own task; one is left, the
        # package's own, in its folder.
        "upgraded": (with_own, version),
        "removed": (others, None),
        "failed install": (True, others, None),
        "failed removal, LOGONTASK=1": (True, with_own, version),
        "failed removal, LOGONTASK=0": (True, others, version),
        "all removed": (others, None),
    }


# The LOGONTASK kept, in the 32-bit registry view, as the deployment guide names it: the
# 64-bit stand-in's helper sees that view under WOW6432Node.
KEPT = ("HKLM", {"win32": r"Software\Plenvor", "win64": r"Software\WOW6432Node\Plenvor"}[
    cached("PLENVOR_PLATFORM")], "LogonTask")


def kept_choice(wine):
    found = wine.get_raw(*KEPT)
    return found and found[1].rstrip(b"\0").decode()


def delete_task_by_hand(wine):
    schtasks(wine, "/delete", "/tn", OWN_TASK, "/f")


# The runs software distribution makes on an installed package, one after the
# other on one install: (what is done by hand first, msiexec /i's arguments,
# the task left, the value kept). A run that sets LOGONTASK ends with the
# task exactly when it is not "0", and keeps it; one that does not keeps the
# task as the kept value says, a repair putting back one deleted by hand.
MAINTENANCE = [
    (None, ["LOGONTASK=1"], True, "1"),  # the first install
    (None, ["LOGONTASK=0"], False, "0"),
    (None, [], False, "0"),
    (None, REPAIR, False, "0"),
    (None, ["LOGONTASK=1"], True, "1"),
    (delete_task_by_hand, REPAIR, True, "1"),
    (delete_task_by_hand, [], True, "1"),
    (None, [*REINSTALL, "LOGONTASK=0"], False, "0"),
    (None, [*REINSTALL, "LOGONTASK=1"], True, "1"),
]


def test_every_maintenance_run_leaves_the_task_as_the_choice_says(wine):
    msi = windows_path(release_file(BUILD, "msi"))
    left = []
    for step, (by_hand, args, _, _) in enumerate(MAINTENANCE):
        if by_hand:
            by_hand(wine)
        msiexec_ok(wine, "/i", msi, *args, log=f"maintenance-{step}")
        left.append((*args, registered_tasks(wine) == [OWN_TASK], kept_choice(wine)))
    msiexec_ok(wine, "/x", msi, log="maintenance-removal")
    assert left == [(*args, task, kept) for _, args, task, kept in MAINTENANCE]
    assert (registered_tasks(wine), kept_choice(wine)) == ([], None)


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


def actions_run(log, prefix):
    """The actions whose names start with prefix that ran, from msiexec's log."""
    return set(re.findall(rf"^Action start [0-9:]+: ({prefix}\w*)\.$", log, re.M))


def test_runs_that_cannot_do_their_job_are_refused_or_say_what_they_leave(wine):
    # An install whose task cannot be registered is not allowed to succeed
    # quietly: a fleet would get the files and no logon run, with a success
    # reported. With the Task Scheduler service disabled it is refused before
    # anything changes (the error action PlenvorNoTaskScheduler), as is a
    # REINSTALL where Plenvor is not installed (PlenvorNotInstalled), which
    # Windows Installer would otherwise end as a success that installed
    # nothing. A removal goes on, and notes the task it has to leave.
    msi = windows_path(release_file(BUILD, "msi"))
    refused = {"reinstall": msiexec(wine, "/i", msi, *REINSTALL, log="reinstall")}
    with task_scheduler_unreachable(wine):
        refused["install"] = msiexec(wine, "/i", msi, log="unreachable")
        left = (installed_folder(wine), uninstall_entry(wine, release_file(BUILD, "msi")),
                registered_tasks(wine))
        # Without the task the package needs no Task Scheduler.
        without_task = msiexec(wine, "/i", msi, "LOGONTASK=0")[0]
        msiexec_ok(wine, "/x", msi)
    msiexec_ok(wine, "/i", msi, log="with-task")
    with task_scheduler_unreachable(wine):
        removal = msiexec(wine, "/x", msi, log="removal-unreachable")
        after_removal = (installed_folder(wine), registered_tasks(wine))
    delete_task_by_hand(wine)
    # Windows' msiexec ends with 1603 (ERROR_INSTALL_FAILURE); Wine's passes
    # on its low byte.
    assert {run: (status & 0xFF, actions_run(log, "Plenvor(?:NotInstalled|NoTask|CreateTask)"))
            for run, (status, _, log) in refused.items()} == \
        {"reinstall": (1603 & 0xFF, {"PlenvorNotInstalled"}),
         "install": (1603 & 0xFF, {"PlenvorNoTaskScheduler"})}
    assert (left, without_task) == (([], None, []), 0)
    properties = dict(re.findall(r"^Property\(S\): (\w+) = (.*)$", removal[2], re.M))
    assert (removal[0], after_removal, properties.get("PLENVOR_TASK_LEFT")) == \
        (0, ([], [OWN_TASK]), TASK_LEFT)


def test_a_folder_of_ones_own_is_kept_by_a_repair_and_an_upgrade(wine, newer_build):
    # INSTALLDIR is the folder the installed release is in, unless the
    # command line names one; the task definitions name the default folder,
    # so such an install goes without the task.
    msi, newer_msi = (windows_path(release_file(folder, "msi")) for folder in (BUILD, newer_build[0]))
    own = wine.unix_path("C:\\Tools\\Plenvor")
    msiexec_ok(wine, "/i", msi, "INSTALLDIR=C:\\Tools\\Plenvor\\", "LOGONTASK=0")
    found = []
    for args in (REPAIR, [newer_msi]):
        msiexec_ok(wine, "/i", *([msi, *args] if args is REPAIR else args))
        found.append((installed_folder(wine), sorted(os.listdir(own)) if os.path.isdir(own) else []))
    msiexec_ok(wine, "/x", newer_msi)
    assert found == [([], INSTALLED_FILES)] * 2
    assert not os.path.exists(own)


@pytest.mark.pe32_only
def test_the_release_package_runs_its_systems_schtasks_and_definition(wine):
    # What only the release's own package under a 32-bit msiexec shows; the
    # 64-bit stand-in's rows name System64Folder instead:
    # - its actions run schtasks.exe from SystemFolder, the 32-bit system
    #   folder (system32 on 32-bit Windows, SysWOW64 on 64-bit Windows);
    # - the definition it registers names the folder the files went to, the
    #   32-bit Program Files folder of that kind of Windows.
    msi = release_file(BUILD, "msi")
    status, seconds, log = msiexec(wine, "/i", windows_path(msi), log="kind")
    assert status == 0, f"status {status}, log {wine.path('kind.log')}"
    properties = dict(re.findall(r"^Property\(S\): (\w+) = (.*)$", log, re.M))
    is64 = "(x86)" in properties["ProgramFilesFolder"]
    folders = installed_folder(wine)
    tasks = registered_tasks(wine)
    msiexec_ok(wine, "/x", windows_path(msi))
    print(f"installed in {seconds:.1f} s; SystemFolder {properties['SystemFolder']}, "
          f"ProgramFilesFolder {properties['ProgramFilesFolder']}")
    schtasks_exe = wine.unix_path(properties["SystemFolder"] + "schtasks.exe")
    assert os.path.isfile(schtasks_exe), schtasks_exe
    kind = "64" if is64 else "32"
    assert actions_run(log, "PlenvorCreateTask") == {"PlenvorCreateTaskRollback" + kind,
                                                     "PlenvorCreateTask" + kind}
    assert tasks == [OWN_TASK]
    # %ProgramFiles(x86)% exists only on 64-bit Windows; the files are in the
    # folder the chosen definition names.
    assert folders == [wine.unix_path(("C:\\Program Files (x86)" if is64 else
                                       "C:\\Program Files") + "\\Plenvor")]
