"""The cases and names in this folder, as the Wine suite and the model read
them. `testdata.py seeds DIR` writes the case texts as seed inputs for the
fuzz targets; `testdata.py cpp FILE VERSION` writes them as C++ initialisers
for the unit tests."""

import os
import re
import sys

DATA = os.path.dirname(os.path.abspath(__file__))
_ESCAPES = {"t": b"\t", "n": b"\n", "v": b"\v", "f": b"\f", "r": b"\r", "0": b"\0", "\\": b"\\"}


def _unescape(field):
    return re.sub(rb"\\(x[0-9a-fA-F]{2}|.)",
                  lambda m: bytes([int(m.group(1)[1:], 16)]) if m.group(1)[:1] == b"x"
                  else _ESCAPES[m.group(1).decode()], field)


def _lines(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return [line for line in f.read().split(b"\n") if line and not line.startswith(b"#")]


def rows(name):
    """Each row of a tab-separated file as a list of byte strings, escapes undone."""
    return [[_unescape(field) for field in line.split(b"\t")] for line in _lines(name)]


# (type, bytes, number the text converts to, text a run stores back)
ICON_SIZES = [(int(t), b, int(n), s) for t, b, n, s in rows("icon_sizes.tsv")]
# (text, colour after a row of "1 2 3", components parsed)
COLOR_TEXTS = [(t, int(c, 16), int(p)) for t, c, p in rows("color_texts.tsv")]
COLOR_NAMES = [line.decode() for line in _lines("color_names.txt")]
FACTS = {k.decode(): v.decode() for k, v in rows("facts.tsv")}


def banner(version):
    """What a run prints first, as Windows' text stream writes it."""
    return b"".join(line.replace(b"@VERSION@", version.encode()) + b"\r\n"
                    for line in _lines("banner.txt"))


def write_seeds(folder):
    for target, texts in (("fuzz_size_text", [b for _, b, _, _ in ICON_SIZES]),
                          ("fuzz_color_text", [t for t, _, _ in COLOR_TEXTS])):
        os.makedirs(os.path.join(folder, target), exist_ok=True)
        for i, text in enumerate(texts):
            with open(os.path.join(folder, target, f"case{i}"), "wb") as f:
                f.write(text)


def write_cpp(path, version):
    def text(data):
        return 'std::string("' + "".join(f"\\x{c:02x}" for c in data) + f'", {len(data)})'

    def table(name, rows):
        return f"inline const {name} = {{\n" + "".join(f"    {{{row}}},\n" for row in rows) + "};\n"
    with open(path, "w") as f:
        f.write("// Made by tests/data/testdata.py from tests/data: edit those, not this.\n")
        f.write(table("std::vector<IconSizeCase> kIconSizes", (
            f"{t}, {text(b)}, {n}, {text(s)}" for t, b, n, s in ICON_SIZES)))
        f.write(table("std::vector<ColorTextCase> kColorTexts", (
            f"{text(t)}, 0x{c:08X}U, {p}" for t, c, p in COLOR_TEXTS)))
        f.write(table("std::vector<std::string> kColorNames", (
            text(n.encode()) for n in COLOR_NAMES)))
        f.write(table("std::vector<std::string> kBannerLines", (
            text(line + b"\n") for line in banner(version).split(b"\r\n")[:-1])))
        f.write(table("std::map<std::string, std::string> kFacts", (
            f"{text(k.encode())}, {text(v.encode())}" for k, v in FACTS.items())))


if __name__ == "__main__":
    if sys.argv[1:2] == ["seeds"]:
        write_seeds(sys.argv[2])
    else:
        assert sys.argv[1:2] == ["cpp"], "usage: testdata.py seeds DIR | cpp FILE VERSION"
        write_cpp(sys.argv[2], sys.argv[3])
