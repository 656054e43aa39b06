"""The file a user gets: its form, its version resource, the archive, the
signed release and the logon task's definitions. The package's own tables
and its install are tested in test_package.py."""

import calendar
import hashlib
import os
import re
import subprocess
import tempfile
import time
import xml.etree.ElementTree as ET
import zipfile

import pefile
import pytest
import yaml

import timestamps
from release import (PROGRAMS, PUBLISHER, TASKS, assert_same_package, beside, configure,
                     configure_command, copy_with_version, four_fields, msi_property, package,
                     package_code, read, run, version_resource, write)
from winetools import BUILD, ROOT, build_version


@pytest.mark.parametrize("name", PROGRAMS)
def test_program_files_are_small_and_self_contained(exe, name):
    pe = pefile.PE(beside(exe, name))
    header = pe.OPTIONAL_HEADER
    subsystem, imports = PROGRAMS[name]
    # PE32, subsystem version 4.0
    assert (header.Magic, header.Subsystem, header.MajorSubsystemVersion,
            header.MinorSubsystemVersion) == (0x10B, subsystem, 4, 0)
    assert pe.FILE_HEADER.NumberOfSymbols == 0  # stripped
    assert len(pe.__data__) <= 24 * 1024, len(pe.__data__)
    assert {entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT} == imports


@pytest.mark.parametrize("name", PROGRAMS)
def test_version_resource_and_time_stamp_follow_the_build(exe, name):
    version = build_version()
    fields = version_resource(beside(exe, name))
    assert (fields["ProductName"], fields["OriginalFilename"], fields["CompanyName"],
            fields["FileVersion"], fields["ProductVersion"], fields["Fixed"],
            fields["FixedProduct"]) == ("Plenvor", name, PUBLISHER, version, version,
                                        four_fields(version), four_fields(version))
    assert fields["FileDescription"]
    with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
        stamp = int(re.search(r"^PLENVOR_TIME_STAMP:INTERNAL=(\d+)$", f.read(), re.M).group(1))
    assert pefile.PE(beside(exe, name), fast_load=True).FILE_HEADER.TimeDateStamp == stamp


# Microsoft's "Application manifests" page: the supportedOS ids, and the
# elements a manifest may hold. The programs declare these and nothing that
# changes what a run does (dpiAware, activeCodePage, heapType, longPathAware,
# a dependency such as Common Controls 6 would).
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and Windows 11",
}
MANIFEST_ELEMENTS = {
    "{urn:schemas-microsoft-com:asm.v1}assembly",
    "{urn:schemas-microsoft-com:asm.v3}trustInfo", "{urn:schemas-microsoft-com:asm.v3}security",
    "{urn:schemas-microsoft-com:asm.v3}requestedPrivileges",
    "{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel",
    "{urn:schemas-microsoft-com:compatibility.v1}compatibility",
    "{urn:schemas-microsoft-com:compatibility.v1}application",
    "{urn:schemas-microsoft-com:compatibility.v1}supportedOS",
}
RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID = 24, 1


