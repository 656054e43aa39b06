"""The file a user gets: its form, its version resource and the archive."""

import hashlib
import os
import subprocess
import tempfile
import time
import zipfile

import pefile

from winetools import BANNER, windows_path

EXPECTED_DLLS = {"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll"}


def test_program_file_is_a_small_self_contained_console_program(wine):
    pe = pefile.PE(wine.exe)
    assert pe.OPTIONAL_HEADER.Magic == 0x10B  # PE32
    assert pe.OPTIONAL_HEADER.Subsystem == 3  # console
    assert (pe.OPTIONAL_HEADER.MajorSubsystemVersion,
            pe.OPTIONAL_HEADER.MinorSubsystemVersion) == (4, 0)
    assert pe.FILE_HEADER.NumberOfSymbols == 0  # stripped
    assert len(pe.__data__) <= 24 * 1024, len(pe.__data__)
    assert {entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT} == EXPECTED_DLLS


def version_resource(path):
    """The version resource's strings, and its fixed file version as text."""
    pe = pefile.PE(path)
    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, "StringTable")
               for table in info.StringTable for k, v in table.entries.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    strings["Fixed"] = ".".join(str(n) for n in (fixed.FileVersionMS >> 16,
                                                 fixed.FileVersionMS & 0xFFFF,
                                                 fixed.FileVersionLS >> 16,
                                                 fixed.FileVersionLS & 0xFFFF))
    return strings


def test_version_resource_reads_back(wine):
    fields = version_resource(wine.exe)
    assert fields["ProductName"] == "Plenvor"
    assert fields["FileVersion"] == "1.0"
    assert fields["ProductVersion"] == "1.0"
    assert fields["FileDescription"]
    assert fields["Fixed"] == "1.0.0.0"


def package(build, env=None):
    """Makes the release archive of a configured build: (program, archive),
    with the Windows Installer package beside it (msi_of)."""
    subprocess.run(["cmake", "--build", build, "--target", "package"], env=env, check=True,
                   capture_output=True)
    return os.path.join(build, "plenvor.exe"), os.path.join(build, "plenvor-1.0-win32.zip")


def msi_of(build, version="1.0"):
    return os.path.join(build, f"plenvor-{version}-win32.msi")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def assert_archive_holds(archive_path, exe_path):
    with zipfile.ZipFile(archive_path) as archive:
        assert sorted(archive.namelist()) == ["LICENSE", "README.txt", "SHA256SUMS",
                                              "plenvor-logon-task.xml", "plenvor.exe"]
        exe = archive.read("plenvor.exe")
        sums = archive.read("SHA256SUMS").decode()
        readme = archive.read("README.txt").decode()
        licence = archive.read("LICENSE").decode()
        task = archive.read("plenvor-logon-task.xml")
    assert exe == read(exe_path)
    msi = msi_of(os.path.dirname(archive_path))
    assert sums == (hashlib.sha256(exe).hexdigest() + "  plenvor.exe\n" +
                    hashlib.sha256(read(msi)).hexdigest() + "  plenvor-1.0-win32.msi\n")
    assert licence.startswith("MIT License")
    assert task == read(os.path.join(os.path.dirname(archive_path), "plenvor-logon-task.xml"))
    return readme


def test_release_archive_holds_the_program_its_sum_a_readme_and_the_licence(wine):
    build = build_dir(wine)
    readme = assert_archive_holds(package(build)[1], wine.exe)
    # Plain text for the people who run the program: CRLF, no Markdown,
    # nothing about building it.
    assert "\r\n" in readme and "\n" not in readme.replace("\r\n", "")
    for needed in ("Exit statuses", "Deploying to many desktops", "Known limits", "0xC000013A"):
        assert needed in readme
    for dev_only in ("cmake", "scripts/", "```", "**", "<!--"):
        assert dev_only not in readme


