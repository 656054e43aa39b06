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


def status_of_each(wine, exe):
    """exe's exit status for each case the suite can make."""
    statuses = {"done": wine.run_plenvor(exe=exe).status}
    wine.reg(("delkey", "HKU", WINDOW_METRICS))
    statuses["key missing"] = wine.run_plenvor(exe=exe).status
    wine.set_icon_size(b"48")
    with wine.event_holding(ICON_SIZE_LOCK):
        statuses["lock's name held"] = wine.run_plenvor(exe=exe).status
    with wine.hung_window(visible=True):
        statuses["colour change held"] = wine.run_plenvor(exe=exe, timeout=90).status
    with wine.hung_window():
        proc = wine.start_plenvor(exe=exe, name="ended")
        wait_for_zero(wine, proc)
        wine.end_session(0x80000000)  # logoff: plenvor.exe ends with STATUS_CONTROL_C_EXIT
        statuses["logoff"] = proc.wait(timeout=60)
    return statuses


def test_the_windowless_form_passes_plenvors_status_on(wine, windowless):
    # The README's statuses, each of which plenvor.exe's own tests pin;
    # 0xC000013A shows as its low byte under Wine.
    assert {case: status & 0xFF for case, status in status_of_each(wine, windowless).items()} == \
        {"done": 0, "key missing": 1, "lock's name held": 2, "colour change held": 3,
         "logoff": 0x3A}


def test_the_windowless_form_alone_exits_with_its_own_status_and_shows_nothing(wine, windowless):
    alone = os.path.join(wine.dir, "alone")
    os.makedirs(alone, exist_ok=True)
    copy = shutil.copy(windowless, alone)
    proc, appeared = wine.windows_appearing_during(lambda: wine.spawn(copy))
    # 255: plenvor.exe could not be started (the README's status table).
    assert (proc.result(), appeared) == ("ff", {})
    assert wine.run_plenvor(exe=copy).stdout == b""
