"""One run of the real program in a sandbox of its own: a settings file in a
private configuration directory, a private data directory, and a recording
xdg-open first on PATH.
"""

import json
import os
import signal
import subprocess
import sys

from checks import GuiTestFailure

SETTINGS_ORDER = ("loops", "timeout_new", "airborne_new", "threads", "winx", "winy")
# Lines of the sanitizers' reports; a program that prints one has failed,
# whatever its exit code.
SANITIZER_MARKS = ("Sanitizer", "runtime error:")

BROWSER_STAND_IN = """#!{python}
# Records how zelvor started the browser, one file per start, in start order,
# each written whole under another name first: the case reads them meanwhile.
import json, os, sys, time
path = os.path.join({records!r}, "start-%020d.json" % time.monotonic_ns())
with open(path + ".part", "w") as record:
    json.dump(sys.argv[1:], record)
os.rename(path + ".part", path)
sys.exit({status})
"""


def settings_text(settings):
    return "".join(f"{name}={settings[name]}\n" for name in SETTINGS_ORDER)


class Sandbox:
    """The files and environment every zelvor of one test shares."""

    def __init__(self, directory, display_environment, settings, browser_status, suppressions):
        self.directory = directory
        self.settings_path = os.path.join(directory, "config", "Kivrel", "Zelvor.conf")
        os.makedirs(os.path.dirname(self.settings_path))
        with open(self.settings_path, "w") as file:
            file.write(settings_text(settings))
        self.unsent_folder = os.path.join(directory, "data", "Kivrel", "Zelvor", "unsent")
        self._records = os.path.join(directory, "browser-starts")
        os.mkdir(self._records)
        bin_directory = os.path.join(directory, "bin")
        os.mkdir(bin_directory)
        stand_in = os.path.join(bin_directory, "xdg-open")
        with open(stand_in, "w") as file:
            file.write(BROWSER_STAND_IN.format(python=sys.executable, records=self._records,
                                               status=browser_status))
        os.chmod(stand_in, 0o755)
        self.environment = dict(
            display_environment,
            PATH=bin_directory + os.pathsep + display_environment.get("PATH", "/usr/bin:/bin"),
            HOME=directory,
            XDG_CONFIG_HOME=os.path.join(directory, "config"),
            XDG_DATA_HOME=os.path.join(directory, "data"),
            LSAN_OPTIONS=f"suppressions={suppressions}",
        )

    def browser_starts(self):
        """The argument lists of every xdg-open start so far."""
        starts = []
        for name in sorted(os.listdir(self._records)):
            if name.endswith(".part"):
                continue
            with open(os.path.join(self._records, name)) as record:
                starts.append(json.load(record))
        return starts

    def unsent_reports(self):
        """Every name in the folder of unsent reports, in name order."""
        if not os.path.isdir(self.unsent_folder):
            return []
        return sorted(os.listdir(self.unsent_folder))

    def settings_file(self):
        with open(self.settings_path) as file:
            return file.read()

    def settings_state(self):
        """The settings file's bytes and identity, to tell whether anyone wrote it."""
        status = os.stat(self.settings_path)
        with open(self.settings_path, "rb") as file:
            return file.read(), status.st_ino, status.st_mtime_ns


class ZelvorProcess:
    """One started zelvor, ended (killed if need be) by stop()."""

    def __init__(self, program, arguments, sandbox, log_name):
        self.log_name = log_name
        self._log_path = os.path.join(sandbox.directory, log_name)
        with open(self._log_path, "wb") as log:
            self._process = subprocess.Popen([program, *arguments], env=sandbox.environment,
                                             cwd=sandbox.directory, stdin=subprocess.DEVNULL,
                                             stdout=log, stderr=log, start_new_session=True)

    def exit_code(self, seconds):
        """Its exit code once it has ended, failing after `seconds`."""
        try:
            return self._process.wait(seconds)
        except subprocess.TimeoutExpired:
            raise GuiTestFailure(f"zelvor still runs after {seconds} s") from None

    def running(self):
        return self._process.poll() is None

    def log(self):
        with open(self._log_path, errors="replace") as log:
            return log.read()

    def check_clean(self):
        reports = [line for line in self.log().splitlines()
                   if any(mark in line for mark in SANITIZER_MARKS)]
        if reports:
            raise GuiTestFailure("zelvor printed sanitizer reports:\n" + self.log())

    def stop(self):
        if self._process.poll() is None:
            os.killpg(self._process.pid, signal.SIGKILL)
            self._process.wait()
