"""The reference model agrees with the examples it is built from."""

from model import colour_run, compose, convert_size, parse_color, size_after_run


def test_model_examples():
    assert [convert_size(t) for t in (b" 48", b"+-5", b"040", b"4294967328")] == [48, 0, 40, 32]
    assert size_after_run((1, b"48\0zz")) == b"48"
    for text, colour in [(b"010 0x10 16", 0x00101008), (b"08 0 0", 0x800),
                         (b"1-2-3", 0xFFFCFE01), (b"064 064 064", 0x343434)]:
        rgb = [0, 0, 0]
        parse_color(text, rgb)
        assert compose(*rgb) == colour, text
    rgb = [1, 2, 3]
    parse_color(b"1 0x 2", rgb)
    assert rgb == [1, 2, 3]
    reads, colours = colour_run([(1, b"1 2 3"), (1, b"1 2 34"), None] + [(1, b"5")] * 22)
    assert reads[:5] == [0, 1, 1, 2, 2]
    assert 2 not in colours and colours[3] == compose(5, 2, 34)
