"""What the web cases share: a zelvor-site of their own on 127.0.0.1 with a
throwaway store, headless Chromium under Selenium, reports written from
samples, and the checks that fail a case."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

SITE_START_SECONDS = 30
SITE_STOP_SECONDS = 30
# What a sanitizer build of the site prints when it finds a fault; the
# site's own exit code does not always show it.
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:")

# Without the background-networking flags Chromium reaches for the internet
# on its own, which this machine refuses; QUIC and sync would do the same.
CHROMIUM_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync")


class WebTestFailure(Exception):
    """What a check found wrong; the case prints it and fails."""


def expect(condition, what):
    if not condition:
        raise WebTestFailure(what)


def expect_equal(actual, expected, what):
    if actual != expected:
        raise WebTestFailure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def missing_tools():
    """The tools the tier needs that this machine lacks, by name."""
    missing = [tool for tool in ("chromium", "chromedriver") if shutil.which(tool) is None]
    try:
        import selenium  # noqa: F401  (only whether it is there)
    except ImportError:
        missing.append("python3-selenium")
    return missing


def report(class_name, samples):
    """The text Zelvor posts for one class: `samples` are (host, rtt in ms)
    or (host, failure word) in the order taken, each host's together."""
    lines = [class_name]
    for host, outcome in samples:
        lines.append(f"{host}:{outcome}:" if isinstance(outcome, int) else f"{host}::{outcome}")
    return "\n".join(lines) + "\nEND\n"


