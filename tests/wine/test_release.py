"""The file a user gets: its form, its version resource and the archive."""

import hashlib
import os
import struct
import subprocess
import tempfile
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


def test_release_archive_holds_the_program_its_sum_and_licence(wine):
    build = os.environ.get("PLENVOR_BUILD", os.path.dirname(wine.exe))
    with tempfile.TemporaryDirectory() as out:
        subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out],
                       check=True, capture_output=True)
        with zipfile.ZipFile(os.path.join(out, "plenvor-1.0-win32.zip")) as archive:
            assert sorted(archive.namelist()) == ["LICENSE", "README", "SHA256SUMS", "plenvor.exe"]
            exe = archive.read("plenvor.exe")
            sums = archive.read("SHA256SUMS").decode()
            licence = archive.read("LICENSE").decode()
    with open(wine.exe, "rb") as f:
        assert exe == f.read()
    assert sums == hashlib.sha256(exe).hexdigest() + "  plenvor.exe\n"
    assert licence.startswith("MIT License")
