"""Runs the real program and the test helper in one private Wine prefix, and
reads what the program did from a WINEDEBUG=+relay trace."""

import ctypes
import fcntl
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from contextlib import ExitStack, contextmanager
from dataclasses import dataclass, field

import pefile

from model import REG_SZ
from testdata import COLOR_NAMES, DATA, FACTS, banner

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("PLENVOR_BUILD", os.path.join(ROOT, "build", "mingw-i686"))
# Wine's loader: "wine" for the 32-bit program; /usr/lib/wine/wine64 for the
# 64-bit build that stands in for it where the kernel runs no i386 programs.
WINE = os.environ.get("PLENVOR_WINE", "wine")
WINDOW_METRICS = FACTS["window_metrics"]
ICON_SIZE = FACTS["icon_size"]
COLORS = FACTS["colors"]
# The machine-wide lock that runs take turns under.
ICON_SIZE_LOCK = FACTS["lock"]


def build_version(build=BUILD):
    """The version the build was configured with."""
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", f.read(), re.M).group(1)


BANNER = banner(build_version()) if os.path.exists(os.path.join(BUILD, "CMakeCache.txt")) else None
KEY_MISSING = FACTS["key_missing"].encode() + b"\r\n"
PLAIN_SCHEME = ["128 128 128"] * 25  # every test's, unless it stores its own


def windows_path(path):
    """The same file as a Wine process names it (drive Z: is /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_until(condition, proc=None, what="the condition", timeout=60):
    """Polls condition() until it holds; fails if proc ends first or time runs out."""
    deadline = time.monotonic() + timeout
    while not condition():
        assert proc is None or proc.poll() is None, f"the process ended before {what}"
        assert time.monotonic() < deadline, f"gave up waiting for {what}"
        time.sleep(0.05)


@dataclass
class Call:
    function: str                # e.g. "RegOpenKeyExA"
    args: list = field(default_factory=list)     # raw hex words
    strings: dict = field(default_factory=dict)  # argument index -> quoted text
    retval: int = None

    def arg(self, i):
        return int(self.args[i], 16)


# A call or a return in WINEDEBUG=+pid,+relay: process, thread, which, the dll,
# the function, its arguments or its return value, and the caller's address.
_ENTRY = re.compile(r"^([0-9a-f]+):([0-9a-f]+):(Call|Ret ) (\w+)\.(\w+)\((.*)\)"
                    r"(?: retval=([0-9a-f]+))? ret=([0-9a-f]+)$")
_ARG = re.compile(r'([0-9a-f]+)(?: L?"((?:[^"\\]|\\.)*)")?(?:,|$)')

# What the program calls to guard and bound the steps, not the steps' own
# work: the end-session window's thread, and the lock's security descriptor.
PLUMBING = {
    "RegisterClassA", "CreateWindowExA", "GetMessageA", "DispatchMessageA", "DefWindowProcA",
    "InitializeSid", "GetSidSubAuthority", "InitializeAcl", "AddAccessAllowedAce",
    "InitializeSecurityDescriptor", "SetSecurityDescriptorDacl",
}


def own_calls_by_thread(trace_path, exe, dlls=None):
    """The calls into dlls (all of them when None) made from the program's
    own image, in order, each as (thread, call), with their return values.
    Only the first process counts: one it starts (Wine's desktop, when no
    window has needed it yet) inherits the trace and may load its image at
    the same address."""
    header = pefile.PE(exe, fast_load=True).OPTIONAL_HEADER
    low, high = header.ImageBase, header.ImageBase + header.SizeOfImage
    calls, pending, process = [], {}, None  # pending: by thread
    with open(trace_path, "r", errors="replace") as f:
        for line in f:
            m = _ENTRY.match(line.rstrip("\n"))
            if not m or m.group(1) != (process := process or m.group(1)):
                continue
            _, thread, which, dll, function, raw, retval, ret = m.groups()
            if (dlls is not None and dll not in dlls) or not low <= int(ret, 16) < high:
                continue
            stack = pending.setdefault(thread, [])
            if which == "Call":
                call = Call(function)
                for i, am in enumerate(_ARG.finditer(raw)):
                    call.args.append(am.group(1))
                    if am.group(2) is not None:
                        call.strings[i] = re.sub(r"\\(.)", r"\1", am.group(2))
                calls.append((thread, call))
                stack.append(call)
            elif stack and stack[-1].function == function:
                stack.pop().retval = int(retval, 16)
    return calls


def own_calls(trace_path, exe, dlls=("advapi32", "user32")):
    """The calls into dlls made from the program's own image, in order, with
    their return values, leaving out PLUMBING. The steps' calls that wait on
    windows are made on worker threads, one at a time."""
    return [call for _, call in own_calls_by_thread(trace_path, exe, dlls)
            if call.function not in PLUMBING]


# The calls that end a process or a thread, the C runtime's among them:
# kernel32's, and msvcrt's exit and its kin, which end through ExitProcess.
ENDING_CALLS = {"TerminateProcess", "ExitProcess", "ExitThread", "FatalExit", "FatalAppExitA",
                "exit", "_exit", "_cexit", "_c_exit", "abort", "_amsg_exit", "quick_exit"}


def endings(trace_path, exe):
    """How a traced run ended, judged on the threads that ended it: each own
    call that ends the process or a thread, as (function, arguments, the
    functions its thread called after it). Other threads keep running until
    the process is gone, so what they call after it says nothing."""
    calls = own_calls_by_thread(trace_path, exe)
    found = []
    for i, (thread, call) in enumerate(calls):
        if call.function in ENDING_CALLS:
            after = [c.function for t, c in calls[i + 1:] if t == thread]
            found.append((call.function, [call.arg(a) for a in range(len(call.args))], after))
    return found


ADDR_NO_RANDOMIZE = 0x0040000  # <linux/personality.h>


def fixed_address_layout():
    """Every process this one starts from now on, Wine's among them, gets
    Linux's fixed address layout (personality ADDR_NO_RANDOMIZE) instead of
    a randomised one. Debian's wine64 loader sits at 0x7D000000 with no
    preloader, and Linux places a 64-bit program's heap anywhere in about
    1 GiB above it (0x8BF8C000 to 0xBBD17000 in five starts here): about
    once in 5,000 starts it covers 0x7FFE0000, where Wine maps the shared
    user data, and the process ends with status 1 before the program runs
    ("failed to map the shared user data: c0000018"; seen here in 2 of 14
    whole runs of the stand-in's suite, once as plenvor.exe's own status).
    In the fixed layout the heap starts at 0x7D005000 every time. wine32's
    loader is not at risk: a 32-bit heap moves 32 MiB at most."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.personality.restype = ctypes.c_int
    current = libc.personality(ctypes.c_ulong(0xFFFFFFFF))  # reads it
    assert current != -1 and libc.personality(ctypes.c_ulong(current | ADDR_NO_RANDOMIZE)) != -1


