"""The cases in which zelvor measures: a run started with Alt+G and one with
the mouse, a run in which no host answers, a browser that does not start,
a window closed in the middle of a run, runs whose results the site refuses
or cannot take, and a whole run against the real site.
"""

import os
import re
import time

from checks import expect, expect_equal, stays_false, wait_until
from peer_hosts import FAST_DELAY_MS, fast, server_list, silent, slow
from report_check import LIST_REQUEST, RESULTS_ADDRESS, expect_report, expect_results_post
from scene import APPEAR_SECONDS, EXIT_SECONDS
from zelvor_run import settings_text
from zelvor_window import EXIT, GO, ZelvorWindow

UNSENT_NAME = re.compile(r"[0-9]{8}T[0-9]{6}Z-[0-9]{3}\.report")
READY_SECONDS = 30
RUN_SECONDS = 60
# The browser start is followed by a pause of 1.5 s before the window is
# ready again.
AFTER_RUN_SECONDS = 20
# A closed window's run stops within a second; should it run on, the exit
# gives up waiting for it only after 10 s, which this bound tells apart.
STOPPED_RUN_SECONDS = 8


def ready_window(scene):
    window = ZelvorWindow.find(scene.display, APPEAR_SECONDS)
    wait_until(window.go_enabled, READY_SECONDS, "Go enabled once the list was fetched")
    return window


def results_posts(scene):
    return [request for request in scene.site_requests() if request.startswith(b"POST ")]


def expect_nothing_posted(scene):
    expect_equal(scene.site_requests(), [LIST_REQUEST], "what the site received")
    expect_equal(scene.sandbox.browser_starts(), [], "the browser starts")


def expect_one_run(scene, handle, class_name, servers):
    """Waits for the run's results and browser start, and checks both."""
    posts = wait_until(lambda: results_posts(scene), RUN_SECONDS, "the results POST")
    expect_results_post(posts[0], class_name, servers, scene.settings["loops"],
                        scene.settings["timeout_new"])
    starts = wait_until(scene.sandbox.browser_starts, EXIT_SECONDS, "the browser start")
    expect_equal(starts, [[RESULTS_ADDRESS + handle]], "the browser's arguments")


def expect_ready_again(scene, window, zelvor):
    wait_until(window.go_enabled, AFTER_RUN_SECONDS, "Go enabled again after the run")
    expect(zelvor.running(), "zelvor goes on running after a run")
    expect(window.class_list_enabled(), "the class list enabled again after the run")


def start_and_keyboard_run(scene):
    handle = "K7 x&y=$(z)"
    scene.serve_site(server_list(("Europe", fast(1)), ("Asia", fast(9)), ("Europe", silent(1)),
                                 ("Europe", fast(2))), handle.encode(), hold_list=True)
    scene.make_sandbox(winx=57, winy=31)
    zelvor = scene.start_zelvor()
    window = ZelvorWindow.find(scene.display, APPEAR_SECONDS)
    window.check_title_and_place(57, 31)
    # The site holds the list back: the window waits with its controls off.
    wait_until(window.go_disabled, READY_SECONDS, "Go disabled while the list is fetched")
    expect(window.class_list_disabled(), "the class list disabled while it is fetched")
    scene.shot("fetching")
    scene.site.release_list()
    wait_until(window.go_enabled, READY_SECONDS, "Go enabled once the list came")
    expect(window.class_list_enabled(), "the class list enabled, showing the first class")
    expect_equal(scene.site_requests(), [LIST_REQUEST], "what the site received at start")
    scene.shot("ready")

    # Without Alt, the letters the buttons underline do nothing.
    window.press("g", "x")
    expect(stays_false(lambda: not zelvor.running() or window.go_disabled(), 1.5),
           "g or x without Alt acted")
    expect_equal(scene.site_requests(), [LIST_REQUEST], "what the site received after g and x")

    window.press("alt+g")
    # The silent host keeps the run going for a few time-outs.
    wait_until(window.go_disabled, READY_SECONDS, "Go disabled while measuring")
    expect(window.class_list_disabled(), "the class list disabled while measuring")
    scene.shot("measuring")
    expect_one_run(scene, handle, "Europe", [(fast(1), FAST_DELAY_MS), (silent(1), "TIMEOUT"),
                                             (fast(2), FAST_DELAY_MS)])
    scene.shot("browser-started")
    expect_ready_again(scene, window, zelvor)
    expect_equal(len(scene.site_requests()), 2, "the site's requests after one run")
    scene.shot("after-run")

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)
    scene.expect_saved_position(57, 31)


