"""The real program starts, prints its banner and makes its own calls. Also
run against the program that the second compiler builds."""

from test_colors import SCHEME, assert_scheme_applied
from test_icon_metrics import stored_text
from winetools import BANNER


def test_a_run_prints_the_banner_restores_the_size_and_applies_the_colours(wine):
    wine.set_icon_size(b"48")
    wine.set_scheme(SCHEME)
    run = wine.run_plenvor()
    assert (run.stdout, run.status) == (BANNER, 0)
    assert stored_text(wine.icon_size()) == b"48"
    assert_scheme_applied(wine)


def test_cursor_then_wallpaper_request_from_the_program_itself(wine):
    run = wine.run_plenvor(relay=True)
    spi = [c for c in run.trace if c.function == "SystemParametersInfoA"]
    assert [[c.arg(i) for i in range(4)] for c in spi] == [[0x57, 0, 0, 2], [0x14, 0, 0, 2]]
