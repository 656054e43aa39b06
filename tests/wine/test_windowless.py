"""plenvorw.exe, the windowless form that the logon task runs: the same
refresh as plenvor.exe, with no window, and plenvor.exe's exit status."""

import os
import shutil

import pytest

from test_icon_metrics import wait_for_zero
from winetools import ICON_SIZE_LOCK, WINDOW_METRICS, own_calls, wait_until, windows_path

# CREATE_NO_WINDOW, from Microsoft's "Process Creation Flags": a console
# program started with it runs without a console window.
CREATE_NO_WINDOW = 0x08000000


@pytest.fixture
def windowless(wine):
    return os.path.join(os.path.dirname(wine.exe), "plenvorw.exe")


def test_a_windowed_parent_starting_plenvor_shows_a_console_window(wine):
    # The control: without the windowless form, the Task Scheduler's start of
    # a console program gives it a console window, as Wine's does here. The
    # run waits for the lock (another run holds it) until the window has been
    # seen, however slowly the screen is read: a run of a fraction of a
    # second could come and go between two readings.
    before = wine.viewable_windows()
    with wine.lock_held():
        proc = wine.spawn(wine.exe)
        wait_until(lambda: wine.viewable_windows().keys() - before.keys(), proc,
                   "a console window appeared", 30)
    assert proc.result() == "0"


def test_the_windowless_form_runs_a_whole_refresh_without_a_window(wine, windowless):
    wine.set_icon_size(b"13")  # a refresh that ran stores "32"
    proc, appeared = wine.windows_appearing_during(lambda: wine.spawn(windowless))
    assert (proc.result(), appeared) == ("0", {})
    assert wine.icon_text() == b"32"


def test_the_windowless_form_starts_plenvor_beside_it_with_no_window_or_handles(wine, windowless):
    run = wine.run_plenvor(exe=windowless, relay=True)
    starts = [c for c in own_calls(run.trace_file, windowless, dlls=("KERNEL32", "kernel32"))
              if c.function == "CreateProcessW"]
    assert len(starts) == 1
    # Its own folder's plenvor.exe by full path, no arguments, no inherited
    # handles (bInheritHandles, the fifth argument), CREATE_NO_WINDOW alone.
    path, command = starts[0].strings[0], starts[0].strings[1]
    assert path.lower() == windows_path(os.path.join(os.path.dirname(windowless),
                                                     "plenvor.exe")).lower()
    assert command == f'"{path}"'
    assert (starts[0].arg(4), starts[0].arg(5)) == (0, CREATE_NO_WINDOW)
    assert (run.status, run.stdout) == (0, b"")


def test_no_window_of_the_programs_own_is_ever_visible(wine):
    # On Windows a visible top-level window always has a caption and a
    # taskbar button, whatever its size; the X screen shows nothing for one of
    # 0 by 0. So Windows' own IsWindowVisible is asked, all through a run that
    # a slow window keeps in its icon step for a while: the end-session
    # window is there, and hidden.
    with wine.slow_windows(1, 500):
        watched = wine.watch_windows()
        run = wine.run_plenvor()
    windows, visible = watched()
    assert (run.status, windows > 0, visible) == (0, True, 0)


def status_of_each(wine, exe):
    """exe's exit status for each case the suite can make, as a Windows
    parent (the Task Scheduler, a script) reads it: GetExitCodeProcess's
    whole 32 bits, in hex. Wine passes only their low byte on to Linux."""
    statuses = {"done": wine.spawn(exe).result()}
    wine.reg(("delkey", "HKU", WINDOW_METRICS))
    statuses["key missing"] = wine.spawn(exe).result()
    wine.set_icon_size(b"48")
    with wine.event_holding(ICON_SIZE_LOCK):
        statuses["lock's name held"] = wine.spawn(exe).result()
    with wine.hung_window(visible=True):
        statuses["colour change held"] = wine.spawn(exe).result()
    with wine.hung_window():
        proc = wine.spawn(exe)
        wait_for_zero(wine, proc)
        wine.end_session(0x80000000)  # logoff: plenvor.exe ends with STATUS_CONTROL_C_EXIT
        statuses["logoff"] = proc.result()
    return statuses


def test_the_windowless_form_passes_plenvors_status_on(wine, windowless):
    # The README's statuses, each of which plenvor.exe's own tests pin, whole:
    # the Task Scheduler shows an interrupted run as 0xC000013A.
    assert status_of_each(wine, windowless) == \
        {"done": "0", "key missing": "1", "lock's name held": "2", "colour change held": "3",
         "logoff": "c000013a"}


def test_the_windowless_form_alone_exits_with_its_own_status_and_shows_nothing(wine, windowless):
    alone = os.path.join(wine.dir, "alone")
    os.makedirs(alone, exist_ok=True)
    copy = shutil.copy(windowless, alone)
    proc, appeared = wine.windows_appearing_during(lambda: wine.spawn(copy))
    # 255: plenvor.exe could not be started (the README's status table).
    assert (proc.result(), appeared) == ("ff", {})
    assert wine.run_plenvor(exe=copy).stdout == b""