def manifests(path):
    """A program's RT_MANIFEST resources: {id: bytes}."""
    pe = pefile.PE(path)
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MANIFEST:
            for entry in kind.directory.entries:
                data = entry.directory.entries[0].data.struct
                found[entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return found


@pytest.mark.parametrize("name", PROGRAMS)
def test_each_program_declares_what_it_supports_in_an_application_manifest(exe, name):
    found = manifests(beside(exe, name))
    # The one Windows reads when it starts a program.
    assert list(found) == [CREATEPROCESS_MANIFEST_RESOURCE_ID]
    root = ET.fromstring(found[CREATEPROCESS_MANIFEST_RESOURCE_ID])
    assert (root.tag, root.get("manifestVersion")) == \
        ("{urn:schemas-microsoft-com:asm.v1}assembly", "1.0")
    assert {element.tag for element in root.iter()} == MANIFEST_ELEMENTS
    # Run with the invoker's token, as the program always has: never a UAC
    # prompt of its own, whatever the heuristics make of its name.
    assert [(e.get("level"), e.get("uiAccess")) for e in
            root.iter("{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")] == \
        [("asInvoker", "false")]
    assert sorted(e.get("Id") for e in
                  root.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")) == \
        sorted(SUPPORTED_OS)


def assert_archive_holds(archive_path, exe_path, msi):
    with zipfile.ZipFile(archive_path) as archive:
        assert sorted(archive.namelist()) == sorted(["LICENSE", "README.txt", "SHA256SUMS",
                                                     *TASKS, *PROGRAMS])
        files = {name: archive.read(name) for name in archive.namelist()}
    for name in [*PROGRAMS, *TASKS]:
        assert files[name] == read(beside(exe_path, name)), name
    assert files["SHA256SUMS"].decode() == "".join(
        f"{hashlib.sha256(read(path)).hexdigest()}  {os.path.basename(path)}\n"
        for path in (exe_path, beside(exe_path, "plenvorw.exe"), msi))
    assert files["LICENSE"].startswith(b"MIT License")
    return files["README.txt"].decode()


def test_release_archive_holds_the_program_its_sum_a_readme_and_the_licence(exe):
    _, archive, msi = package(BUILD)
    readme = assert_archive_holds(archive, exe, msi)
    # Plain text for the people who run and deploy the program: CRLF, no
    # Markdown, nothing about building or testing it; Wine named only where
    # it says what the program was tested on.
    assert "\r\n" in readme and "\n" not in readme.replace("\r\n", "")
    for needed in ("Exit statuses", "Known limits", "The package", "LOGONTASK",
                   "Watching a fleet", "0xC000013A"):
        assert needed in readme
    # Where an administrator finds the code that removes this release.
    code = msi_property(msi, "ProductCode")
    assert f"msiexec /x {code} /qn" in readme
    for dev_only in ("cmake", "scripts/", "```", "**", "<!--", "](", "pytest", "Xvfb",
                     "wine32", "wine64", "plenvor_helper"):
        assert dev_only not in readme, dev_only
    assert all("Wine 8 on Debian 12" in line for line in readme.splitlines() if "Wine" in line)


def make_signing_key(folder):
    """A throwaway CA, and a code-signing certificate from it valid for 2 days,
    with its key as signer.pem and signer.key, and in signer.p12 with the
    password in the file "password"."""
    def openssl(*args):
        run("openssl", *args, cwd=folder)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "3", "-subj", "/CN=Plenvor Test CA")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
            "signer.pem", "-days", "2", "-subj", "/CN=Plenvor Test Signer", "-CA", "ca.pem",
            "-CAkey", "ca.key", "-addext", "basicConstraints=CA:FALSE", "-addext",
            "keyUsage=critical,digitalSignature", "-addext", "extendedKeyUsage=codeSigning")
    write(os.path.join(folder, "password"), "not-a-secret\n")
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-out",
            "signer.p12", "-passout", "file:password")


def make_token(folder, key_pem):
    """A throwaway SoftHSM token holding key_pem as "Code Signing", PIN 1234:
    the environment for its users."""
    tokens = os.path.join(folder, "tokens")
    os.makedirs(tokens)
    conf = write(os.path.join(folder, "softhsm2.conf"),
                 f"directories.tokendir = {tokens}\nobjectstore.backend = file\n")
    env = dict(os.environ, SOFTHSM2_CONF=conf)
    run("softhsm2-util", "--init-token", "--free", "--label", "plenvor-test", "--pin", "1234",
        "--so-pin", "4321", env=env)
    run("softhsm2-util", "--import", key_pem, "--token", "plenvor-test", "--label", "Code Signing",
        "--id", "01", "--pin", "1234", env=env)
    return env


def configure_failure(*args, source=ROOT):
    """Configures a throwaway build: the error output when configure fails,
    None when it succeeds."""
    with tempfile.TemporaryDirectory() as build:
        done = subprocess.run(configure_command(source, build, *args), capture_output=True,
                              text=True)
        return " ".join(done.stderr.split()) if done.returncode != 0 else None


