"""The icon-metrics step on the real registry and real window messages."""

import os
import signal
import subprocess
import time
from contextlib import ExitStack, contextmanager

import pytest

from winetools import BANNER, ICON_SIZE, ICON_SIZE_LOCK, REG_SZ, own_calls_by_thread, wait_until


def wait_for_zero(wine, proc):
    """Until the run has stored its temporary "0"."""
    wait_until(lambda: wine.icon_text() == b"0", proc, '"0" was stored')


def test_a_hung_window_does_not_hold_the_run_and_an_interrupt_restores_the_size(wine):
    with wine.hung_window():
        proc = wine.start_plenvor(name="hung")
        wait_for_zero(wine, proc)
        # The first broadcast waits on the hung window: a banner still sitting
        # in the C library's buffer would only reach the file at exit.
        printed_while_running = wine.printed(proc)
        # A logoff that another program cancelled: WM_ENDSESSION with wParam
        # FALSE, and the session goes on, so must the run.
        cancelled = wine.end_session(0x80000000, cancelled=True)
        run = wine.finish_plenvor(proc, timeout=90)
        assert (run.status, run.stdout) == (0, BANNER)
        assert wine.icon_text() == b"48"
    assert printed_while_running == BANNER
    assert len(cancelled) == 1 and cancelled[0][0] >= 1, cancelled
    # A fresh window: one already seen as hung no longer holds a broadcast.
    with wine.hung_window():
        # Ctrl-C while the hung window holds the broadcast made with "0" stored.
        proc = wine.start_plenvor(name="interrupted")
        wait_for_zero(wine, proc)
        interrupted = time.monotonic()
        proc.send_signal(signal.SIGINT)
        status = proc.wait(timeout=60)
        after_signal = time.monotonic() - interrupted
    print(f"run with a hung window took {run.seconds:.1f} s; "
          f"an interrupted one ended {after_signal:.1f} s after Ctrl-C")
    left = wine.icon_text()
    # STATUS_CONTROL_C_EXIT, of which Wine passes on the low byte; now and
    # then Wine's server ends a process that is slow to go with SIGKILL.
    assert status & 0xFF == 0x3A or status == -signal.SIGKILL, f"status {status}"
    assert left == b"48"
    assert after_signal < run.seconds / 2


# Wine's relay trace leaves critical sections out unless its RelayExclude
# says otherwise; this one leaves out only what the program never calls.
RELAY_EXCLUDE = (r"Software\Wine\Debug", "RelayExclude")


def test_every_store_of_the_size_is_made_under_the_guards_lock(wine):
    # The guard's store, on the thread that takes an interrupt, may neither
    # overlap one of the run's own nor be followed by one: a "0" that the run
    # stores after the guard has put the size back is what would be left.
    # Each store, the run's "0" and the guard's "48", must stand inside one
    # and the same critical section, on its own thread.
    wine.apply([("set", "HKCU", *RELAY_EXCLUDE, REG_SZ,
                 b"ntdll.RtlTryEnterCriticalSection\0".hex())])
    try:
        with wine.hung_window():
            proc = wine.start_plenvor(relay=True, name="stores")
            wait_for_zero(wine, proc)
            wine.console_event(0)
            run = wine.finish_plenvor(proc, timeout=90)
    finally:
        wine.reg(("delkey", "HKCU", RELAY_EXCLUDE[0]))
    held, stores = {}, []
    for thread, call in own_calls_by_thread(run.trace_file, wine.exe):
        inside = held.setdefault(thread, {})
        if call.function in ("RtlEnterCriticalSection", "RtlLeaveCriticalSection"):
            step = 1 if call.function == "RtlEnterCriticalSection" else -1
            inside[call.args[0]] = inside.get(call.args[0], 0) + step
        elif call.function == "RegSetValueExA" and call.strings.get(1) == ICON_SIZE:
            stores.append((thread, {lock for lock, depth in inside.items() if depth > 0}))
    common = set.intersection(*(locks for _, locks in stores)) if stores else set()
    assert (run.status & 0xFF, wine.icon_text(), len(stores), len({t for t, _ in stores}),
            len(common)) == (0x3A, b"48", 2, 2, 1), stores