def click_run_of_second_class(scene):
    # Quotes, blanks and shell signs: the handle must reach the browser as
    # one argument, unchanged.
    handle = "r 7'&;\"x"
    scene.serve_site(server_list(("Europe", fast(1)), ("Asia", fast(5)), ("Europe", fast(2)),
                                 ("Asia", fast(6))), handle.encode())
    scene.make_sandbox(loops=2)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.choose_class(1)
    scene.shot("second-class-chosen")
    window.click(GO)
    expect_one_run(scene, handle, "Asia", [(fast(5), FAST_DELAY_MS), (fast(6), FAST_DELAY_MS)])
    expect_ready_again(scene, window, zelvor)
    scene.shot("after-run")

    window.click(EXIT)
    scene.expect_exit(zelvor, 1)
    scene.expect_saved_position(60, 40)


def labelled_run(scene):
    """A label stored in the settings goes with the post as its query, one
    not of the label's shape never does, and the window's save keeps either
    as it was written."""
    handle = "L1"
    scene.make_sandbox(loops=2)
    for run, (label, target) in enumerate((("lab-1.b", b"/zelvor?label=lab-1.b"),
                                           ("lab 1", b"/zelvor"))):
        scene.serve_site(server_list(("Europe", fast(1)), ("Asia", fast(5))), handle.encode())
        with open(scene.sandbox.settings_path, "w") as file:
            file.write(settings_text(scene.settings) + f"label={label}\n")
        zelvor = scene.start_zelvor()
        window = ready_window(scene)
        window.click(GO)
        posts = wait_until(lambda: results_posts(scene), RUN_SECONDS, "the results POST")
        expect_results_post(posts[0], "Europe", [(fast(1), FAST_DELAY_MS)], 2,
                            scene.settings["timeout_new"], target=target)
        starts = wait_until(lambda: scene.sandbox.browser_starts()[run:], EXIT_SECONDS,
                            "the browser start")
        expect_equal(starts, [[RESULTS_ADDRESS + handle]], "the browser's arguments")
        expect_ready_again(scene, window, zelvor)
        window.click(EXIT)
        scene.expect_exit(zelvor, 1)
        saved = scene.sandbox.settings_file()
        expect(saved.startswith("loops=2\n") and saved.endswith(f"\nlabel={label}\n"),
               f"the saved settings keep the label: {saved!r}")
        scene.site.stop()


def no_replies(scene):
    scene.serve_site(server_list(("Silent", silent(1)), ("Silent", silent(2))), b"unused")
    # Short time-outs: both engines try, and each waits them out.
    scene.make_sandbox(loops=2, timeout_new=400, threads=1)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.press("alt+g")
    scene.expect_error_box("Bad network configuration", "error-box")
    expect_ready_again(scene, window, zelvor)
    expect_nothing_posted(scene)
    scene.shot("after-error")

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)


def browser_failure(scene):
    handle = "h-42"
    scene.serve_site(server_list(("Fast", fast(3))), handle.encode())
    scene.make_sandbox(browser_status=1, loops=2)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.press("alt+g")
    expect_one_run(scene, handle, "Fast", [(fast(3), FAST_DELAY_MS)])
    scene.expect_error_box("Unable to launch default browser", "error-box")
    scene.expect_exit(zelvor, 0)
    scene.expect_saved_position(60, 40)
    scene.shot("after-exit")


def kept_reports(scene, count):
    """The names of the finished reports once there are `count` of them; a
    report being written shows only under a temporary name."""
    names = [name for name in scene.sandbox.unsent_reports() if name.endswith(".report")]
    return names if len(names) >= count else None


def expect_kept_box(scene, reason, kept, phase):
    """The box of a failed post: why, then the full path of the kept report."""
    expect(UNSENT_NAME.fullmatch(kept), f"the kept report's name {kept!r}")
    path = os.path.join(scene.sandbox.unsent_folder, kept)
    scene.expect_error_box(f"{reason}\nThe results were kept in the file\n{path}", phase)
    with open(path, "rb") as file:
        return file.read()