def test_configure_refuses_versions_windows_installer_cannot_upgrade(tmp_path):
    # The ProductVersion property's page: major and minor at most 255, build
    # at most 65535, and a fourth field ignored.
    refused = {version: configure_failure(source=copy_with_version(str(tmp_path), version))
               for version in ("1.0.1.1", "256.0", "1.256", "1.0.65536", "255.255.65535")}
    assert "fourth field" in refused.pop("1.0.1.1")
    assert refused.pop("255.255.65535") is None
    assert all(message and "out of Windows Installer's range" in message
               for message in refused.values()), refused


@pytest.mark.parametrize("way", ["file", "token"])
def test_configure_refuses_a_signing_key_without_a_timestamp_decision(way):
    with tempfile.TemporaryDirectory() as work:
        key = {"file": "-DPLENVOR_SIGN_PKCS12=" + write(os.path.join(work, "any.p12"), b""),
               "token": "-DPLENVOR_SIGN_KEY_OPTIONS=-pkcs11module;/any.so;-key;pkcs11:object=a"}
        neither = configure_failure(key[way])
        both = configure_failure(key[way], "-DPLENVOR_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/",
                                 "-DPLENVOR_SIGN_NO_TIMESTAMP=ON")
    assert neither and "no timestamp server" in neither, neither
    assert "PLENVOR_SIGN_TIMESTAMP_URL" in neither and "PLENVOR_SIGN_NO_TIMESTAMP=ON" in neither
    assert both and "not both" in both, both


def test_configure_refuses_a_malformed_release_address():
    refused = {url: configure_failure("-DPLENVOR_RELEASE_URL=" + url) for url in (
        "downloads.example.org/plenvor.msi",          # no scheme
        "ftp://downloads.example.org/plenvor.msi",    # not one winget downloads
        "https://",                                   # no host
        "https://downloads.example.org/",             # a folder, not the file
        "https://downloads.example.org/plenvor 1.1.msi",
        "https://downloads.example.org/'plenvor'.msi",
        "https://downloads.example.org/a;b.msi",      # a CMake list: cut at the ";"
        "https://downloads.example.org/" + "p" * 2020 + ".msi",  # past winget's 2048
    )}
    accepted = configure_failure(
        "-DPLENVOR_RELEASE_URL=https://downloads.example.org/plenvor/plenvor-1.1-win32.msi")
    assert all(message and "PLENVOR_RELEASE_URL" in message and
               "is not the address of a file" in message for message in refused.values()), refused
    assert accepted is None, accepted


# What each signed build is given: a key (file or token) and a timestamp
# server, or the opt-out; "unsigned" has neither. Two of them are also given
# the address their MSI will be published at, and write winget manifests.
SIGNED_BUILDS = ("file", "token", "file-untimestamped", "token-untimestamped", "unsigned")
PUBLISHED = {"file": "https://downloads.example.org/plenvor/signed/plenvor-{}-win32.msi",
             "unsigned": "https://downloads.example.org/plenvor/plenvor-{}-win32.msi"}


@pytest.fixture(scope="module")
def signed_builds(tmp_path_factory):
    """Builds of this source with one signing time: signed from a PKCS#12 file
    and from a SoftHSM token, each with a timestamp from a loopback RFC 3161
    server and without one, and one unsigned. Yields (folder of the keys,
    {name: (program, archive, package)}, timestamp requests answered)."""
    # The key on a token, as keys for public code-signing certificates must
    # now be: SoftHSM as the token, libp11's engine as osslsigncode's way to
    # it, through PLENVOR_SIGN_KEY_OPTIONS as docs/building.md gives it. No -pkcs11engine:
    # osslsigncode 2.5 takes an engine's path for its id and cannot load it,
    # so the engine is found by its name, as that document says.
    work = str(tmp_path_factory.mktemp("signed"))
    make_signing_key(work)
    timestamps.make_authority(work)
    env = dict(make_token(work, os.path.join(work, "signer.key")),
               SOURCE_DATE_EPOCH=str(int(time.time())))
    token_options = ["-pkcs11module", "/usr/lib/softhsm/libsofthsm2.so",
                     "-certs", os.path.join(work, "signer.pem"),
                     "-key", "pkcs11:object=Code%20Signing"]
    keys = {
        "file": ["-DPLENVOR_SIGN_PKCS12=" + os.path.join(work, "signer.p12"),
                 "-DPLENVOR_SIGN_PASSWORD_FILE=" + os.path.join(work, "password")],
        "token": ["-DPLENVOR_SIGN_KEY_OPTIONS=" + ";".join(token_options),
                  "-DPLENVOR_SIGN_PASSWORD_FILE=" + write(os.path.join(work, "token.pin"),
                                                          "1234\n")],
    }
    with timestamps.authority(work) as (url, answered):
        builds = {}
        for name in SIGNED_BUILDS:
            key, _, untimestamped = name.partition("-")
            args = []
            if key in keys:
                args = keys[key] + (["-DPLENVOR_SIGN_NO_TIMESTAMP=ON"] if untimestamped else
                                    ["-DPLENVOR_SIGN_TIMESTAMP_URL=" + url])
            if name in PUBLISHED:
                args.append("-DPLENVOR_RELEASE_URL=" + PUBLISHED[name].format(build_version()))
            build = os.path.join(work, name)
            configure(ROOT, build, *args, env=env)
            builds[name] = package(build, env)
            for made in builds[name]:  # shown when a test fails
                print(name, hashlib.sha256(read(made)).hexdigest(), os.path.basename(made))
        yield work, builds, list(answered)


