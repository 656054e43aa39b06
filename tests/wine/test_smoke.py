"""A plain run of the real program: its banner, the size it leaves and the
colours it applies. The second compiler's build is checked with it too."""

from test_colors import SCHEME, assert_scheme_applied
from winetools import BANNER


def test_a_run_prints_the_banner_restores_the_size_and_applies_the_colours(wine):
    wine.set_scheme(SCHEME)
    run = wine.run_plenvor()
    assert (run.stdout, run.status) == (BANNER, 0)
    assert wine.icon_text() == b"48"
    assert_scheme_applied(wine)