def unsent_results_kept(scene):
    """A site that refuses the results, then no site at all: each time the
    box says why and where the report went, and the report waits in the
    user's data folder byte for byte as it was posted, named so that the
    later sorts after the earlier."""
    scene.serve_site(server_list(("Fast", fast(3)), ("Fast", silent(3))), b"unused",
                     results_status=400)
    scene.make_sandbox(loops=2, timeout_new=400)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.press("alt+g")
    posts = wait_until(lambda: results_posts(scene), RUN_SECONDS, "the results POST")
    servers = [(fast(3), FAST_DELAY_MS), (silent(3), "TIMEOUT")]
    expect_results_post(posts[0], "Fast", servers, 2, 400)
    first = wait_until(lambda: kept_reports(scene, 1), EXIT_SECONDS, "the refused report kept")
    kept = expect_kept_box(scene, "Quorvane refused the results: HTTP Failure: 400", first[0],
                           "refused-box")
    expect_equal(kept, posts[0].partition(b"\r\n\r\n")[2], "the refused report as kept")
    expect_ready_again(scene, window, zelvor)

    scene.site.stop()
    window.press("alt+g")
    both = wait_until(lambda: kept_reports(scene, 2), RUN_SECONDS, "the second report kept")
    expect_equal(both[0], first[0], "the first report's name, kept as it was")
    kept = expect_kept_box(scene, "Error connecting to localhost", both[1], "unreachable-box")
    expect_report(kept, "Fast", servers, 2, 400)
    expect_ready_again(scene, window, zelvor)
    expect_equal(scene.sandbox.unsent_reports(), both, "the folder of unsent reports")
    expect_equal(scene.sandbox.browser_starts(), [], "the browser starts")
    scene.shot("after-both")

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)


def close_during_run(scene):
    scene.serve_site(server_list(("Slow", slow(1)), ("Slow", slow(2)), ("Slow", slow(3))),
                     b"unused")
    # Twenty slow echoes a host: the run would take some 14 s, well past the
    # bound for its stop.
    scene.make_sandbox(loops=20, timeout_new=2000)
    zelvor = scene.start_zelvor()
    window = ready_window(scene)
    window.press("alt+g")
    wait_until(window.progress_shown, RUN_SECONDS, "the progress bar of the run")
    scene.shot("measuring")
    closed = time.monotonic()
    scene.request_close(window)
    scene.expect_exit(zelvor, 1, STOPPED_RUN_SECONDS)
    print(f"zelvor ended {time.monotonic() - closed:.1f} s after the close request")
    expect_nothing_posted(scene)
    scene.expect_saved_position(60, 40)


def real_site_run(scene):
    """The whole loop against the real zelvor-site on a port of its own,
    which the window is pointed at with --site: the list it serves, Go, the
    report stored, and the address the browser is given serving the run."""
    site = scene.serve_real_site(server_list(("Near", fast(1)), ("Near", silent(1)),
                                             ("Far", slow(1)), ("Near", fast(2))))
    scene.make_sandbox(loops=3, timeout_new=1000)
    authority = f"localhost:{site.port}"
    zelvor = scene.start_zelvor("--site", authority)
    window = ready_window(scene)
    window.press("alt+g")
    starts = wait_until(scene.sandbox.browser_starts, RUN_SECONDS, "the browser start")
    expect_equal(len(starts), 1, "the browser starts")
    prefix = f"http://{authority}/zelvor?handle="
    address = starts[0][0]
    expect(address.startswith(prefix), f"the results address {address!r} starts with {prefix!r}")
    handle = address[len(prefix):]
    scene.shot("browser-started")

    run = site.results(handle)
    expect_equal(run["class"], "Near", "the stored run's class")
    hosts = run["hosts"]
    expect_equal(sorted((host["host"], host["sent"], host["received"]) for host in hosts[:2]),
                 [(fast(1), 3, 3), (fast(2), 3, 3)], "the answering hosts, first on the page")
    for host in hosts[:2]:
        expect(FAST_DELAY_MS <= host["min_ms"] <= host["max_ms"] <= 1000,
               f"round trips of {host['host']} within {FAST_DELAY_MS} to 1000 ms: {host}")
    expect_equal((hosts[2]["host"], hosts[2]["received"], hosts[2]["failures"]["TIMEOUT"]),
                 (silent(1), 0, 3), "the silent host, last")
    # What the browser was sent to: the same run, as a page.
    page = site.get(address[len(f"http://{authority}"):])
    for text in ("Near", fast(1), fast(2), silent(1), f"/zelvor.json?handle={handle}"):
        expect(text in page, f"the results page shows {text!r}")
    expect_ready_again(scene, window, zelvor)

    window.press("alt+x")
    scene.expect_exit(zelvor, 1)
    site.stop()


CASES = {case.__name__: case for case in (start_and_keyboard_run, click_run_of_second_class,
                                          labelled_run,
                                          no_replies, browser_failure, close_during_run,
                                          unsent_results_kept, real_site_run)}
