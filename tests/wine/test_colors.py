"""The colour step on the real registry and the real SetSysColors."""

import os

from model import scheme_run
from testdata import COLOR_TEXTS
from winetools import BANNER, COLOR_NAMES

# The colour cases as a scheme, the first row first.
SCHEME = [text.decode("latin-1") for text, _, _ in COLOR_TEXTS[:25]]


def assert_scheme_applied(wine):
    _, expected = scheme_run(SCHEME)
    after = wine.sys_colors()
    # Only the low 24 bits of a system colour survive between processes.
    assert {e: after[e] & 0xFFFFFF for e in expected} == \
        {e: c & 0xFFFFFF for e, c in expected.items()}


def test_a_visible_window_that_never_answers_does_not_hold_the_run(wine):
    # It holds the colour change for good; the run gives up on it and says so.
    wine.set_scheme(SCHEME)
    with wine.hung_window(visible=True):
        run = wine.run_plenvor(relay=True, timeout=90)
    print(f"run with a visible hung window took {run.seconds:.1f} s")
    assert (run.status, run.stdout) == (3, BANNER)
    # The colour change still runs inside user32 on its worker: the run ends
    # through TerminateProcess, not ExitProcess, whose documentation warns of
    # DLL detach with other threads stopped wherever they stood.
    assert wine.endings(run) == wine.terminated(3)
    assert_scheme_applied(wine)
    assert wine.icon_text() == b"48"


def test_swatches_drawn_after_a_run_show_the_colours_as_parsed(wine):
    # Red in octal and green in hexadecimal, which Wine's own loading of the
    # scheme reads differently: a swatch in the parsed colour can only have
    # come from the program.
    scheme = [f"0{8 + 9 * e:o} 0x{16 + 9 * e:x} {250 - 9 * e}" for e in range(25)]
    wine.set_scheme(scheme)
    wines_own = wine.sys_colors()
    wine.run_plenvor()
    _, expected = scheme_run(scheme)
    with wine.sample_window() as (window, swatches):
        shot = wine.grab(window)
    wrong = {}
    for element, (left, top, right, bottom) in swatches.items():
        colour = expected[element] & 0xFFFFFF
        assert wines_own[element] & 0xFFFFFF != colour, COLOR_NAMES[element]
        want = (colour & 0xFF, (colour >> 8) & 0xFF, colour >> 16)
        box = (left - window[0], top - window[1], right - window[0], bottom - window[1])
        seen = {rgb for _, rgb in shot.crop(box).getcolors(maxcolors=1 << 16)}
        if seen != {want}:
            wrong[COLOR_NAMES[element]] = (want, sorted(seen)[:3])
    if wrong:
        path = os.path.join(os.environ.get("PLENVOR_BUILD", wine.dir), "swatches-grab.png")
        shot.save(path)
        raise AssertionError(f"swatches in the wrong colour (grab: {path}): {wrong}")
