"""The cases about the window itself: a site that cannot be reached, the
close box, a second start while zelvor runs, the hints under the mouse, and
a close while the site never answers.
"""

import time

from checks import expect, expect_equal, stays_false, wait_until
from measuring_cases import ready_window
from peer_hosts import fast, server_list
from report_check import LIST_REQUEST
from scene import APPEAR_SECONDS
from zelvor_window import CLASS_LIST, EXIT, GO, STATUS_BAR, Area, ZelvorWindow

QUIET_SECONDS = 2
# The exit's 10 s wait for a job that does not end, and a margin.
HUNG_JOB_EXIT_SECONDS = 18
# A place on the picture away from every control, and one on the screen
# away from the window.
BACKGROUND = Area(10, 10, 4, 4)
OUTSIDE = (700, 550)


def fetch_failure(scene):
    scene.make_sandbox()
    zelvor = scene.start_zelvor()
    window = ZelvorWindow.find(scene.display, APPEAR_SECONDS)
    scene.expect_error_box("Error connecting to localhost", "error-box")
    expect(stays_false(window.go_enabled, QUIET_SECONDS), "Go stays disabled after the box")
    expect(window.go_disabled() and window.class_list_disabled(),
           "Go and the class list disabled after a failed fetch")
    scene.shot("after-error")

    # With a site there now, a click on the disabled Go must still reach
    # nobody, and the list is not fetched again.
    scene.serve_site(server_list(("Fast", fast(1))), b"unused")
    window.click(GO)
    expect(stays_false(lambda: scene.site_requests() or scene.sandbox.browser_starts(),
                       QUIET_SECONDS), "a click on the disabled Go did nothing")
    # Alt+G works whatever is enabled: its job finds no class to measure and
    # ends with the ready look, over the empty list.
    window.press("alt+g")
    wait_until(window.go_enabled, APPEAR_SECONDS, "Go enabled after Alt+G over the empty list")
    expect(stays_false(lambda: scene.site_requests() or scene.sandbox.browser_starts(),
                       QUIET_SECONDS), "Alt+G over the empty list reached nobody")
    scene.shot("after-alt-g")

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)


def close_box(scene):
    scene.serve_site(server_list(("Fast", fast(1))), b"unused")
    scene.make_sandbox(winx=20, winy=300)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.check_title_and_place(20, 300)
    # The saved place is where the window is at the end, not where it began.
    scene.display.move(window.id, 143, 97)
    wait_until(lambda: window.position() == (143, 97), APPEAR_SECONDS, "the window moved")
    scene.shot("moved")
    scene.request_close(window)
    scene.expect_exit(zelvor, 1)
    scene.expect_saved_position(143, 97)


def second_instance(scene):
    scene.serve_site(server_list(("Fast", fast(1))), b"unused")
    scene.make_sandbox()
    first = scene.start_zelvor()
    window = ready_window(scene)
    scene.display.unmap(window.id)
    wait_until(lambda: not window.viewable(), APPEAR_SECONDS, "the window unmapped")
    scene.shot("unmapped")
    before = scene.sandbox.settings_state()

    second = scene.start_zelvor()
    scene.expect_exit(second, 0)
    wait_until(window.viewable, APPEAR_SECONDS, "the first window shown again")
    expect_equal(scene.sandbox.settings_state(), before, "the settings file after the second start")
    expect_equal(scene.site_requests(), [LIST_REQUEST], "what the site received")
    expect(first.running(), "the first zelvor goes on running")
    window.check_title_and_place(60, 40)
    scene.shot("shown-again")

    window.press("alt+x")
    scene.expect_exit(first, 1)
    scene.expect_saved_position(60, 40)


def hover_hints(scene):
    scene.serve_site(server_list(("Fast", fast(1))), b"unused")
    scene.make_sandbox()
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.hover(BACKGROUND)
    empty = window.status_bar()

    # Each control shows a hint of its own (the texts themselves are the
    # unit tests' business); the same control, the same hint.
    hints = {}
    for name, area in (("go", GO), ("exit", EXIT), ("list", CLASS_LIST)):
        window.hover(area)
        seen = [empty] + list(hints.values())
        hints[name] = wait_until(lambda: _new_picture(window.status_bar(), seen), APPEAR_SECONDS,
                                 f"a hint of its own over {name}")
        scene.shot(f"hint-{name}")

    # The status bar and the world outside the window are no places of
    # their own: the list's hint stays.
    window.hover(STATUS_BAR)
    expect(stays_false(lambda: window.status_bar() != hints["list"], QUIET_SECONDS),
           "the list's hint stays over the status bar")
    scene.display.move_pointer(OUTSIDE[0], OUTSIDE[1])
    expect(stays_false(lambda: window.status_bar() != hints["list"], QUIET_SECONDS),
           "the list's hint stays outside the window")

    window.hover(BACKGROUND)
    wait_until(lambda: window.status_bar() == empty, APPEAR_SECONDS,
               "the hint cleared over the picture")
    window.hover(GO)
    wait_until(lambda: window.status_bar() == hints["go"], APPEAR_SECONDS,
               "Go's hint again over Go")

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)


def close_while_fetch_hangs(scene):
    # The site takes the list request and then says nothing for longer than
    # zelvor waits for its job at the exit.
    scene.serve_site(server_list(("Fast", fast(1))), b"unused", hold_list=True)
    scene.make_sandbox(winx=33, winy=44)
    zelvor = scene.start_zelvor()
    window = ZelvorWindow.find(scene.display, APPEAR_SECONDS)
    wait_until(scene.site.list_asked, APPEAR_SECONDS, "the list request at the site")
    scene.shot("fetch-hanging")
    window.press("alt+x")
    closed = time.monotonic()
    # The job never lets go; the exit gives up on it after 10 s, saves and
    # ends without tearing anything down under it.
    scene.expect_exit(zelvor, 1, HUNG_JOB_EXIT_SECONDS)
    print(f"zelvor ended {time.monotonic() - closed:.1f} s after Alt+X, its fetch still waiting")
    scene.expect_saved_position(33, 44)
    expect_equal(scene.site_requests(), [], "connections the site saw end")


def _new_picture(picture, seen):
    return picture if picture not in seen else None


CASES = {case.__name__: case for case in (fetch_failure, close_box, second_instance,
                                          hover_hints, close_while_fetch_hangs)}