def test_runs_started_together_keep_the_stored_size(wine):
    # Logons that start together on a server, each with its own run.
    slowest = 0
    for trial in range(3):
        start = time.monotonic()
        procs = [wine.start_plenvor(name=f"together{i}") for i in range(4)]
        statuses = [p.wait(timeout=120) for p in procs]
        slowest = max(slowest, time.monotonic() - start)
        assert (statuses, wine.icon_text()) == ([0] * 4, b"48"), f"trial {trial}"
    print(f"slowest trial of 4 runs started together: {slowest:.1f} s")


# Logoff and shutdown, as Windows 7 and later deliver them to a console
# program that loads user32: WM_QUERYENDSESSION and WM_ENDSESSION to its
# top-level windows, then the end of the process (SetConsoleCtrlHandler's
# documentation). ENDSESSION_LOGOFF is 0x80000000; a shutdown passes 0.
@pytest.mark.parametrize("lparam", [0x80000000, 0], ids=["logoff", "shutdown"])
def test_logoff_or_shutdown_while_zero_is_stored_restores_the_size(wine, lparam):
    with wine.hung_window():
        proc = wine.start_plenvor(name="endsession")
        wait_for_zero(wine, proc)
        ended = wine.end_session(lparam)
        status = proc.wait(timeout=60)
    assert wine.icon_text() == b"48"
    # One process, whose every window let the session end, and which ended
    # itself with STATUS_CONTROL_C_EXIT, not with the 0 it would be ended with.
    assert len(ended) == 1 and ended[0][0] >= 1 and ended[0][1] == ended[0][0], ended
    assert status & 0xFF == 0x3A and ended[0][2] >= 0, f"status {status}, {ended}"


def test_the_end_of_the_session_in_the_colour_step_ends_the_run_at_once(wine):
    # WM_ENDSESSION's documentation: the application can be ended any time
    # after it returns. Here the size is already back: the end stores nothing.
    with wine.hung_window(visible=True):  # it holds the colour change
        proc = wine.start_plenvor(name="late", relay=True)
        trace = wine.path("late.stderr")
        wait_until(lambda: b"user32.SetSysColors(" in open(trace, "rb").read(), proc,
                   "the colour change was under way")
        ended = wine.end_session(0x80000000)
        run = wine.finish_plenvor(proc)
    stores = [c.strings[1] for c in run.trace if c.function == "RegSetValueExA"]
    assert len(ended) == 1 and 0 <= ended[0][2] < 1000, ended
    assert run.status & 0xFF == 0x3A, f"status {run.status}"
    assert stores == [ICON_SIZE] * 2  # the run's own two
    assert wine.icon_text() == b"48"


def test_slow_windows_do_not_hold_the_size_back(wine):
    # SendMessageTimeout's documentation: with HWND_BROADCAST each window can
    # use the full time-out, one after another. The size must be back when the
    # first broadcast's bound runs out, long before the windows are through.
    count, delay_ms = 4, 6000
    with wine.slow_windows(count, delay_ms) as end_windows:
        proc = wine.start_plenvor(name="slow", relay=True)
        wait_for_zero(wine, proc)
        zero_seen = time.monotonic()
        wait_until(lambda: wine.icon_text() == b"48", proc, "the size was back",
                   timeout=count * delay_ms / 1000 + 10)
        zero_for = time.monotonic() - zero_seen
        end_windows()
        run = wine.finish_plenvor(proc)
    unbounded = count * delay_ms / 1000  # the first broadcast, were it not cut short
    print(f"{count} windows taking {delay_ms / 1000:.0f} s each: \"0\" stored for "
          f"{zero_for:.1f} s, status {run.status}")
    assert (run.status, run.stdout) == (3, BANNER)
    assert wine.icon_text() == b"48"
    assert zero_for < 0.75 * unbounded
    # A broadcast cut short is still inside user32 on its worker, even once
    # later calls have returned in time: the run must end through
    # TerminateProcess, not ExitProcess, whose documentation warns of DLL
    # detach while other threads stand wherever they stopped.
    assert wine.endings(run) == wine.terminated(3)