def booted_prefix(env):
    """A prefix that this Wine has booted (wineboot -i) and whose server has
    ended, kept under build/ for every later session to copy: its folder.
    The first session to ask boots it, on its own display (Wine decides at
    its first start whether windows can exist); the others wait for it."""
    version = subprocess.run([WINE, "--version"], capture_output=True, text=True,
                             check=True).stdout.strip()
    # The loaders installed decide the kind of prefix: with wine64 beside
    # wine32, wine32 boots a 64-bit prefix that runs 32-bit programs too.
    loaders = [name for name in ("wine", "wine64") if os.path.exists("/usr/lib/wine/" + name)]
    folder = os.path.join(ROOT, "build", "wine-prefixes", re.sub(
        r"[^\w.+-]+", "_", "-".join([os.path.basename(WINE), *loaders, version])))
    os.makedirs(os.path.dirname(folder), exist_ok=True)
    with open(folder + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.isdir(folder):
            booting = dict(env, WINEPREFIX=folder + ".booting")
            shutil.rmtree(booting["WINEPREFIX"], ignore_errors=True)
            subprocess.run([WINE, "wineboot", "-i"], env=booting, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-k"], env=booting, timeout=60)
            subprocess.run(["wineserver", "-w"], env=booting, check=True, timeout=120)
            os.rename(booting["WINEPREFIX"], folder)
    return folder


@dataclass
class Run:
    status: int
    stdout: bytes
    trace: list = None           # own calls, when traced
    seconds: float = 0.0
    trace_file: str = None       # the whole relay trace, when traced


class Wine:
    """One Xvfb display and one booted prefix, shared by a test session."""

    def __init__(self, exe, helper):
        self.exe = exe
        self.helper = helper
        self.dir = tempfile.mkdtemp(prefix="plenvor-wine-")
        self.xvfb = None
        self.env = dict(os.environ)

    def start(self):
        self.start_display()
        self.env["WINEPREFIX"] = os.path.join(self.dir, "prefix")
        # A copy of a prefix booted once for this Wine: each boot takes a
        # core for about 20 s, and every session would otherwise make the
        # same one. The boot's own services run under a server of their own.
        # While they run, the Task Scheduler's service cannot start ("Service
        # database locked", then schtasks' 0x80041315), and the package's task
        # actions need it: so that server is let go first. Then a persistent
        # server keeps every later process start fast; its first process
        # starts the services anew.
        subprocess.run(["cp", "-a", booted_prefix(self.env), self.env["WINEPREFIX"]], check=True)
        self.restart_server()
        # No window manager runs on the display: Wine then draws the captions
        # itself, in the system colours.
        self.apply([("set", "HKCU", r"Software\Wine\X11 Driver", "Decorated", REG_SZ,
                     b"N".hex())])

    def start_display(self):
        fixed_address_layout()
        # Wine decides at its first start whether windows can exist: the
        # display must be there before wineboot. Without -noreset, Xvfb
        # starts itself anew whenever its last client leaves, and a client
        # that connects meanwhile (a reading of the screen between two runs)
        # is turned away.
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        assert display, "Xvfb did not start"
        self.env.update(DISPLAY=":" + display, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def restart_server(self):
        """Ends every process of the prefix and its server, waits until the
        server is gone, and starts a persistent one; the next process starts
        the prefix's services again, with what the registry then says."""
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env, check=True, timeout=120)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)
        # The first process waits for that start: it is given its own time.
        subprocess.run([WINE, "wineboot"], env=self.env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def stop(self):
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            if self.xvfb:
                self.xvfb.terminate()
                self.xvfb.wait(timeout=10)
            shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def unix_path(self, windows):
        """Where a path on the prefix's drive C: ("C:\\windows\\...") is here."""
        drive, _, rest = windows.partition(":")
        assert drive.upper() == "C", windows
        return os.path.join(self.env["WINEPREFIX"], "drive_c", *filter(None, rest.split("\\")))

    def start_plenvor(self, args=(), relay=False, name="run", exe=None, stdout=None):
        """Starts the program with stdout and stderr going to files NAME.stdout
        and NAME.stderr (stdout to the file descriptor stdout, when given): a
        pipe on stderr was seen to spoil the colours a run applied."""
        env = dict(self.env, WINEDEBUG="+pid,+relay" if relay else "-all")
        with open(self.path(name + ".stdout"), "wb") as o, \
                open(self.path(name + ".stderr"), "wb") as e:
            proc = subprocess.Popen([WINE, exe or self.exe, *args], env=env,
                                    stdout=o if stdout is None else stdout, stderr=e,
                                    stdin=subprocess.DEVNULL)
        proc.started, proc.relay, proc.name = time.monotonic(), relay, name
        return proc

    def printed(self, proc):
        """What a started run has written to its stdout so far."""
        with open(self.path(proc.name + ".stdout"), "rb") as o:
            return o.read()

    def finish_plenvor(self, proc, timeout=120):
        status = proc.wait(timeout=timeout)
        seconds = time.monotonic() - proc.started
        trace_file = self.path(proc.name + ".stderr") if proc.relay else None
        trace = own_calls(trace_file, self.exe) if proc.relay else None
        return Run(status, self.printed(proc), trace, seconds, trace_file)

    def run_plenvor(self, args=(), relay=False, timeout=120, exe=None):
        return self.finish_plenvor(self.start_plenvor(args, relay, exe=exe), timeout)

    @property
    def current_process(self):
        """GetCurrentProcess()'s pseudo-handle, (HANDLE)-1, at the width of the
        program's pointers: what its own TerminateProcess call passes."""
        magic = pefile.PE(self.exe, fast_load=True).OPTIONAL_HEADER.Magic
        return 0xFFFFFFFF if magic == 0x10B else 0xFFFFFFFFFFFFFFFF

    def endings(self, run):
        """A traced run's own calls that ended it (see endings())."""
        return endings(run.trace_file, self.exe)

    def terminated(self, status):
        """The endings of a run that the program ended itself: one
        TerminateProcess(GetCurrentProcess(), status), its thread's last own
        call, and no ExitProcess or C runtime exit on any thread."""
        return [("TerminateProcess", [self.current_process, status], [])]

    def reg(self, *commands):
        """Runs helper registry commands (tuples of fields); one answer each."""
        lines = "".join("\t".join(str(f) for f in c) + "\n" for c in commands)
        done = subprocess.run([WINE, self.helper, "reg"], env=self.env, input=lines.encode(),
                              capture_output=True, timeout=60, check=True)
        answers = done.stdout.decode().replace("\r\n", "\n").splitlines()
        assert len(answers) == len(commands), answers
        return answers

    def get_raw(self, root, path, name):
        """(type, bytes) exactly as stored, or None."""
        answer = self.reg(("get", root, path, name))[0]
        if answer == "missing":
            return None
        type_, _, hexdata = answer.partition(" ")
        return int(type_), bytes.fromhex(hexdata)

    @staticmethod
    def icon_size_commands(data, type_=REG_SZ, name=ICON_SIZE):
        return [("delkey", "HKU", WINDOW_METRICS),
                ("set", "HKU", WINDOW_METRICS, name, type_, data.hex())]

    @staticmethod
    def scheme_commands(texts):
        commands = [("delkey", "HKCU", COLORS)]
        for name, text in zip(COLOR_NAMES, texts):
            if text is not None:
                commands.append(("set", "HKCU", COLORS, name, REG_SZ,
                                 text.encode("latin-1").hex()))
        return commands

    def set_icon_size(self, data, type_=REG_SZ, name=ICON_SIZE):
        """A fresh WindowMetrics key holding only one value: name, by default
        "Shell Icon Size"."""
        self.apply(self.icon_size_commands(data, type_, name))

    def icon_size(self):
        return self.get_raw("HKU", WINDOW_METRICS, ICON_SIZE)

    def icon_text(self):
        """The stored size as REG_SZ text. Wine's RegSetValueExA keeps the NUL
        that follows the bytes it is given (as Windows does): one may end it."""
        raw = self.icon_size()
        assert raw is not None and raw[0] == REG_SZ, raw
        return raw[1][:-1] if raw[1].endswith(b"\0") else raw[1]

    def set_scheme(self, texts):
        """A fresh colours key; texts[i] is row i's REG_SZ text, None leaves it out."""
        self.apply(self.scheme_commands(texts))

    def apply(self, commands):
        answers = self.reg(*commands)
        assert all(a == "ok" for a in answers), answers

    def sys_colors(self):
        return [int(c, 16) for c in self.reg(("syscolors",))[0].split()]

    @contextmanager
    def _window(self, mode, *files, words=(), tag=""):
        ready, stop = self.path(mode + tag + ".ready"), self.path(mode + tag + ".stop")
        for f in (ready, stop):
            if os.path.exists(f):
                os.remove(f)
        proc = subprocess.Popen(
            [WINE, self.helper, mode, *words, *[windows_path(f) for f in files],
             windows_path(ready), windows_path(stop)],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        try:
            wait_until(lambda: os.path.exists(ready), proc, f"the {mode} window was ready", 30)
            yield proc
        finally:
            open(stop, "w").close()
            try:
                proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                proc.send_signal(signal.SIGKILL)
                proc.wait()

    @contextmanager
    def listener(self):
        """A top-level window in its own process; yields a function that
        returns the lines it logged so far."""
        log = self.path("listener.log")
        with self._window("listen", log, words=(WINDOW_METRICS, ICON_SIZE)):
            def lines():
                with open(log) as f:
                    return f.read().splitlines()
            yield lines

    @contextmanager
    def sample_window(self):
        """A visible window that Wine's user32 draws in the system colours,
        with a swatch of each display element. Yields (window box, {element:
        swatch box}) in screen pixels, boxes as (left, top, right, bottom)."""
        layout = self.path("sample.layout")
        with self._window("sample", os.path.join(DATA, "color_names.txt"), layout):
            with open(layout) as f:  # "window L T R B", then "swatch I L T R B" lines
                boxes = {row[0] if row[0] == "window" else int(row[1]):
                         tuple(int(v) for v in row[-4:]) for row in map(str.split, f)}
            time.sleep(0.5)  # let the X server finish what the window drew
            yield boxes.pop("window"), boxes

    def grab(self, box):
        """The screen's pixels inside box, as a Pillow image."""
        from PIL import ImageGrab  # only the picture tests and the demo need Pillow
        return ImageGrab.grab(bbox=box, xdisplay=self.env["DISPLAY"]).convert("RGB")

    @contextmanager
    def slow_windows(self, count, ms):
        """count hidden top-level windows, each in its own process, that
        answer but take ms over each WM_SETTINGCHANGE. Yields a function that
        ends them at once."""
        with ExitStack() as stack:
            procs = [stack.enter_context(self._window("slow", words=(str(ms),), tag=str(i)))
                     for i in range(count)]

            def end_them():
                for proc in procs:
                    proc.send_signal(signal.SIGKILL)
            yield end_them

    @contextmanager
    def event_holding(self, name):
        """An event object that holds name, in a process of its own."""
        with self._window("hold-event", words=(name,)):
            yield

    def console_event(self, event):
        """Delivers console control event (0 Ctrl-C, 1 Ctrl-Break, 2 the
        console closed) to each running copy of the program as Windows does
        (see the helper's console-event): how many it reached."""
        done = subprocess.run([WINE, self.helper, "console-event", str(event),
                               os.path.basename(self.exe)], env=self.env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=60, check=True)
        return int(done.stdout.decode().split()[-1])

    def watch_windows(self):
        """Starts watching, as Windows sees them, the top-level windows of the
        next run of the program until it ends (see the helper's
        watch-windows). Returns a function that waits for the end: (the
        windows it had, how many of them were ever visible)."""
        proc = subprocess.Popen([WINE, self.helper, "watch-windows", os.path.basename(self.exe)],
                                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        return lambda: tuple(int(n) for n in
                             proc.communicate(timeout=120)[0].decode().split()[1::2])

    @contextmanager
    def lock_held(self):
        """The lock held, as by another run, in a process of its own."""
        with self._window("hold-lock", words=(ICON_SIZE_LOCK,)):
            yield

    def end_session(self, lparam, cancelled=False):
        """Ends each running copy of the program the way Windows does at logoff
        (lparam ENDSESSION_LOGOFF) or shutdown (0), or tells it that the end
        was cancelled, once it has a top-level window. Returns (windows,
        agreed, ended) for each process: its top-level windows, how many of
        them answered WM_QUERYENDSESSION with TRUE, and the milliseconds it
        took to end by itself after the messages (-1: it was ended, with
        status 0xDEAD, or left to run)."""
        done = subprocess.run([WINE, self.helper, "endsession", os.path.basename(self.exe),
                               hex(lparam), *(["cancel"] if cancelled else [])], env=self.env,
                              capture_output=True, stdin=subprocess.DEVNULL, timeout=60, check=True)
        return [tuple(int(f) for f in line.split()[1::2])
                for line in done.stdout.decode().splitlines()]

    def take_lock(self, wait_ms):
        """Takes the lock as another run would, waiting up to wait_ms (well under
        the 60 s a reg call may take): (the wait's result, or "error N"; the DACL
        in SDDL)."""
        answer = self.reg(("lock", ICON_SIZE_LOCK, wait_ms))[0]
        if answer.startswith("error"):
            return answer, ""
        wait, _, dacl = answer.partition(" ")
        return int(wait, 16), dacl

    def spawn(self, exe, flags=0):
        """Starts exe as a windowed program does (see the helper's spawn) with
        these process creation flags, in the background: a process whose
        wait() ends with it, and whose result() is the child's exit status
        (or "error N")."""
        proc = subprocess.Popen([WINE, self.helper, "spawn", hex(flags), windows_path(exe)],
                                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        proc.result = lambda: proc.communicate(timeout=120)[0].decode().strip()
        return proc

    def viewable_windows(self):
        """The X windows now mapped and viewable on the display, by id: what a
        person would see. Wine's hidden windows are unmapped X windows."""
        # xwininfo lists the root's children, then asks about each; one that
        # closes in between ("Bad Window") fails the whole listing. Closed,
        # it is not on the screen: read the screen again.
        for _ in range(50):
            listing = subprocess.run(["xwininfo", "-root", "-tree", "-display",
                                      self.env["DISPLAY"]], capture_output=True, text=True)
            if listing.returncode == 0 or not re.search(r"Bad (Window|Drawable)",
                                                        listing.stderr):
                break
        listing.check_returncode()
        tree = listing.stdout
        viewable = {}
        for window, name in re.findall(r"^\s+(0x[0-9a-f]+) (.*)$", tree, re.M):
            info = subprocess.run(["xwininfo", "-id", window, "-display", self.env["DISPLAY"]],
                                  capture_output=True, text=True).stdout
            if "Map State: IsViewable" in info:
                viewable[window] = name
        return viewable

    def windows_appearing_during(self, start):
        """Calls start() for a process and polls the display until it ends:
        (the process, the viewable windows that were not there before)."""
        before, appeared = self.viewable_windows(), {}
        proc = start()
        while proc.poll() is None:
            appeared.update({w: n for w, n in self.viewable_windows().items() if w not in before})
        return proc, appeared

    @contextmanager
    def hung_window(self, visible=False):
        """A top-level window that never answers. A visible one also holds
        the colour change, which repaints every visible window."""
        with self._window("hang-visible" if visible else "hang"):
            yield


if __name__ == "__main__":
    # "winetools.py prefix": boots the kept prefix ahead of the sessions that
    # copy it (scripts/test, while the builds run).
    import sys
    assert sys.argv[1:] == ["prefix"], "usage: winetools.py prefix"
    display = Wine(None, None)
    try:
        display.start_display()
        booted_prefix(display.env)
    finally:
        if display.xvfb:
            display.xvfb.terminate()
            display.xvfb.wait(timeout=10)
        shutil.rmtree(display.dir, ignore_errors=True)
