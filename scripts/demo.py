"""The demo behind scripts/demo: one run of the real program under Wine."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))

from winetools import Wine  # noqa: E402


def main():
    wine = Wine(os.path.join(ROOT, "build/mingw-i686/plenvor.exe"),
                os.path.join(ROOT, "build/mingw-i686/plenvor_helper.exe"))
    print("Starting a throwaway Wine prefix (about 15 s)...", flush=True)
    try:
        wine.start()
        run = wine.run_plenvor()
        print("\n== What plenvor.exe printed ==")
        sys.stdout.write(run.stdout.decode("latin-1").replace("\r\n", "\n"))
        print(f"== Exit status: {run.status} ==")
    finally:
        wine.stop()
        print("\nThe throwaway prefix was removed.")


if __name__ == "__main__":
    main()