def make_signing_key(folder):
    """A throwaway CA and a code-signing certificate from it, in a PKCS#12
    file whose password is in a file: (ca.pem, cert.p12, password file)."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    with open(os.path.join(folder, "password"), "w") as f:
        f.write("not-a-secret\n")
    with open(os.path.join(folder, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "2", "-subj", "/CN=Plenvor Test CA")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out",
            "signer.csr", "-subj", "/CN=Plenvor Test Signer")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "1", "-extfile", "signer.ext", "-out", "signer.pem")
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-out",
            "signer.p12", "-passout", "file:password")
    return [os.path.join(folder, name) for name in ("ca.pem", "signer.p12", "password")]


def build_dir(wine):
    return os.environ.get("PLENVOR_BUILD", os.path.dirname(wine.exe))


def source_dir():
    return os.environ.get("PLENVOR_SOURCE", os.path.dirname(os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))))


SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"


def make_token(folder, key_pem):
    """A throwaway SoftHSM token holding key_pem as "Code Signing"; returns
    (environment for its users, PIN file)."""
    tokens = os.path.join(folder, "tokens")
    os.makedirs(tokens)
    conf = os.path.join(folder, "softhsm2.conf")
    with open(conf, "w") as f:
        f.write(f"directories.tokendir = {tokens}\nobjectstore.backend = file\n")
    env = dict(os.environ, SOFTHSM2_CONF=conf)
    for args in (["--init-token", "--free", "--label", "plenvor-test", "--pin", "1234",
                  "--so-pin", "4321"],
                 ["--import", key_pem, "--token", "plenvor-test", "--label", "Code Signing",
                  "--id", "01", "--pin", "1234"]):
        subprocess.run(["softhsm2-util", *args], env=env, check=True, capture_output=True)
    pin = os.path.join(folder, "token.pin")
    with open(pin, "w") as f:
        f.write("1234\n")
    return env, pin


def test_signed_release_verifies_runs_the_same_and_is_reproducible(wine):
    # The second build's key is on a token, as keys for public code-signing
    # certificates must now be: SoftHSM as the token, libp11's engine as
    # osslsigncode's way to it, through the README's PLENVOR_SIGN_KEY_OPTIONS.
    # One key, one certificate, one signing time: the two are identical.
    with tempfile.TemporaryDirectory() as work:
        ca, p12, password = make_signing_key(work)
        token_env, pin = make_token(work, os.path.join(work, "signer.key"))
        # No -pkcs11engine: osslsigncode 2.5 takes an engine's path for its id
        # and cannot load it, so the engine is found by its name, as the README says.
        token_options = ["-pkcs11module", SOFTHSM_MODULE,
                         "-certs", os.path.join(work, "signer.pem"),
                         "-key", "pkcs11:object=Code%20Signing"]
        env = dict(token_env, SOURCE_DATE_EPOCH=str(int(time.time())))
        builds = []
        for name, key_args in (("file", ["-DPLENVOR_SIGN_PKCS12=" + p12,
                                         "-DPLENVOR_SIGN_PASSWORD_FILE=" + password]),
                               ("token", ["-DPLENVOR_SIGN_KEY_OPTIONS=" + ";".join(token_options),
                                          "-DPLENVOR_SIGN_PASSWORD_FILE=" + pin])):
            build = os.path.join(work, name)
            subprocess.run(["cmake", "-S", source_dir(), "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                            "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source_dir(),
                                                                     "cmake/mingw-i686.cmake"),
                            *key_args], env=env, check=True, capture_output=True)
            builds.append(package(build, env))
            for made in (*builds[-1], msi_of(build)):  # shown when the test fails
                print(name, hashlib.sha256(read(made)).hexdigest(), os.path.basename(made))
        (exe, archive), (exe2, archive2) = builds

        def verify(path):
            return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                                  capture_output=True, text=True)
        msi, msi2 = msi_of(os.path.dirname(exe)), msi_of(os.path.dirname(exe2))
        for signed_file in (exe, msi, exe2, msi2):
            verified = verify(signed_file)
            assert verified.returncode == 0, signed_file + verified.stdout + verified.stderr
        tampered = os.path.join(work, "tampered.exe")
        data = bytearray(read(exe))
        data[0x400] ^= 1  # a byte of code
        with open(tampered, "wb") as f:
            f.write(data)
        assert verify(tampered).returncode != 0
        tampered = os.path.join(work, "tampered.msi")
        data = bytearray(read(msi))
        data[data.index(b"The Plenvor developers")] ^= 1  # the publisher, in a signed stream
        with open(tampered, "wb") as f:
            f.write(data)
        assert verify(tampered).returncode != 0

        assert read(exe) == read(exe2)
        assert_same_package(msi, msi2)
        assert read(archive) == read(archive2)
        # The package installs the signed program itself.
        extracted = os.path.join(work, "extracted")
        subprocess.run(["msiextract", "-C", extracted, msi], check=True, capture_output=True)
        assert read(os.path.join(extracted, "Program Files", "Plenvor", "plenvor.exe")) == read(exe)
        assert_archive_holds(archive, exe)
        print(f"signed program: {len(read(exe))} bytes, unsigned: {len(read(wine.exe))}")

        unsigned, signed = wine.run_plenvor(), wine.run_plenvor(exe=exe)
    assert (signed.stdout, signed.status) == (unsigned.stdout, unsigned.status)


# The Windows Installer package --------------------------------------------

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
INSTALLED_FILES = ["LICENSE", "README.txt", "plenvor-logon-task.xml", "plenvor.exe"]


def build_msi(build, version, out):
    """The package of another version, made as the build makes its own."""
    subprocess.run(["cmake", f"-DVERSION={version}",
                    "-DWXS=" + os.path.join(source_dir(), "packaging/plenvor.wxs"),
                    "-DEXE=" + os.path.join(build, "plenvor.exe"),
                    "-DREADME=" + os.path.join(build, "README.txt"),
                    "-DLICENCE=" + os.path.join(source_dir(), "LICENSE"),
                    "-DLOGON_TASK=" + os.path.join(build, "plenvor-logon-task.xml"),
                    "-DOUT=" + out, "-DEPOCH=", "-DWIXL=wixl", "-DMSIBUILD=msibuild",
                    "-DFAKETIME=faketime", "-P", os.path.join(source_dir(), "cmake/msi.cmake")],
                   check=True, capture_output=True)
    return out


def msi_parts(msi):
    """What a package holds, part by part: its summary information, each
    table as exported and each stream, the signature's among them."""
    def msiinfo(*args, text=True):
        return subprocess.run(["msiinfo", *args], check=True, capture_output=True,
                              text=text).stdout
    parts = {"summary": msiinfo("suminfo", msi)}
    for table in msiinfo("tables", msi).split():
        parts["table " + table] = msiinfo("export", msi, table)
    for stream in msiinfo("streams", msi).split():
        parts["stream " + stream] = msiinfo("extract", msi, stream, text=False)
    return parts