def verify(work, path, faked_time=None):
    """osslsigncode's verification against the throwaway CAs, at faked_time
    (UTC, "YYYY-MM-DD HH:MM:SS") when given."""
    command = ["osslsigncode", "verify", "-CAfile", os.path.join(work, "ca.pem"),
               "-TSA-CAfile", os.path.join(work, "tsa-ca.pem"), "-in", path]
    if faked_time:
        command = ["faketime", "-f", faked_time] + command
    return subprocess.run(command, capture_output=True, text=True, env=dict(os.environ, TZ="UTC"))


def test_timestamped_release_verifies_after_its_certificate_has_expired(signed_builds):
    work, builds, answered = signed_builds
    ends = run("openssl", "x509", "-enddate", "-noout", "-in", os.path.join(work, "signer.pem"),
               text=True).stdout.strip().partition("=")[2]
    # 30 days after the 2-day certificate's end.
    later = time.strftime("%Y-%m-%d %H:%M:%S",
                          time.gmtime(calendar.timegm(time.strptime(ends, "%b %d %H:%M:%S %Y GMT"))
                                      + 30 * 86400))
    outcomes = {}
    for name in ("file", "token", "file-untimestamped", "token-untimestamped"):
        exe, _, msi = builds[name]
        for signed_file in (*(beside(exe, program) for program in PROGRAMS), msi):
            now, then = verify(work, signed_file), verify(work, signed_file, later)
            outcomes[name, os.path.basename(signed_file)] = (now.returncode, then.returncode)
            print(name, os.path.basename(signed_file), then.stdout, then.stderr)
    signed_files = [*PROGRAMS, os.path.basename(builds["file"][2])]
    # Timestamped, each signed file verifies now and after the end; the
    # controls without a timestamp verify now and fail then.
    assert outcomes == {(name, file): (0, 0 if "-" not in name else 1)
                        for name in ("file", "token", "file-untimestamped", "token-untimestamped")
                        for file in signed_files}
    # One timestamp for each signed file of the two timestamped builds.
    assert len(answered) == 2 * len(signed_files), answered


