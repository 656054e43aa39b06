"""Whole runs of the real program, read from the calls it makes, what it
prints, what a window receives and what the registry and the system colours
hold afterwards."""

from model import scheme_run, size_after_run
from testdata import COLOR_TEXTS, ICON_SIZES
from winetools import (BANNER, COLOR_NAMES, COLORS, ICON_SIZE, KEY_MISSING, PLAIN_SCHEME,
                       REG_SZ, WINDOW_METRICS)


# Arguments that are addresses (stack, image): they vary with the command line
# and say nothing about the program's choices. A null pointer the program must
# pass (the wallpaper path) is not among them.
POINTER_ARGS = {
    "RegOpenKeyExA": {4}, "RegQueryValueExA": {3, 4, 5}, "RegSetValueExA": {4},
    "SendMessageTimeoutA": {6}, "SetSysColors": {1, 2},
}


def signature(call):
    pointers = POINTER_ARGS.get(call.function, set())
    args = tuple(call.strings.get(i, "ptr" if i in pointers else call.arg(i))
                 for i in range(len(call.args)))
    return call.function, args


def expected_sequence(key, icon_text, scheme):
    ptr = "ptr"
    broadcast = ("SendMessageTimeoutA", (0xFFFF, 0x1A, 0x2E, 0, 2, 5000, ptr))
    calls = [
        ("RegOpenKeyExA", (0x80000003, WINDOW_METRICS, 0, 0xF003F, ptr)),
        ("RegQueryValueExA", (key, ICON_SIZE, 0, ptr, ptr, ptr)),
        ("RegSetValueExA", (key, ICON_SIZE, 0, REG_SZ, ptr, 1)),
        broadcast,
        ("RegSetValueExA", (key, ICON_SIZE, 0, REG_SZ, ptr, len(icon_text))),
        broadcast,
        ("RegCloseKey", (key,)),
        ("SystemParametersInfoA", (0x57, 0, 0, 2)),
        ("SystemParametersInfoA", (0x14, 0, 0, 2)),
        ("RegOpenKeyExA", (0x80000001, COLORS, 0, 0x20019, ptr)),
    ]
    reads, _ = scheme_run(scheme)
    calls += [("RegQueryValueExA", (key, COLOR_NAMES[i], 0, ptr, ptr, ptr)) for i in reads]
    calls += [("SetSysColors", (25, ptr, ptr)), ("RegCloseKey", (key,))]
    return calls


SCHEME = ["1 2 3", "10 20 30", "5 5 5", "100 100 100", "0x10 0x20 0x30"] + ["7 7 7"] * 20


def test_every_call_of_a_run_with_its_arguments(wine):
    wine.set_icon_size(b"48px\0")  # read as 5 bytes, stored back as the 4 of its text
    wine.set_scheme(SCHEME)
    run = wine.run_plenvor(relay=True)
    key = run.trace[1].arg(0)
    # The whole list: no other registry write, broadcast or request is made.
    assert [signature(c) for c in run.trace] == expected_sequence(key, b"48px", SCHEME)
    reads = [c for c in run.trace if c.function == "RegQueryValueExA"]
    # Too little room is answered with ERROR_MORE_DATA, then the repeat succeeds.
    assert [c.retval for c in reads[1:6]] == [0, 234, 0, 0, 234]
    assert run.status == 0 and run.stdout == BANNER


def test_arguments_change_nothing(wine):
    plain = wine.run_plenvor(relay=True)
    with_args = wine.run_plenvor(["/?", "--help", "foo", "bar baz", "*"], relay=True)
    assert with_args.stdout == plain.stdout == BANNER
    assert with_args.status == plain.status == 0
    assert [signature(c) for c in with_args.trace] == [signature(c) for c in plain.trace]


def test_missing_window_metrics_key(wine):
    wine.reg(("delkey", "HKU", WINDOW_METRICS))
    run = wine.run_plenvor(relay=True)
    assert (run.stdout, run.status) == (BANNER + KEY_MISSING, 1)
    # The open that fails, then the rest of the run: no store and no broadcast.
    expected = expected_sequence(run.trace[-1].arg(0), b"", PLAIN_SCHEME)
    assert [signature(c) for c in run.trace] == expected[:1] + expected[7:]
    assert wine.reg(("haskey", "HKU", WINDOW_METRICS)) == ["no"]


def test_what_a_window_receives_during_a_run(wine):
    wine.set_icon_size(b"040")
    wine.set_scheme(["60 70 80"] * 25)
    with wine.listener() as heard:
        wine.run_plenvor()
        lines = heard()
    icon = [line.split(" ") for line in lines if line.startswith("settingchange 2e ")]
    assert [bytes.fromhex(fields[3]).rstrip(b"\0") for fields in icon] == [b"0", b"040"]
    assert "syscolorchange" in lines
    assert lines.index("syscolorchange") > max(i for i, l in enumerate(lines)
                                               if l.startswith("settingchange 2e "))


def test_icon_size_after_a_run_matches_the_conversion(wine):
    # Every case, and a key with another value but not this one, which the run creates.
    for value in [(type_, data) for type_, data, _, _ in ICON_SIZES] + [None]:
        if value is None:
            wine.set_icon_size(b"-1125", name="IconSpacing")
        else:
            wine.set_icon_size(value[1], value[0])
        wine.run_plenvor()
        assert wine.icon_text() == size_after_run(value), value


def test_system_colours_after_a_run_match_the_parse(wine):
    # The colour cases that the smoke test's scheme leaves out, a row too long
    # to read and a missing one, then the first cases again.
    texts = [text.decode() for text, _, _ in COLOR_TEXTS]
    scheme = (texts[25:] + ["9" * 85, None] + texts)[:25]
    wine.set_scheme(scheme)
    before = wine.sys_colors()
    run = wine.run_plenvor(relay=True)
    after = wine.sys_colors()
    # One change, of the 23 rows read; the other two keep their colours.
    assert [c.arg(0) for c in run.trace if c.function == "SetSysColors"] == [23]
    _, colours = scheme_run(scheme)
    for element in range(25):
        expected = colours.get(element, before[element]) & 0xFFFFFF
        assert after[element] & 0xFFFFFF == expected, f"{COLOR_NAMES[element]}: {scheme}"
