#!/usr/bin/env python3
"""Runs one window test of zelvor by name, on a display of its own:

  gui_case.py CASE --program ZELVOR --close-request PROGRAM
              --alert-sample PROGRAM --suppressions FILE --artifacts DIR
              [--site-program ZELVOR_SITE] [--demo SCRIPT --build-tree DIR]

Exits 0 when the case passed, 1 when it failed, and 77 (skipped) when a tool
it needs is not installed. Screenshots of each phase go to DIR.
"""

import argparse
import os
import shutil
import sys

from checks import GuiTestFailure, GuiTestSkipped
import demo_cases
import measuring_cases
from scene import Scene
import window_cases

CASES = {**measuring_cases.CASES, **window_cases.CASES, **demo_cases.CASES}
TOOLS = ("Xvfb", "xdotool", "xwininfo", "xprop", "import")
SKIPPED = 77


def parse_options(arguments):
    parser = argparse.ArgumentParser(description="Runs one window test of zelvor.")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--close-request", required=True)
    parser.add_argument("--alert-sample", required=True)
    parser.add_argument("--suppressions", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--site-program", help="the real zelvor-site, for the end-to-end case")
    parser.add_argument("--demo", help="scripts/demo, for the demo's case")
    parser.add_argument("--build-tree", help="the build tree whose programs the demo runs")
    return parser.parse_args(arguments)


def main(arguments):
    options = parse_options(arguments)
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print(f"skipped: {', '.join(missing)} not installed (scripts/setup installs them)")
        return SKIPPED
    print(f"screenshots: {os.path.join(options.artifacts, options.case)}-*.png", flush=True)
    try:
        with Scene(options.case, options) as scene:
            CASES[options.case](scene)
    except GuiTestFailure as failure:
        print(f"FAILED {options.case}: {failure}")
        return 1
    except GuiTestSkipped as reason:
        print(f"skipped: {reason}")
        return SKIPPED
    print(f"passed {options.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