def test_an_object_holding_the_lock_name_leaves_the_size_alone(wine):
    # Any account can create an object under a Global\ name first: an event
    # there makes CreateMutexA fail with ERROR_INVALID_HANDLE.
    wine.set_icon_size(b"13")  # a run that went on would store "32"
    with wine.event_holding(ICON_SIZE_LOCK), wine.listener() as heard:
        run = wine.run_plenvor()
        lines = heard()
    assert (run.status, run.stdout) == (2, BANNER)
    assert wine.icon_size() == (REG_SZ, b"13")
    assert len([line for line in lines if line.startswith("settingchange 2e ")]) == 2


def test_a_run_waiting_for_the_lock_gets_it_once_the_icon_step_is_done(wine):
    # A visible window that stops answering holds the broadcast made with "0"
    # stored, then the colour change.
    with wine.hung_window(visible=True):
        proc = wine.start_plenvor(name="colourstep", relay=True)
        wait_for_zero(wine, proc)
        held, _ = wine.take_lock(500)
        taken, dacl = wine.take_lock(30000)
        still_running = proc.poll() is None
        # Ctrl-C with the guard disarmed still ends the run now, not when the
        # colour change is given up, and through the program's own handler.
        proc.send_signal(signal.SIGINT)
        run = wine.finish_plenvor(proc, timeout=60)
    # WAIT_TIMEOUT (0x102) while "0" is stored; then WAIT_OBJECT_0 while the
    # first run is still in its colour step, not WAIT_ABANDONED (0x80) once
    # it has ended.
    assert (held, taken, still_running) == (0x102, 0, True)
    # SYSTEM (SDDL "SY") and Administrators ("BA"), MUTEX_ALL_ACCESS
    # (0x1F0001) each, and no one else.
    assert dacl == "D:(A;;0x1f0001;;;SY)(A;;0x1f0001;;;BA)"
    # Ended by the interrupt: a run left to finish here ends with 3, as the
    # hung window holds the colour change. The default handler would end it
    # through ExitProcess (with 0 under Wine 8) while the colour change still
    # stands inside user32 on its worker, whose DLL detach ExitProcess's
    # documentation warns of: the program's handler ends it itself, with
    # STATUS_CONTROL_C_EXIT (0xC000013A, of which Wine passes the low byte).
    assert run.status & 0xFF == 0x3A, f"status {run.status}"
    assert wine.endings(run) == wine.terminated(0xC000013A)
    assert wine.icon_text() == b"48"


def test_interrupts_at_many_moments_never_leave_zero(wine):
    # A window that takes 0.4 s over each of the two icon-metrics broadcasts
    # holds the icon step open for at least 0.8 s after the banner, however
    # loaded the machine; the Ctrl-Cs land 0 to 0.6 s into it, every 40 ms.
    # Each is sent once the run has begun (its first line is out, so its
    # handler is in place): one sent sooner lands in Wine's own start of the
    # process, before the program runs, and is lost or ended by Wine (seen
    # here: status 0, or the process killed by the signal).
    left = {}
    with wine.slow_windows(1, 400):
        for i in range(16):
            proc = wine.start_plenvor(name=f"moment{i}")
            wait_until(lambda: wine.printed(proc), proc, "the run began")
            time.sleep(i * 0.04)
            proc.send_signal(signal.SIGINT)
            left[i * 40] = ended(wine, proc)
    # Each ends the run as an interrupt does, with the size back.
    assert left == {ms: (0x3A, b"48") for ms in left}, left


