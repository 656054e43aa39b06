"""The real program starts, prints its banner and makes its own calls."""

from winetools import BANNER


def test_banner_bytes_with_crlf_line_ends(wine):
    run = wine.run_plenvor()
    assert run.stdout.startswith(BANNER)


def test_cursor_then_wallpaper_request_from_the_program_itself(wine):
    run = wine.run_plenvor(relay=True)
    spi = [c for c in run.trace if c.function == "SystemParametersInfoA"]
    assert [[c.arg(i) for i in range(4)] for c in spi] == [[0x57, 0, 0, 2], [0x14, 0, 0, 2]]