def assert_same_package(msi, other):
    if read(msi) != read(other):
        first, second = msi_parts(msi), msi_parts(other)
        differing = sorted(name for name in first.keys() | second.keys()
                           if first.get(name) != second.get(name))
        assert not differing, f"the packages differ in {differing}"
        assert read(msi) == read(other), "same parts, different compound-file layout"


def msi_property(msi, name):
    table = subprocess.run(["msiinfo", "export", msi, "Property"], check=True,
                           capture_output=True, text=True).stdout
    return dict(line.split("\t", 1) for line in table.splitlines()[3:])[name].strip()


def msiexec(wine, *args):
    start = time.monotonic()
    done = subprocess.run(["wine", "msiexec", *args, "/qn"], env=wine.env, capture_output=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    return time.monotonic() - start


def uninstall_entry(wine, msi):
    """The package's Add/Remove Programs entry: (name, version, publisher),
    or None when there is none."""
    path = UNINSTALL + "\\" + msi_property(msi, "ProductCode")
    fields = wine.reg(*[("get", "HKLM", path, name)
                        for name in ("DisplayName", "DisplayVersion", "Publisher")])
    if fields[0] == "missing":
        return None
    return tuple(bytes.fromhex(f.split(" ", 1)[1]).rstrip(b"\0").decode() for f in fields)


def installed_folder(wine):
    """Where the package put its files: the 32-bit Program Files folder."""
    drive = os.path.join(wine.env["WINEPREFIX"], "drive_c")
    folders = [os.path.join(drive, d, "Plenvor") for d in ("Program Files (x86)", "Program Files")]
    return [f for f in folders if os.path.exists(f)]


def test_msi_installs_runs_upgrades_and_uninstalls_silently(wine):
    build = build_dir(wine)
    msi = msi_of(build)
    assert installed_folder(wine) == [] and uninstall_entry(wine, msi) is None
    installing = msiexec(wine, "/i", windows_path(msi))
    folders = installed_folder(wine)
    assert len(folders) == 1 and sorted(os.listdir(folders[0])) == INSTALLED_FILES
    installed = os.path.join(folders[0], "plenvor.exe")
    assert read(installed) == read(wine.exe)
    run = wine.run_plenvor(exe=installed)
    assert (run.status, run.stdout) == (0, BANNER)
    assert uninstall_entry(wine, msi) == ("Plenvor", "1.0", "The Plenvor developers")

    with tempfile.TemporaryDirectory() as work:
        newer = build_msi(build, "1.1", os.path.join(work, "plenvor-1.1-win32.msi"))
        assert msi_property(newer, "UpgradeCode") == msi_property(msi, "UpgradeCode")
        upgrading = msiexec(wine, "/i", windows_path(newer))
        left_by_upgrade = (installed_folder(wine), sorted(os.listdir(folders[0])),
                           uninstall_entry(wine, msi), uninstall_entry(wine, newer))
        removing = msiexec(wine, "/x", windows_path(newer))
        removed = (installed_folder(wine), uninstall_entry(wine, newer))
    print(f"install {installing:.1f} s, upgrade {upgrading:.1f} s, uninstall {removing:.1f} s; "
          f"after the upgrade: {left_by_upgrade}")
    # One entry, the newer one, and the same files in the same place.
    assert left_by_upgrade == (folders, INSTALLED_FILES, None,
                               ("Plenvor", "1.1", "The Plenvor developers"))
    assert removed == ([], None)


# The logon task, as the Task Scheduler reads it (Task Scheduler schema 1.2).
TASK_NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"


def test_logon_task_definition_holds_what_an_administrator_imports(wine):
    import xml.etree.ElementTree as ET
    build = build_dir(wine)
    data = read(os.path.join(build, "plenvor-logon-task.xml"))
    assert data.startswith(b"\xff\xfe")  # UTF-16, little-endian, with its mark
    text = data.decode("utf-16")
    assert "\r\n" in text and "\n" not in text.replace("\r\n", "")
    task = ET.fromstring(data)
    assert task.tag == TASK_NS + "Task" and task.get("version") == "1.2"

    def one(path):
        found = task.findall("/".join(TASK_NS + part for part in path.split("/")))
        assert len(found) == 1, path
        return found[0].text
    # At the logon of any user: a logon trigger with no user named.
    triggers = task.find(TASK_NS + "Triggers")
    assert [t.tag for t in triggers] == [TASK_NS + "LogonTrigger"]
    assert triggers[0].find(TASK_NS + "UserId") is None
    # As that user, in that user's session, elevated where the user can be.
    assert one("Principals/Principal/GroupId") == "S-1-5-32-545"  # BUILTIN\Users
    assert one("Principals/Principal/LogonType") == "InteractiveToken"
    assert one("Principals/Principal/RunLevel") == "HighestAvailable"
    # Short, and never twice at once.
    limit = one("Settings/ExecutionTimeLimit")
    assert limit.startswith("PT") and limit.endswith("M") and 1 <= int(limit[2:-1]) <= 5
    assert one("Settings/MultipleInstancesPolicy") == "IgnoreNew"
    assert one("Actions/Exec/Command").strip('"').endswith(r"\Plenvor\plenvor.exe")
