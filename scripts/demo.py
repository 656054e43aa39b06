"""The demo behind scripts/demo: one run of the real program under Wine."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
sys.path.insert(0, os.path.join(ROOT, "tests", "data"))

from winetools import BUILD, COLOR_NAMES, Wine  # noqa: E402

SAMPLE_ICON_SIZE = b"48"
# A sample scheme of our own, as a user's appearance settings would store it.
SAMPLE_SCHEME = [
    "200 208 216", "58 110 165", "10 36 106", "128 128 128", "212 208 200",
    "255 255 255", "0 0 0", "0 0 0", "0 0 0", "255 255 255", "212 208 200",
    "212 208 200", "128 128 128", "10 36 106", "255 255 255", "212 208 200",
    "128 128 128", "128 128 128", "0 0 0", "212 208 200", "255 255 255",
    "64 64 64", "212 208 200", "0 0 0", "255 255 225",
]


def rgb(color):
    return f"{color & 0xFF:3d} {(color >> 8) & 0xFF:3d} {(color >> 16) & 0xFF:3d}"


def shown(data):
    """A stored text as a person reads it; Wine's registry keeps a NUL after it."""
    text, nul, rest = data.partition(b"\0")
    return repr(text.decode("latin-1")) + (" + NUL" if nul else "") + \
        (" + " + repr(rest.decode("latin-1")) if rest else "")


def text_of(raw):
    return "(missing)" if raw is None else shown(raw[1])


PICTURE = os.path.join(ROOT, "build", "demo", "plenvor-colours.png")


def grab_sample(wine):
    """The sample window, drawn by Wine in the system colours of the moment."""
    with wine.sample_window() as (window, _):
        return wine.grab(window)


def side_by_side(before, after, path):
    from PIL import Image, ImageDraw, ImageFont
    try:
        font = ImageFont.truetype("DejaVuSans-Bold.ttf", 18)
    except OSError:
        font = ImageFont.load_default()
    gap, band = 24, 40
    picture = Image.new("RGB", (before.width + gap + after.width,
                                band + max(before.height, after.height)), "white")
    draw = ImageDraw.Draw(picture)
    for x, image, label in ((0, before, "Before: the desktop's colours"),
                            (before.width + gap, after,
                             "After plenvor.exe: the stored scheme applied")):
        draw.text((x + 4, 10), label, fill="black", font=font)
        picture.paste(image, (x, band))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    picture.save(path, optimize=True)


def main():
    wine = Wine(os.path.join(BUILD, "plenvor.exe"), os.path.join(BUILD, "plenvor_helper.exe"))
    print("Starting a throwaway copy of the booted Wine prefix...", flush=True)
    try:
        wine.start()
        wine.set_icon_size(SAMPLE_ICON_SIZE)
        colors_before = wine.sys_colors()
        picture_before = grab_sample(wine)
        wine.set_scheme(SAMPLE_SCHEME)
        size_before = wine.icon_size()

        with wine.listener() as heard:
            run = wine.run_plenvor()
            received = heard()

        size_after = wine.icon_size()
        colors_after = wine.sys_colors()
        # Under Wine a window already open keeps the colours it started with:
        # the "after" picture is of a window opened after the run.
        side_by_side(picture_before, grab_sample(wine), PICTURE)

        print("\n== What plenvor.exe printed ==")
        sys.stdout.write(run.stdout.decode("latin-1").replace("\r\n", "\n"))
        print(f"== Exit status: {run.status} ==")

        print("\n== \"Shell Icon Size\" under HKEY_USERS\\.Default\\Control Panel\\desktop\\WindowMetrics ==")
        print(f"  before: {text_of(size_before)}   after: {text_of(size_after)}")

        print("\n== Display colours (R G B): the desktop's before the scheme was stored, the scheme, the desktop's after the run ==")
        for i, name in enumerate(COLOR_NAMES):
            changed = "" if colors_before[i] == colors_after[i] else "  *"
            print(f"  {i:2d} {name:<18} {rgb(colors_before[i])}   "
                  f"{SAMPLE_SCHEME[i]:<12}   {rgb(colors_after[i])}{changed}")

        print("\n== What a listening top-level window received, in order ==")
        for line in received:
            parts = line.split(" ", 3)
            if parts[0] == "settingchange":
                seen = "(missing)" if parts[2] == "missing" else shown(bytes.fromhex(parts[3]))
                print(f"  WM_SETTINGCHANGE wParam=0x{parts[1]}  \"Shell Icon Size\" then: {seen}")
            else:
                print("  WM_SYSCOLORCHANGE")
        print(f"\n== The sample window before and after, as Wine drew it: {PICTURE} ==")
    finally:
        wine.stop()
        print("\nThe throwaway prefix was removed.")


if __name__ == "__main__":
    main()
