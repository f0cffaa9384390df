"""Zelvor's main window as the tests see it: where its controls lie, and
what its pixels say about them (enabled or not, progress bar shown or not).
"""

from checks import GuiTestFailure, expect_equal, wait_until

TITLE = "Quorvane Zelvor v2.1"
# The client area: the picture and the status bar below it.
SIZE = (341, 183)


class Area:
    """A rectangle in the window's client coordinates."""

    def __init__(self, x, y, width, height):
        self.x, self.y, self.width, self.height = x, y, width, height

    def centre(self):
        return self.x + self.width // 2, self.y + self.height // 2


CLASS_LIST = Area(89, 87, 237, 21)
# The list's drop-down arrow, dark whenever the list is enabled, even empty.
LIST_ARROW = Area(CLASS_LIST.x + CLASS_LIST.width - 20, CLASS_LIST.y, 20, CLASS_LIST.height)
GO = Area(168, 126, 78, 26)
EXIT = Area(248, 126, 78, 26)
STATUS_BAR = Area(0, 163, 341, 20)

PROGRESS_COLOUR = (10, 36, 106)
# Inside a control's border, its label or arrow is drawn near black while
# the control is enabled and in a light grey while it is disabled; the border
# itself stays out of the counted area. A window not drawn yet is all black,
# which is neither.
BORDER = 3
DARK_LIMIT = 80
ENABLED_DARK_PIXELS = 10
MENU_SECONDS = 15


def _dark(pixel):
    return max(pixel) < DARK_LIMIT


class ZelvorWindow:
    def __init__(self, display, window):
        self.display = display
        self.id = window

    @classmethod
    def find(cls, display, seconds):
        return cls(display, display.wait_for_window(TITLE, seconds))

    def check_title_and_place(self, x, y):
        expect_equal(self.display.property_text(self.id, "WM_NAME"),
                     f'WM_NAME(STRING) = "{TITLE}"', "the window's title")
        info = self.display.info(self.id)
        expect_equal((info.x, info.y, info.width, info.height), (x, y) + SIZE,
                     "the window's client place and size")

    def position(self):
        info = self.display.info(self.id)
        return info.x, info.y

    def viewable(self):
        return self.display.viewable(self.id)

    def _dark_share(self, area):
        """The dark pixels inside the area's border, and all of them."""
        picture = self.display.picture(self.id)
        if (picture.width, picture.height) != SIZE:
            raise GuiTestFailure(f"the window's picture is {picture.width}x{picture.height}")
        width, height = area.width - 2 * BORDER, area.height - 2 * BORDER
        return picture.count(area.x + BORDER, area.y + BORDER, width, height, _dark), width * height

    def _enabled(self, area):
        dark, total = self._dark_share(area)
        return ENABLED_DARK_PIXELS <= dark <= total // 4

    def _disabled(self, area):
        return self._dark_share(area)[0] == 0

    def go_enabled(self):
        return self._enabled(GO)

    def go_disabled(self):
        return self._disabled(GO)

    def class_list_enabled(self):
        return self._enabled(LIST_ARROW)

    def class_list_disabled(self):
        return self._disabled(CLASS_LIST)

    def progress_shown(self):
        picture = self.display.picture(self.id)
        return picture.count(STATUS_BAR.x, STATUS_BAR.y, STATUS_BAR.width, STATUS_BAR.height,
                             lambda pixel: pixel == PROGRESS_COLOUR) > 0

    def status_bar(self):
        """The status bar's pixels, to tell its texts apart."""
        picture = self.display.picture(self.id)
        return picture.crop(STATUS_BAR.x, STATUS_BAR.y, STATUS_BAR.width, STATUS_BAR.height)

    def hover(self, area):
        left, top = self.position()
        x, y = area.centre()
        self.display.move_pointer(left + x, top + y)

    def press(self, *keys):
        self.display.key_to(self.id, *keys)

    def choose_class(self, position):
        """Picks the class at `position` from the list's menu, which opens
        on the first class."""
        before = self.display.visible_windows()
        self.click(CLASS_LIST)
        menu = wait_until(lambda: self.display.visible_windows() - before, MENU_SECONDS,
                          "the class list's menu")
        self.display.xdotool("key", *(["Down"] * position), "Return")
        wait_until(lambda: not self.display.visible_windows() & menu, MENU_SECONDS,
                   "the class list's menu closing")

    def click(self, area):
        left, top = self.position()
        x, y = area.centre()
        self.display.click(left + x, top + y)