class Site:
    """zelvor-site on a free port of 127.0.0.1, ended with SIGTERM on exit;
    its stderr is kept in the artifacts folder as NAME-site.log."""

    def __init__(self, program, artifacts, name):
        self._program = program
        self._log_path = os.path.join(artifacts, f"{name}-site.log")
        self._folder = None
        self._process = None
        self.base = None

    def __enter__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="zelvor-web-")
        servers = os.path.join(self._folder.name, "servers.list")
        with open(servers, "w", encoding="utf-8") as list_file:
            list_file.write("Loopback:127.0.0.1:80\n")
        with open(self._log_path, "wb") as log:
            self._process = subprocess.Popen(
                [self._program, "--listen", "127.0.0.1:0", "--servers", servers,
                 "--data", os.path.join(self._folder.name, "store", "runs.db")],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            self.base = self._wait_for_address()
        except BaseException:
            self._stop()
            self._folder.cleanup()
            raise
        return self

    def __exit__(self, kind, value, traceback):
        try:
            problem = self._stop()
        finally:
            self._folder.cleanup()
        if problem and kind is None:
            raise WebTestFailure(problem)
        if problem:
            print(f"and besides: {problem}")
        return False

    def log(self):
        with open(self._log_path, encoding="utf-8", errors="replace") as log:
            return log.read()

    def _wait_for_address(self):
        deadline = time.monotonic() + SITE_START_SECONDS
        while time.monotonic() < deadline:
            found = re.search(r"listening on (http://127\.0\.0\.1:\d+/)", self.log())
            if found:
                return found.group(1)
            if self._process.poll() is not None:
                raise WebTestFailure(f"zelvor-site exited with {self._process.returncode} "
                                     f"before listening:\n{self.log()}")
            time.sleep(0.05)
        raise WebTestFailure(f"zelvor-site did not listen within {SITE_START_SECONDS} s")

    def _stop(self):
        """Ends the site; what was wrong with its ending, or None."""
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(SITE_STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
                return f"zelvor-site did not end within {SITE_STOP_SECONDS} s of SIGTERM"
        text = self.log()
        faults = [line for line in text.splitlines() if any(m in line for m in SANITIZER_MARKS)]
        if faults:
            return "zelvor-site reported faults (see its log):\n  " + "\n  ".join(faults)
        if self._process.returncode != 0:
            return f"zelvor-site exited with {self._process.returncode} after SIGTERM"
        return None

    def post(self, text):
        """Posts a report and gives the handle the site answered with."""
        status, body = self.fetch("zelvor", data=text.encode("utf-8"))
        expect_equal(status, 200, f"the status of posting {text[:40]!r}...")
        return body

    def fetch(self, path, data=None):
        """(status, body text) of GET path, or POST with `data`; `path` is
        relative to the site's root, or a whole address on the site."""
        address = path if path.startswith("http") else self.base + path.lstrip("/")
        request = urllib.request.Request(address, data=data,
                                         method="POST" if data is not None else "GET")
        try:
            with urllib.request.urlopen(request, timeout=30) as response:
                return response.status, response.read().decode("utf-8")
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode("utf-8")

    def results_json(self, handle):
        status, body = self.fetch(f"zelvor.json?handle={handle}")
        expect_equal(status, 200, f"the status of the JSON of {handle}")
        return json.loads(body)


class Browser:
    """Headless Chromium with a profile of its own, driven over chromedriver;
    on a failed case it leaves NAME-failure.png and .html in the artifacts."""

    def __init__(self, site, artifacts, name):
        self._site = site
        self._artifacts = artifacts
        self._name = name
        self._profile = None
        self.driver = None

    def __enter__(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        self._profile = tempfile.TemporaryDirectory(prefix="zelvor-web-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium")
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.add_argument(f"--user-data-dir={self._profile.name}")
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # An alert a page opened stays open for the case to find.
        options.set_capability("unhandledPromptBehavior", "ignore")
        driver_log = os.path.join(self._artifacts, f"{self._name}-chromedriver.log")
        service = Service(shutil.which("chromedriver"), service_args=[f"--log-path={driver_log}"])
        try:
            self.driver = webdriver.Chrome(service=service, options=options)
        except BaseException:
            self._profile.cleanup()
            raise
        self.driver.set_page_load_timeout(30)
        return self

    def __exit__(self, kind, value, traceback):
        try:
            if kind is not None:
                self._keep_failure()
            self.driver.quit()
        finally:
            self._profile.cleanup()
        return False

    def _keep_failure(self):
        try:
            self.driver.save_screenshot(os.path.join(self._artifacts,
                                                      f"{self._name}-failure.png"))
            with open(os.path.join(self._artifacts, f"{self._name}-failure.html"), "w",
                      encoding="utf-8") as page:
                page.write(self.driver.page_source)
        except Exception as error:  # an open alert, a crashed tab: the failure says more
            print(f"no failure screenshot: {error}")

    def open(self, path):
        self.driver.get(self._site.base + path.lstrip("/"))

    def script(self, code, *arguments):
        return self.driver.execute_script(code, *arguments)

    def texts(self, selector):
        """The textContent of every element that `selector` matches."""
        return self.script("return [...document.querySelectorAll(arguments[0])]"
                           ".map(e => e.textContent)", selector)

    def count(self, selector):
        return self.script("return document.querySelectorAll(arguments[0]).length", selector)

    def attributes(self, selector, name):
        return self.script("return [...document.querySelectorAll(arguments[0])]"
                           ".map(e => e.getAttribute(arguments[1]))", selector, name)

    def console_errors(self):
        """The SEVERE console entries since the last call. Chromium also asks
        for /favicon.ico on its own, so a missing icon shows here too."""
        return [entry["message"] for entry in self.driver.get_log("browser")
                if entry["level"] == "SEVERE"]

    def expect_no_console_errors(self, what):
        expect_equal(self.console_errors(), [], f"console errors on {what}")

    def set_width(self, width, height=900):
        """Lays the page out `width` CSS pixels wide. A headless window can
        keep a wider viewport than it was asked for, so the width is set by
        emulation and then read back."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": width, "height": height,
                                     "deviceScaleFactor": 1, "mobile": False})
        expect_equal(self.script("return window.innerWidth"), width,
                     f"window.innerWidth after asking for {width} px")

    def expect_no_sideways_scroll(self, width, what):
        self.set_width(width)
        widths = self.script("return [document.documentElement.scrollWidth, window.innerWidth]")
        expect(widths[0] <= widths[1],
               f"{what} scrolls sideways at {width} px: scrollWidth {widths[0]} > "
               f"innerWidth {widths[1]}")
        # A table wider than its box scrolls inside it instead of the page.
        wide = self.script("return [...document.querySelectorAll('.table-wrap')]"
                           ".filter(w => w.scrollWidth > w.clientWidth)"
                           ".map(w => [w.scrollWidth, w.clientWidth])")
        expect_equal(wide, [], f"tables wider than their box on {what} at {width} px")

    def screenshot(self, width, file_name):
        """The whole page at `width` px into the artifacts folder."""
        self.set_width(width)
        height = self.script("return document.documentElement.scrollHeight")
        self.set_width(width, height)
        path = os.path.join(self._artifacts, file_name)
        expect(self.driver.save_screenshot(path), f"no screenshot written to {path}")
