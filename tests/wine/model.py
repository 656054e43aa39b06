"""What a run should do, worked out independently of the program's code: the
size-text conversion, the colour-text parse and the reads that the carried
room implies. The Wine tests compare the real program against it."""

from testdata import FACTS

REG_SZ = 1
MAX_DATA = int(FACTS["room"])
MIN_SIZE, MAX_SIZE = int(FACTS["min_size"]), int(FACTS["max_size"])
FALLBACK = FACTS["fallback_size"].encode()
SPACE = b" \t\n\v\f\r"


def wrap32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def _space_and_sign(text, i):
    """Skips white space and one optional sign: (sign, next index)."""
    while i < len(text) and text[i] in SPACE:
        i += 1
    if i < len(text) and text[i] in b"+-":
        return (-1 if text[i] == ord("-") else 1), i + 1
    return 1, i


def convert_size(text):
    sign, i = _space_and_sign(text, 0)
    value = 0
    while i < len(text) and 48 <= text[i] <= 57:
        value = value * 10 + text[i] - 48
        i += 1
    return wrap32(sign * value)


def size_after_run(value):
    """The text a run leaves in "Shell Icon Size", given (type, bytes) or None."""
    if value is None:
        return FALLBACK
    type_, data = value
    if type_ != REG_SZ or not 0 < len(data) <= MAX_DATA:
        return FALLBACK
    text = data.split(b"\0")[0]
    return text if MIN_SIZE <= convert_size(text) <= MAX_SIZE else FALLBACK


def _scan_int(text, i):
    """One %i from index i: (value, next index), or None on a mismatch."""
    sign, i = _space_and_sign(text, i)
    digits = "0123456789"
    if text[i:i + 1] == b"0" and text[i + 1:i + 2] in (b"x", b"X"):
        if text[i + 2:i + 3].lower() not in [bytes([c]) for c in b"0123456789abcdef"]:
            return None
        i += 2
        base, digits = 16, "0123456789abcdef"
    elif text[i:i + 1] == b"0":
        base, digits = 8, "01234567"
    else:
        base = 10
    start, value = i, 0
    while i < len(text) and chr(text[i]).lower() in digits:
        value = value * base + int(chr(text[i]), 16)
        i += 1
    if i == start:
        return None
    return wrap32(sign * value), i


def parse_color(text, rgb):
    """Parses text as "%i %i %i" into the list rgb, keeping what is not reached.
    Returns how many components it read."""
    text = text.split(b"\0")[0]
    i = 0
    for k in range(3):
        scanned = _scan_int(text, i)
        if scanned is None:
            return k
        rgb[k], i = scanned
    return 3


def compose(r, g, b):
    return ((b * 256 + g) * 256 + r) & 0xFFFFFFFF


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