def test_signed_release_verifies_and_is_reproducible(signed_builds, exe):
    work, builds, _ = signed_builds
    # One key, one certificate, one signing time, no timestamp: the builds
    # signed from the file and from the token are identical.
    (exe1, archive, msi), (exe2, archive2, msi2) = (builds["file-untimestamped"],
                                                    builds["token-untimestamped"])
    for signed_file in (exe1, beside(exe1, "plenvorw.exe"), msi, exe2, msi2):
        verified = verify(work, signed_file)
        assert verified.returncode == 0, signed_file + verified.stdout + verified.stderr
        digests = re.findall(r"Message digest algorithm\s*:\s*(\S+)", verified.stdout)
        assert digests and set(digests) == {"SHA256"}, digests
    # A byte of code; the publisher, in a signed stream.
    publisher = read(msi).index(PUBLISHER.encode())
    for signed_file, offset in ((exe1, 0x400), (msi, publisher)):
        data = bytearray(read(signed_file))
        data[offset] ^= 1
        assert verify(work, write(signed_file + ".tampered", bytes(data))).returncode != 0

    for program in PROGRAMS:
        assert read(beside(exe1, program)) == read(beside(exe2, program)), program
    assert_same_package(msi, msi2)
    assert read(archive) == read(archive2)
    # Of one commit and one time, an unsigned and a signed package hold other
    # programs, so they must not share a package code: Windows Installer takes
    # two packages with one code for the same package.
    _, _, unsigned_msi = builds["unsigned"]
    assert read(builds["unsigned"][0]) != read(exe1)
    assert package_code(msi) != package_code(unsigned_msi)
    # The package installs the signed programs themselves.
    extracted = os.path.join(work, "extracted")
    run("msiextract", "-C", extracted, msi)
    for program in PROGRAMS:
        assert read(os.path.join(extracted, "Program Files", "Plenvor", program)) == \
            read(beside(exe1, program)), program
    assert_archive_holds(archive, exe1, msi)
    print(f"signed program: {len(read(exe1))} bytes, unsigned: {len(read(exe))}")


def test_signed_program_runs_as_the_unsigned_one(wine, signed_builds):
    _, builds, _ = signed_builds
    unsigned, signed = wine.run_plenvor(), wine.run_plenvor(exe=builds["file"][0])
    assert (signed.stdout, signed.status) == (unsigned.stdout, unsigned.status)


# The Windows Installer package --------------------------------------------

# winget's multi-file manifests, schema 1.6.0 (Microsoft's winget-cli
# schemas): each file's required fields.
WINGET_FILES = {
    "Plenvor.Plenvor.yaml": ("version", {"PackageIdentifier", "PackageVersion", "DefaultLocale",
                                         "ManifestType", "ManifestVersion"}),
    "Plenvor.Plenvor.locale.en-US.yaml": ("defaultLocale", {
        "PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
        "License", "ShortDescription", "ManifestType", "ManifestVersion"}),
    "Plenvor.Plenvor.installer.yaml": ("installer", {"PackageIdentifier", "PackageVersion",
                                                     "Installers", "ManifestType",
                                                     "ManifestVersion"}),
}
# Each installer's required fields.
WINGET_INSTALLER = {"Architecture", "InstallerUrl", "InstallerSha256"}


def winget_manifests(build):
    folder = os.path.join(build, "winget")
    return {name: yaml.safe_load(read(os.path.join(folder, name)))
            for name in sorted(os.listdir(folder))} if os.path.isdir(folder) else {}


def test_winget_manifests_describe_the_msi_at_its_published_address(signed_builds):
    _, builds, _ = signed_builds
    version = build_version()
    hashes = {}
    for name, (exe, _, msi) in builds.items():
        found = winget_manifests(os.path.dirname(exe))
        if name not in PUBLISHED:  # no address, no manifests
            assert found == {}, name
            continue
        assert sorted(found) == sorted(WINGET_FILES), name
        for file, (kind, required) in WINGET_FILES.items():
            assert found[file]["ManifestType"] == kind and required <= set(found[file]), file
            # One package, one version, everywhere; the identifier fleets pin.
            assert (found[file]["PackageIdentifier"], found[file]["PackageVersion"],
                    found[file]["ManifestVersion"]) == ("Plenvor.Plenvor", version, "1.6.0"), file
        assert found["Plenvor.Plenvor.yaml"]["DefaultLocale"] == "en-US"
        locale = found["Plenvor.Plenvor.locale.en-US.yaml"]
        assert (locale["PackageLocale"], locale["Publisher"], locale["PackageName"],
                locale["License"]) == ("en-US", PUBLISHER, "Plenvor", "MIT")
        assert locale["ShortDescription"]
        installer = found["Plenvor.Plenvor.installer.yaml"]
        (entry,) = installer["Installers"]
        assert WINGET_INSTALLER <= set(entry)
        # The package as built: its hash, ProductCode, UpgradeCode, version.
        product_code = msi_property(msi, "ProductCode")
        assert (installer["InstallerType"], installer["Scope"], installer["ProductCode"],
                entry["Architecture"], entry["InstallerUrl"], entry["InstallerSha256"]) == \
            ("msi", "machine", product_code, "x86", PUBLISHED[name].format(version),
             hashlib.sha256(read(msi)).hexdigest().upper())
        assert installer["AppsAndFeaturesEntries"] == [{
            "DisplayName": "Plenvor", "Publisher": PUBLISHER, "DisplayVersion": version,
            "ProductCode": product_code, "UpgradeCode": msi_property(msi, "UpgradeCode")}]
        # msiexec's own silent switches (Microsoft's msiexec page). An upgrade
        # is the new MSI's install, whose major upgrade removes the release
        # before inside its own transaction: winget's "install", not
        # "uninstallPrevious", which would remove the kept LOGONTASK with the
        # old release and leave nothing should the new install fail.
        assert installer["InstallerSwitches"] == {"Silent": "/quiet /norestart",
                                                  "SilentWithProgress": "/passive /norestart"}
        assert installer["UpgradeBehavior"] == "install"
        hashes[name] = entry["InstallerSha256"]
    # A release whose MSI changes (here, signed) gets a new hash.
    assert len(set(hashes.values())) == len(PUBLISHED), hashes


