import os
import subprocess
import sys

import pytest

# The cases and names, and their reader, live with the data.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "data"))
from winetools import BUILD, PLAIN_SCHEME, WINE, Wine  # noqa: E402


def built(name, variable):
    path = os.environ.get(variable, os.path.join(BUILD, name))
    assert os.path.exists(path), f"{path} is missing: build the mingw-i686 preset first"
    return path


@pytest.fixture(scope="session")
def exe():
    """The built program, for the checks that read it without running it."""
    return built("plenvor.exe", "PLENVOR_EXE")


def wine_cannot_start():
    """Why Wine cannot run here, when the reason is the machine's kernel: Wine's
    32-bit loader is an i386 program, which a kernel without IA-32 emulation
    refuses with ENOEXEC ("Exec format error"). Any other failure is Wine's own,
    and fails the tests instead."""
    tried = subprocess.run([WINE, "--version"], capture_output=True, text=True, timeout=60)
    if tried.returncode != 0 and "Exec format error" in tried.stderr:
        return "this machine's kernel cannot run 32-bit programs: " + tried.stderr.strip()
    return None


@pytest.fixture(scope="session")
def wine(exe):
    reason = wine_cannot_start()
    if reason:
        pytest.skip(reason)
    session = Wine(exe, built("plenvor_helper.exe", "PLENVOR_HELPER"))
    try:
        session.start()
        yield session
    finally:
        session.stop()


# A plain desktop that every test starts from; a test changes only what it
# needs on top of it. The size is one a run keeps, and not the one it falls
# back to.
@pytest.fixture(autouse=True)
def plain_desktop(request):
    if "wine" not in request.fixturenames:
        return
    session = request.getfixturevalue("wine")
    session.apply(session.icon_size_commands(b"48") + session.scheme_commands(PLAIN_SCHEME))
