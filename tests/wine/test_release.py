"""The file a user gets: its form, its version resource and the archive."""

import hashlib
import os
import struct
import subprocess
import tempfile
import time
import zipfile

from winetools import windows_path

EXPECTED_DLLS = {"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll"}


def pe_header(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    symbols = struct.unpack_from("<I", data, pe + 16)[0]
    opt = pe + 24
    return {
        "magic": struct.unpack_from("<H", data, opt)[0],
        "subsystem_version": struct.unpack_from("<HH", data, opt + 48),
        "subsystem": struct.unpack_from("<H", data, opt + 68)[0],
        "symbols": symbols,
        "size": len(data),
    }


def imported_dlls(path):
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], check=True,
                         capture_output=True, text=True).stdout
    return {line.split(":", 1)[1].strip() for line in out.splitlines() if "DLL Name:" in line}


def test_program_file_is_a_small_self_contained_console_program(wine):
    header = pe_header(wine.exe)
    assert header["magic"] == 0x10B            # PE32
    assert header["subsystem"] == 3            # console
    assert header["subsystem_version"] == (4, 0)
    assert header["symbols"] == 0              # stripped
    assert header["size"] <= 24 * 1024, header["size"]
    assert imported_dlls(wine.exe) == EXPECTED_DLLS


def test_version_resource_reads_back(wine):
    answer = wine.reg(("version", windows_path(wine.exe)))[0]
    fields = dict(part.split("=", 1) for part in answer.split("|") if part)
    assert fields["ProductName"] == "Plenvor"
    assert fields["FileVersion"] == "1.0"
    assert fields["ProductVersion"] == "1.0"
    assert fields["FileDescription"]
    assert fields["Fixed"] == "1.0.0.0"


def package(build):
    """Makes the release archive of a configured build: (program, archive)."""
    subprocess.run(["cmake", "--build", build, "--target", "package"], check=True,
                   capture_output=True)
    return os.path.join(build, "plenvor.exe"), os.path.join(build, "plenvor-1.0-win32.zip")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def assert_archive_holds(archive_path, exe_path):
    with zipfile.ZipFile(archive_path) as archive:
        assert sorted(archive.namelist()) == ["LICENSE", "README.txt", "SHA256SUMS", "plenvor.exe"]
        exe = archive.read("plenvor.exe")
        sums = archive.read("SHA256SUMS").decode()
        readme = archive.read("README.txt").decode()
        licence = archive.read("LICENSE").decode()
    assert exe == read(exe_path)
    assert sums == hashlib.sha256(exe).hexdigest() + "  plenvor.exe\n"
    assert licence.startswith("MIT License")
    return readme


def test_release_archive_holds_the_program_its_sum_a_readme_and_the_licence(wine):
    build = os.environ.get("PLENVOR_BUILD", os.path.dirname(wine.exe))
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


def test_signed_release_verifies_runs_the_same_and_is_reproducible(wine):
    source = os.environ.get("PLENVOR_SOURCE", os.path.dirname(os.path.dirname(
        os.path.dirname(os.path.abspath(__file__)))))
    with tempfile.TemporaryDirectory() as work:
        ca, p12, password = make_signing_key(work)
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(int(time.time())))
        builds = []
        for name in ("first", "second"):
            build = os.path.join(work, name)
            subprocess.run(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                            "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake/mingw-i686.cmake"),
                            "-DPLENVOR_SIGN_PKCS12=" + p12,
                            "-DPLENVOR_SIGN_PASSWORD_FILE=" + password],
                           env=env, check=True, capture_output=True)
            builds.append(package(build))
        (exe, archive), (exe2, archive2) = builds

        def verify(path):
            return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                                  capture_output=True, text=True)
        verified = verify(exe)
        assert verified.returncode == 0, verified.stdout + verified.stderr
        tampered = os.path.join(work, "tampered.exe")
        data = bytearray(read(exe))
        data[0x400] ^= 1  # a byte of code
        with open(tampered, "wb") as f:
            f.write(data)
        assert verify(tampered).returncode != 0

        assert read(exe) == read(exe2) and read(archive) == read(archive2)
        assert_archive_holds(archive, exe)
        print(f"signed program: {len(read(exe))} bytes, unsigned: {len(read(wine.exe))}")

        unsigned, signed = wine.run_plenvor(), wine.run_plenvor(exe=exe)
    assert (signed.stdout, signed.status) == (unsigned.stdout, unsigned.status)
