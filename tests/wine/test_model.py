"""The reference model agrees with the cases it is built from."""

from model import colour_run, compose, convert_size, parse_color, size_after_run
from testdata import COLOR_TEXTS, ICON_SIZES


def test_model_agrees_with_the_cases():
    for type_, data, number, stored in ICON_SIZES:
        assert (convert_size(data.split(b"\0")[0]), size_after_run((type_, data))) == \
            (number, stored), (type_, data)
    for text, colour, parsed in COLOR_TEXTS:
        rgb = [1, 2, 3]
        assert (parse_color(text, rgb), compose(*rgb)) == (parsed, colour), text
    reads, colours = colour_run([(1, b"1 2 3"), (1, b"1 2 34"), None] + [(1, b"5")] * 22)
    assert reads[:5] == [0, 1, 1, 2, 2]
    assert 2 not in colours and colours[3] == compose(5, 2, 34)
