"""What a run should do, worked out independently of the program's code: the
size-text conversion, the colour-text parse and the reads that the carried
room implies. The Wine tests compare the real program against it."""

import re

from testdata import FACTS

REG_SZ = 1
MAX_DATA = int(FACTS["room"])
MIN_SIZE, MAX_SIZE = int(FACTS["min_size"]), int(FACTS["max_size"])
FALLBACK = FACTS["fallback_size"].encode()
# White space, one optional sign, then the digits: decimal ones for the size;
# for a colour component, as %i reads them, "0x" and hexadecimal ones, a "0"
# and octal ones, or decimal ones.
_SIZE = re.compile(rb"[ \t\n\v\f\r]*([+-]?)([0-9]*)")
_COMPONENT = re.compile(
    rb"[ \t\n\v\f\r]*([+-]?)(?:0[xX]([0-9a-fA-F]+)|(0(?![xX])[0-7]*)|([1-9][0-9]*))")


def wrap32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def _signed(match, digits, base):
    return wrap32((-1 if match.group(1) == b"-" else 1) * int(digits or b"0", base))


def convert_size(text):
    m = _SIZE.match(text)
    return _signed(m, m.group(2), 10)


def size_after_run(value):
    """The text a run leaves in "Shell Icon Size", given (type, bytes) or None."""
    if value is None:
        return FALLBACK
    type_, data = value
    if type_ != REG_SZ or not 0 < len(data) <= MAX_DATA:
        return FALLBACK
    text = data.split(b"\0")[0]
    return text if MIN_SIZE <= convert_size(text) <= MAX_SIZE else FALLBACK


def parse_color(text, rgb):
    """Parses text as "%i %i %i" into the list rgb, keeping what is not reached.
    Returns how many components it read."""
    text, i = text.split(b"\0")[0], 0
    for k in range(3):
        m = _COMPONENT.match(text, i)
        if m is None:
            return k
        hexadecimal, octal, decimal = m.group(2, 3, 4)
        rgb[k] = _signed(m, *((hexadecimal, 16) if hexadecimal else (octal, 8) if octal else
                              (decimal, 10)))
        i = m.end()
    return 3


def compose(r, g, b):
    return ((b * 256 + g) * 256 + r) & 0xFFFFFFFF


def scheme_run(texts):
    """colour_run of a scheme given as REG_SZ texts, None for a missing row."""
    return colour_run([None if t is None else (REG_SZ, t.encode("latin-1")) for t in texts])


def colour_run(values):
    """Given the 25 rows as (type, bytes) or None, returns (reads, colours):
    the value index of every read in order, and {element: colour} applied."""
    room, rgb = MAX_DATA, [0, 0, 0]
    reads, colours = [], {}
    for element, value in enumerate(values):
        ok = False
        for _ in range(2):
            room = min(room, MAX_DATA)
            reads.append(element)
            if value is None:
                continue  # count untouched
            size = len(value[1])
            if size > room:
                room = size
                continue
            room, ok = size, True
            break
        if ok:
            parse_color(value[1][:MAX_DATA], rgb)
            colours[element] = compose(*rgb)
    return reads, colours