@contextmanager
def output_paused(wine, name):
    """A run whose output is paused at its first line, as a console with
    text selected in QuickEdit mode holds it: its standard output a pipe
    already full, and the run seen blocked writing to it."""
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    for size in (4096, 1):
        try:
            while True:
                os.write(write_end, b"x" * size)
        except BlockingIOError:
            pass
    os.set_blocking(write_end, True)
    proc = wine.start_plenvor(name=name, stdout=write_end)
    os.close(write_end)

    def writing():
        tasks = f"/proc/{proc.pid}/task"
        return any(open(f"{tasks}/{t}/wchan").read().endswith("pipe_write")
                   for t in os.listdir(tasks))
    try:
        wait_until(writing, proc, "the banner was held")
        yield proc
    finally:
        os.close(read_end)  # a run still going writes no more, and goes on
        if proc.poll() is None:
            proc.kill()
        proc.wait()


def at_the_lock(wine, stack, name):
    stack.enter_context(wine.lock_held())
    proc = wine.start_plenvor(name=name)
    wait_until(lambda: wine.printed(proc) == BANNER, proc, "the run waited for the lock")
    return proc


def with_zero_stored(wine, stack, name):
    stack.enter_context(wine.hung_window())  # fresh: one seen as hung holds nothing
    proc = wine.start_plenvor(name=name)
    wait_for_zero(wine, proc)
    return proc


def in_the_colour_step(wine, stack, name):
    proc = wine.start_plenvor(name=name, relay=True)
    wait_until(lambda: b"user32.SetSysColors(" in open(wine.path(name + ".stderr"), "rb").read(),
               proc, "the colour change was under way")
    return proc


def waits_of(pid):
    """Where each thread of a process waits in the kernel; one that ends
    while it is read shows as "gone"."""
    waits = []
    try:
        threads = sorted(os.listdir(f"/proc/{pid}/task"))
    except OSError:
        return "gone"
    for thread in threads:
        try:
            with open(f"/proc/{pid}/task/{thread}/wchan") as f:
                waits.append(f.read() or "-")
        except OSError:
            waits.append("gone")
    return " ".join(waits)


def ended(wine, proc):
    """How an interrupted run ended: (its status's low byte, or "still
    running" 20 s on, when it is ended here, with where each of its threads
    waits in the kernel; the size left)."""
    try:
        status = proc.wait(timeout=20) & 0xFF
    except subprocess.TimeoutExpired:
        status = "still running: " + waits_of(proc.pid)
        proc.kill()
        proc.wait()
    return status, wine.icon_text()


# Console control events (Microsoft's HandlerRoutine page): Ctrl-C,
# Ctrl-Break, and the console closed, which "End task" in Task Manager sends
# too. Each is delivered as Windows does, by a thread in the process running
# the system's CtrlRoutine: Wine's own console delivers neither of the last
# two here (GenerateConsoleCtrlEvent fails with error 12, and a closed console
# window ends the program with 0 without calling its handler; measured).
EVENTS = {"Ctrl-C": 0, "Ctrl-Break": 1, "close": 2}


def test_every_console_event_at_every_stage_ends_the_run_and_never_leaves_zero(wine):
    # The stages: the banner (its output paused), the wait for another run's
    # lock, "0" stored (a hung window holds the broadcast), the colour change
    # (a visible hung window holds it). At each, the program's own handler
    # ends the run with STATUS_CONTROL_C_EXIT, having put the size back where
    # it stored "0"; the default handler would end it through ExitProcess,
    # with status 0 under Wine 8.
    left = {}
    with wine.hung_window(visible=True):  # for the colour step; seen as hung after the first run
        for stage, start in (("lock wait", at_the_lock), ('"0" stored', with_zero_stored),
                             ("colour step", in_the_colour_step)):
            for event, code in EVENTS.items():
                with ExitStack() as stack:
                    proc = start(wine, stack, f"{stage[:4]}-{code}")
                    left[stage, event] = (wine.console_event(code), *ended(wine, proc))
        for event, code in EVENTS.items():
            with output_paused(wine, f"banner-{code}") as proc:
                left["banner", event] = (wine.console_event(code), *ended(wine, proc))
    assert left == {key: (1, 0x3A, b"48") for key in left} and len(left) == 12, left
