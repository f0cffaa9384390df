"""Everything one window test sets up around zelvor: the display, the site,
the sandbox, the programs it starts and the screenshots of its phases; all
of it ended again by close(), however the case ended.
"""

import os
import shutil
import subprocess
import tempfile

from checks import GuiTestFailure, expect_equal, wait_until
from real_site import RealSite
from scripted_site import ScriptedSite
from x_display import SCREEN, VirtualDisplay
from zelvor_run import Sandbox, ZelvorProcess, settings_text

# Generous for a 2-core machine that builds beside the tests, and still
# bounded: a window or box that takes this long is a failure.
APPEAR_SECONDS = 30
EXIT_SECONDS = 15
SAMPLE_SECONDS = 15
ERROR_TITLE = "Error"
SCREEN_WIDTH, SCREEN_HEIGHT = (int(size) for size in SCREEN.split("x")[:2])

DEFAULT_SETTINGS = {"loops": 3, "timeout_new": 1000, "airborne_new": 16, "threads": 2,
                    "winx": 60, "winy": 40}


def _overlap(a, b):
    return (a.x < b.x + b.width and b.x < a.x + a.width and
            a.y < b.y + b.height and b.y < a.y + a.height)


class Scene:
    def __init__(self, case, options):
        self.case = case
        self._options = options
        # Short: the paths below it show in boxes, which must fit on the screen.
        self._work = tempfile.mkdtemp(prefix="zg-")
        self._processes = []
        self.site = None
        self.sandbox = None
        self.settings = None
        self.display = VirtualDisplay(os.path.join(self._work, "xvfb.log"))
        try:
            self.display.start()
        except BaseException:
            shutil.rmtree(self._work, ignore_errors=True)
            raise

    def __enter__(self):
        return self

    @property
    def options(self):
        """The command line's options: the programs and files of the tests."""
        return self._options

    def __exit__(self, kind, error, trace):
        if error is not None:
            self._keep_failure_evidence()
        self.close()

    def close(self):
        try:
            for process in self._processes:
                process.stop()
            if self.site is not None:
                self.site.stop()
        finally:
            self.display.stop()
            shutil.rmtree(self._work, ignore_errors=True)

    def serve_site(self, server_list, handle, hold_list=False, results_status=200):
        self.site = ScriptedSite(server_list, handle, hold_list, results_status)
        self.site.start()
        return self.site

    def serve_real_site(self, server_list):
        if not self._options.site_program:
            raise GuiTestFailure("this case needs --site-program")
        self.site = RealSite(self._options.site_program, os.path.join(self._work, "site"),
                             server_list)
        return self.site

    def make_sandbox(self, browser_status=0, **settings):
        self.settings = dict(DEFAULT_SETTINGS, **settings)
        self.sandbox = Sandbox(os.path.join(self._work, "sandbox"), self.display.environment(),
                               self.settings, browser_status, self._options.suppressions)
        return self.sandbox

    def start_zelvor(self, *arguments):
        process = ZelvorProcess(self._options.program, arguments, self.sandbox,
                                f"zelvor-{len(self._processes) + 1}.log")
        self._processes.append(process)
        return process

    def program_environment(self):
        """The environment of the tests' own programs on the display."""
        return dict(self.display.environment(),
                    LSAN_OPTIONS=f"suppressions={self._options.suppressions}")

    def request_close(self, window):
        """What a window manager's close box does."""
        self.display.run(self._options.close_request, str(window.id))

    def expect_exit(self, process, code, seconds=EXIT_SECONDS):
        expect_equal(process.exit_code(seconds), code, "zelvor's exit code")
        process.check_clean()

    def expect_saved_position(self, x, y):
        expected = dict(self.settings, winx=x, winy=y)
        expect_equal(self.sandbox.settings_file(), settings_text(expected), "the settings file")

    def site_requests(self):
        """What the scripted site received."""
        return self.site.requests() if self.site is not None else []

    def shot(self, phase):
        os.makedirs(self._options.artifacts, exist_ok=True)
        self.display.screenshot(os.path.join(self._options.artifacts,
                                             f"{self.case}-{phase}.png"))

    def expect_error_box(self, text, phase):
        """Waits for zelvor's error box, checks that it says exactly `text`,
        and closes it with Return.

        The text is read by drawing the box zelvor should show beside it with
        the same library and comparing the two pictures.
        """
        box = self.display.wait_for_window(ERROR_TITLE, APPEAR_SECONDS)
        place = self.display.info(box)
        # What lies off the screen would go unchecked.
        if (place.x < 0 or place.y < 0 or place.x + place.width > SCREEN_WIDTH or
                place.y + place.height > SCREEN_HEIGHT):
            raise GuiTestFailure(f"zelvor's error box does not fit on the screen: {place}")
        # The sample's box appears under the pointer: keep it clear of ours.
        self.display.move_pointer(400, 80 if place.y > 300 else 520)
        log_path = os.path.join(self._work, "alert-sample.log")
        with open(log_path, "wb") as log:
            sample = subprocess.Popen([self._options.alert_sample, text],
                                      env=self.program_environment(), stdin=subprocess.DEVNULL,
                                      stdout=log, stderr=log, start_new_session=True)
        try:
            others = wait_until(
                lambda: [w for w in self.display.windows_named(ERROR_TITLE) if w != box],
                APPEAR_SECONDS, "the sample error box")
            if _overlap(place, self.display.info(others[0])):
                raise GuiTestFailure("the sample error box lies over zelvor's")
            self.shot(phase)
            wait_until(lambda: self._same_picture(box, others[0]), SAMPLE_SECONDS,
                       f"zelvor's error box reading exactly {text!r}")
            self.display.key_to(others[0], "Return")
            expect_equal(sample.wait(SAMPLE_SECONDS), 0, "the sample box's exit code")
        finally:
            if sample.poll() is None:
                sample.kill()
                sample.wait()
        self.display.key_to(box, "Return")
        wait_until(lambda: not self.display.viewable(box), APPEAR_SECONDS,
                   "zelvor's error box closing on Return")

    def _same_picture(self, first, second):
        return self.display.picture(first) == self.display.picture(second)

    def _keep_failure_evidence(self):
        try:
            self.shot("failure")
        except (GuiTestFailure, OSError, subprocess.SubprocessError):
            pass
        for process in self._processes:
            print(f"--- {process.log_name} ---\n{process.log()}")
        if isinstance(self.site, RealSite):
            print(f"--- zelvor-site ---\n{self.site.log()}")
