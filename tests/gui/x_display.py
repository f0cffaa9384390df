"""A private X display (Xvfb) and what the tests ask of it: windows by name,
their place, size and properties, input through xdotool, and pictures.

There is no window manager: a window lies exactly where its program maps it,
without a frame, and nothing iconifies or closes windows but the tests.
"""

import os
import re
import select
import subprocess
import time

from checks import GuiTestFailure, wait_until

SCREEN = "800x600x24"
START_SECONDS = 15
STOP_SECONDS = 5
TOOL_SECONDS = 15


class WindowInfo:
    """What xwininfo says of one window."""

    def __init__(self, x, y, width, height):
        self.x, self.y, self.width, self.height = x, y, width, height


class Picture:
    """An RGB picture read from a binary PPM."""

    def __init__(self, ppm):
        fields = []
        position = 0
        while len(fields) < 4:
            match = re.compile(rb"\s*(#[^\n]*\n\s*)*(\S+)").match(ppm, position)
            if match is None:
                raise GuiTestFailure("the screenshot is not a PPM picture")
            fields.append(match.group(2))
            position = match.end()
        if fields[0] != b"P6" or fields[3] != b"255":
            raise GuiTestFailure("the screenshot is not an 8-bit PPM picture")
        self.width, self.height = int(fields[1]), int(fields[2])
        self._pixels = ppm[position + 1:]

    def __eq__(self, other):
        return (self.width, self.height, self._pixels) == (other.width, other.height,
                                                           other._pixels)

    def pixel(self, x, y):
        start = 3 * (y * self.width + x)
        return tuple(self._pixels[start:start + 3])

    def crop(self, left, top, width, height):
        """The rectangle's pixels, row by row, as bytes."""
        rows = (self._pixels[3 * (y * self.width + left):3 * (y * self.width + left + width)]
                for y in range(top, top + height))
        return b"".join(rows)

    def count(self, left, top, width, height, wanted):
        """How many pixels of the rectangle satisfy wanted((r, g, b))."""
        return sum(1 for y in range(top, top + height) for x in range(left, left + width)
                   if wanted(self.pixel(x, y)))


class VirtualDisplay:
    """Xvfb on a display number it picks itself, so parallel users never meet."""

    def __init__(self, log_path):
        self._log_path = log_path
        self._process = None
        self.name = None

    def start(self):
        reader, writer = os.pipe()
        try:
            with open(self._log_path, "wb") as log:
                self._process = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(writer), "-screen", "0", SCREEN,
                     "-nolisten", "tcp", "-noreset"],
                    pass_fds=(writer,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                    start_new_session=True)
            os.close(writer)
            writer = -1
            number = b""
            deadline = time.monotonic() + START_SECONDS
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([reader], [], [], left)[0]:
                    raise GuiTestFailure(f"Xvfb named no display within {START_SECONDS} s")
                chunk = os.read(reader, 16)
                if not chunk:
                    raise GuiTestFailure("Xvfb ended before it named its display")
                number += chunk
        finally:
            os.close(reader)
            if writer >= 0:
                os.close(writer)
        self.name = ":" + number.decode().strip()

    def stop(self):
        if self._process is None:
            return
        self._process.terminate()
        try:
            self._process.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
        self._process = None

    def environment(self):
        environment = dict(os.environ, DISPLAY=self.name)
        environment.pop("XAUTHORITY", None)
        return environment

    def _tool(self, *command, check=True):
        result = subprocess.run(command, env=self.environment(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=TOOL_SECONDS)
        if check and result.returncode != 0:
            raise GuiTestFailure(f"{' '.join(command)} failed ({result.returncode}): "
                                 f"{result.stderr.decode(errors='replace').strip()}")
        return result

    def xdotool(self, *arguments):
        return self._tool("xdotool", *arguments).stdout.decode()

    def run(self, *command):
        """Runs an X client of the tests' own on this display."""
        return self._tool(*command)

    def windows_named(self, name):
        """The viewable windows whose whole name is `name`."""
        return self.windows_named_like("^" + re.escape(name) + "$")

    def windows_named_like(self, pattern):
        # xdotool search exits 1 when it finds nothing.
        result = self._tool("xdotool", "search", "--onlyvisible", "--name", pattern, check=False)
        return [int(word) for word in result.stdout.split()]

    def visible_windows(self):
        """Every viewable window, named or not (menus have no name)."""
        return set(self.windows_named_like(""))

    def wait_for_window(self, name, seconds):
        """The one visible window named `name`, once it is there."""
        found = wait_until(lambda: self.windows_named(name), seconds, f"a window named {name!r}")
        if len(found) != 1:
            raise GuiTestFailure(f"{len(found)} windows named {name!r}")
        return found[0]

    def info(self, window):
        text = self._tool("xwininfo", "-id", str(window)).stdout.decode()

        def number(label):
            return int(re.search(rf"^\s*{label}:\s*(-?\d+)", text, re.M).group(1))

        return WindowInfo(number("Absolute upper-left X"), number("Absolute upper-left Y"),
                          number("Width"), number("Height"))

    def property_text(self, window, name):
        return self._tool("xprop", "-id", str(window), name).stdout.decode().strip()

    def viewable(self, window):
        result = self._tool("xwininfo", "-id", str(window), check=False)
        return result.returncode == 0 and b"IsViewable" in result.stdout

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", str(window))

    def key_to(self, window, *keys):
        """Types `keys` (xdotool's names, e.g. alt+g) into `window`."""
        self.focus(window)
        self.xdotool("key", "--clearmodifiers", *keys)

    def click(self, x, y):
        """A left click at (x, y) on the screen."""
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def move_pointer(self, x, y):
        self.xdotool("mousemove", "--sync", str(x), str(y))

    def move(self, window, x, y):
        self.xdotool("windowmove", "--sync", str(window), str(x), str(y))

    def unmap(self, window):
        self.xdotool("windowunmap", "--sync", str(window))

    def picture(self, window):
        # ImageMagick writes 16-bit PPM unless told otherwise.
        return Picture(self._tool("import", "-window", str(window), "-depth", "8", "ppm:-").stdout)

    def screenshot(self, path):
        self._tool("import", "-window", "root", path)
