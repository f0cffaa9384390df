"""The real zelvor-site for the end-to-end case, on a free port of
127.0.0.1 inside the test's network namespace, with a list and a data file
of the case's own. Its log must hold no sanitizer report, and it must stop
cleanly on SIGTERM.
"""

import json
import os
import re
import signal
import subprocess
import urllib.request

from checks import GuiTestFailure, expect_equal, wait_until
from zelvor_run import SANITIZER_MARKS

START_SECONDS = 30
STOP_SECONDS = 30


class RealSite:
    def __init__(self, program, directory, server_list, port=0):
        """`port` 0: a free one. A site started again on the `directory` and
        port of one stopped keeps its runs."""
        self._directory = directory
        os.makedirs(directory, exist_ok=True)
        self._log_path = os.path.join(directory, "site.log")
        list_path = os.path.join(directory, "servers.list")
        with open(list_path, "wb") as file:
            file.write(server_list)
        with open(self._log_path, "wb") as log:
            self._process = subprocess.Popen(
                [program, "--listen", f"127.0.0.1:{port}", "--servers", list_path,
                 "--data", os.path.join(directory, "data", "runs.db")],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        self.port = int(wait_until(self._listening_port, START_SECONDS, "the site listening"))

    def _listening_port(self):
        if self._process.poll() is not None:
            raise GuiTestFailure("zelvor-site ended at start:\n" + self.log())
        found = re.search(r"listening on http://127\.0\.0\.1:([0-9]+)/", self.log())
        return found.group(1) if found else None

    def log(self):
        with open(self._log_path, errors="replace") as log:
            return log.read()

    def get(self, path):
        """The body of a 200 answer to GET `path`."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}{path}", timeout=20) as reply:
            expect_equal(reply.status, 200, f"the status of GET {path}")
            return reply.read().decode()

    def results(self, handle):
        return json.loads(self.get(f"/zelvor.json?handle={handle}"))

    def stop(self):
        """Ends the site with SIGTERM, as an operator would, and checks it
        ended cleanly; killed if it does not."""
        if self._process.poll() is not None:
            return
        self._process.send_signal(signal.SIGTERM)
        try:
            code = self._process.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(self._process.pid, signal.SIGKILL)
            self._process.wait()
            raise GuiTestFailure("zelvor-site did not stop on SIGTERM:\n" + self.log()) from None
        expect_equal(code, 0, "zelvor-site's exit code after SIGTERM")
        reports = [line for line in self.log().splitlines()
                   if any(mark in line for mark in SANITIZER_MARKS)]
        if reports:
            raise GuiTestFailure("zelvor-site printed sanitizer reports:\n" + self.log())