# The logon task, as the Task Scheduler reads it (Task Scheduler schema 1.2).
TASK_NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"


# Each definition runs the windowless form where the package installs it: the
# 32-bit Program Files folder, which 32-bit Windows names %ProgramFiles% and
# has no %ProgramFiles(x86)% for.
@pytest.mark.parametrize("name,command", [
    ("plenvor-logon-task-64bit.xml", r'"%ProgramFiles(x86)%\Plenvor\plenvorw.exe"'),
    ("plenvor-logon-task-32bit.xml", r'"%ProgramFiles%\Plenvor\plenvorw.exe"'),
])
def test_logon_task_definition_holds_what_an_administrator_imports(name, command):
    data = read(os.path.join(BUILD, name))
    assert data.startswith(b"\xff\xfe")  # UTF-16, little-endian, with its mark
    text = data.decode("utf-16")
    assert "\r\n" in text and "\n" not in text.replace("\r\n", "")
    task = ET.fromstring(data)
    assert task.tag == TASK_NS + "Task" and task.get("version") == "1.2"

    def one(path):
        found = task.findall("/".join(TASK_NS + part for part in path.split("/")))
        assert len(found) == 1, path
        return found[0].text
    # At the logon of any user: a logon trigger with no user named. Any member
    # of Users, as that user, elevated where the user can be; no LogonType,
    # which Microsoft documents as valid only beside a UserId.
    assert one("RegistrationInfo/Author") == PUBLISHER
    assert [t.tag for t in task.find(TASK_NS + "Triggers")] == [TASK_NS + "LogonTrigger"]
    assert one("Principals/Principal/GroupId") == "S-1-5-32-545"  # BUILTIN\Users
    assert one("Principals/Principal/RunLevel") == "HighestAvailable"
    assert [task.find(".//" + TASK_NS + tag) for tag in ("UserId", "LogonType")] == [None, None]
    # Longer than the bound the documents promise a run ("a run ends within N
    # seconds"), so that the Task Scheduler never ends a run that is still
    # within it (perhaps with "0" stored), and short: at most 5 minutes.
    # One run for each logon, even while another's is going.
    bound = int(re.search(r"a run ends within (\d+) seconds",
                          read(os.path.join(ROOT, "docs", "behaviour.md")).decode()).group(1))
    hours, minutes, seconds = re.fullmatch(r"PT(?:(\d+)H)?(?:(\d+)M)?(?:(\d+)S)?",
                                           one("Settings/ExecutionTimeLimit")).groups(0)
    limit = (int(hours) * 60 + int(minutes)) * 60 + int(seconds)
    assert bound < limit <= 5 * 60, (bound, limit)
    assert one("Settings/MultipleInstancesPolicy") == "Parallel"
    # A laptop on battery runs it too: both conditions default to true.
    assert (one("Settings/DisallowStartIfOnBatteries"),
            one("Settings/StopIfGoingOnBatteries")) == ("false", "false")
    assert one("Actions/Exec/Command") == command
