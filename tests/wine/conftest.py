import os
import subprocess
import sys

import pytest

# The cases and names, and their reader, live with the data.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "data"))
from winetools import BUILD, PLAIN_SCHEME, ROOT, WINE, Wine  # noqa: E402


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "pe32_only: what only the 32-bit program and the release's own package can "
        "show; the 64-bit stand-in's run leaves it out")


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
    refuses with ENOEXEC ("Exec format error"). The kernel is asked directly,
    with an i386 program of a few bytes, since wine32 is not even installed
    there (or the probe that PLENVOR_KERNEL_PROBE names answers for it, as
    for scripts/test and its summary). Any other failure is Wine's own, and
    fails the tests instead. The 64-bit stand-in's loader needs no i386."""
    if WINE != "wine":
        return None
    probe = os.environ.get("PLENVOR_KERNEL_PROBE") or os.path.join(ROOT, "scripts",
                                                                    "kernel-runs-i386")
    tried = subprocess.run([probe], capture_output=True, text=True, timeout=60)
    # The reason is what the probe said: scripts/test accepts that skip, and
    # counts any other as a failure.
    return tried.stderr.strip() if tried.returncode == 1 else None


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
