import os

import pytest

from winetools import BUILD, PLAIN_SCHEME, Wine


@pytest.fixture(scope="session")
def wine():
    exe = os.environ.get("PLENVOR_EXE", os.path.join(BUILD, "plenvor.exe"))
    helper = os.environ.get("PLENVOR_HELPER", os.path.join(BUILD, "plenvor_helper.exe"))
    for path in (exe, helper):
        assert os.path.exists(path), f"{path} is missing: build the mingw-i686 preset first"
    session = Wine(exe, helper)
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
