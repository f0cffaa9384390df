"""scripts/demo's desktop path as sudo runs it, for a throwaway user: root
keeps the simulated hosts and the site, the window and the browser it starts
are the user's, every results address reaches the demo's output, and the
site serves on after the window until SIGINT, which leaves nothing behind.
"""

import json
import os
import pwd
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import urllib.request

from checks import GuiTestFailure, GuiTestSkipped, expect, expect_equal, stays_false, wait_until
from measuring_cases import AFTER_RUN_SECONDS, RUN_SECONDS, ready_window
from scene import EXIT_SECONDS
from zelvor_window import GO

FAR_CLASS = "Far-away cities (simulated)"
# The least round trip in ms the demo's peer gives each city.
CITIES = {"frankfurt.far.test": 20, "new-york.far.test": 85, "johannesburg.far.test": 160,
          "sao-paulo.far.test": 190, "tokyo.far.test": 230, "sydney.far.test": 250}
LOOPS = 3
# The namespace, the peer and the site, on a machine that builds meanwhile.
START_SECONDS = 60
STOP_SECONDS = 30
QUIET_SECONDS = 2
SITE_LINE = re.compile(r"demo: the site listens on http://127\.0\.0\.1:([0-9]+)/ \(http://(\S+)/\)")
NO_CAPABILITIES = "0000000000000000"
USER_PREFIX = "zvdemo"

BROWSER_STAND_IN = r"""#!/bin/sh
# The desktop's browser as the demo's case sees it: one record a start, of
# who started it, in what session and with what, then the status the case
# chose.
record=@RECORDS@/$(date +%s%N)
{
  echo "uid=$(id -u)"
  echo "user=$(id -un)"
  for name in HOME USER LOGNAME DISPLAY XAUTHORITY XDG_RUNTIME_DIR; do
    eval "echo $name=\${$name-unset}"
  done
  sed -n 's/^\(Cap\(Eff\|Amb\)\):[[:space:]]*/\1=/p' /proc/self/status
  echo "arguments=$#"
  echo "address=$1"
} >"$record.part"
mv "$record.part" "$record"
exit "$(cat @STATUS@)"
"""


class DemoStage:
    """A throwaway user with a home of its own, a stand-in browser, and
    scripts/demo run by root as if through sudo by that user; the demo, its
    namespace, the user and every file go again on exit."""

    def __init__(self, options):
        for tool in ("useradd", "userdel", "setpriv"):
            if shutil.which(tool) is None:
                raise GuiTestSkipped(f"{tool} is not installed")
        self._options = options
        self.folder = tempfile.mkdtemp(prefix="zd-")
        # The user reaches its home, the browser and its records through it.
        os.chmod(self.folder, 0o711)
        self.name = f"{USER_PREFIX}{os.getpid()}"
        self.home = os.path.join(self.folder, "home")
        self.uid = self.gid = None
        self._user_made = False
        self.demo = None
        self._output_path = os.path.join(self.folder, "demo.out")
        self._browser = os.path.join(self.folder, "browser")
        self._records = os.path.join(self.folder, "browser-starts")
        self._status = os.path.join(self.folder, "browser-status")

    def __enter__(self):
        try:
            self._make_user()
            self._make_browser()
        except BaseException:
            self._remove()
            raise
        return self

    def __exit__(self, kind, error, trace):
        if error is not None and os.path.exists(self._output_path):
            print(f"--- scripts/demo ---\n{self.output()}")
        self._remove()

    def _make_user(self):
        _remove_stale_users()
        subprocess.run(["useradd", "--no-create-home", "--home-dir", self.home, "--shell",
                        "/usr/sbin/nologin", "--user-group", self.name], check=True, timeout=30)
        self._user_made = True
        entry = pwd.getpwnam(self.name)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        os.mkdir(self.home, 0o700)
        # An X session's cookie where sudo, dropping XAUTHORITY, leaves the
        # demo to find it; Xvfb asks for none, so an empty one serves.
        authority = os.path.join(self.home, ".Xauthority")
        with open(authority, "w"):
            pass
        for path in (self.home, authority):
            os.chown(path, self.uid, self.gid)
        reach = subprocess.run(["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}",
                                "--init-groups", "test", "-x", self._options.program],
                               timeout=30)
        if reach.returncode != 0:
            raise GuiTestSkipped(f"other users cannot run {self._options.program}")

    def _make_browser(self):
        os.mkdir(self._browser, 0o755)
        os.mkdir(self._records)
        os.chown(self._records, self.uid, self.gid)
        self.set_browser_status(0)
        stand_in = os.path.join(self._browser, "xdg-open")
        with open(stand_in, "w") as file:
            file.write(BROWSER_STAND_IN.replace("@RECORDS@", shlex.quote(self._records))
                       .replace("@STATUS@", shlex.quote(self._status)))
        os.chmod(stand_in, 0o755)

    def set_browser_status(self, status):
        with open(self._status, "w") as file:
            file.write(f"{status}\n")
        os.chmod(self._status, 0o644)

    def start_demo(self, display_environment, suppressions):
        environment = dict(
            display_environment, SUDO_USER=self.name, ZELVOR_DEMO_BUILD=self._options.build_tree,
            XDG_DATA_HOME=os.path.join(self.folder, "site-data"), TMPDIR=self.folder,
            PATH=self._browser + os.pathsep + display_environment.get("PATH", "/usr/bin:/bin"),
            LSAN_OPTIONS=f"suppressions={suppressions}")
        with open(self._output_path, "wb") as output:
            self.demo = subprocess.Popen([self._options.demo], env=environment,
                                         stdin=subprocess.DEVNULL, stdout=output,
                                         stderr=subprocess.STDOUT, start_new_session=True)

    def output(self):
        with open(self._output_path, errors="replace") as output:
            return output.read()

    def lines(self):
        return self.output().splitlines()

    def wait_for_line(self, line, seconds):
        wait_until(lambda: line in self.lines(), seconds, f"the demo printing {line!r}")

    def browser_starts(self):
        """What each start of the browser recorded, in start order."""
        starts = []
        for name in sorted(os.listdir(self._records)):
            if not name.endswith(".part"):
                with open(os.path.join(self._records, name)) as record:
                    starts.append(dict(line.rstrip("\n").split("=", 1) for line in record))
        return starts

    def session_processes(self):
        """The processes of the demo's session: whatever it started and
        did not end."""
        found = []
        for name in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{name}/stat") as stat:
                    fields = stat.read().rpartition(")")[2].split()
            except (OSError, ValueError):
                continue
            if int(fields[3]) == self.demo.pid:
                found.append(int(name))
        return found

    def window_processes(self):
        program = os.path.realpath(self._options.program)
        found = []
        for pid in self.session_processes():
            try:
                if os.readlink(f"/proc/{pid}/exe") == program:
                    found.append(pid)
            except OSError:
                continue
        return found

    def interrupt(self):
        """What Ctrl-C does; the demo's exit code."""
        self.demo.send_signal(signal.SIGINT)
        try:
            return self.demo.wait(STOP_SECONDS)
        except subprocess.TimeoutExpired:
            raise GuiTestFailure(f"the demo still runs {STOP_SECONDS} s after SIGINT") from None

    def namespace(self):
        return f"zelvor-demo-{self.demo.pid}"

    def _remove(self):
        try:
            if self.demo is not None:
                if self.demo.poll() is None:
                    self.demo.send_signal(signal.SIGINT)
                    try:
                        self.demo.wait(STOP_SECONDS)
                    except subprocess.TimeoutExpired:
                        pass
                for pid in self.session_processes():
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                if self.demo.poll() is None:
                    self.demo.wait()
                subprocess.run(["ip", "netns", "delete", self.namespace()],
                               stderr=subprocess.DEVNULL, timeout=30)
        finally:
            if self._user_made:
                subprocess.run(["userdel", self.name], timeout=30)
            shutil.rmtree(self.folder, ignore_errors=True)


def _remove_stale_users():
    """A case killed outright (a CTest time-out) leaves its user; the name
    carries the case's process id, so it is known once that is gone."""
    for entry in pwd.getpwall():
        found = re.fullmatch(re.escape(USER_PREFIX) + r"([0-9]+)", entry.pw_name)
        if found is None or found.group(1) == str(os.getpid()):
            continue
        try:
            with open(f"/proc/{found.group(1)}/cmdline", "rb") as cmdline:
                if b"demo_as_desktop_user" in cmdline.read():
                    continue
        except OSError:
            pass
        subprocess.run(["userdel", entry.pw_name], timeout=30)


def far_class_position(demo):
    """The demo lists its cities after the classes of the default list."""
    classes = []
    with open(os.path.join(os.path.dirname(demo), "..", "resources", "servers.list")) as file:
        for line in file:
            line = line.strip()
            if line and not line.startswith("#") and line.rsplit(":", 2)[0] not in classes:
                classes.append(line.rsplit(":", 2)[0])
    return len(classes)


def identity_lines(pid):
    with open(f"/proc/{pid}/status") as status:
        return [line for line in status.read().splitlines() if line.startswith(("Uid:", "Gid:"))]


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=20) as reply:
        expect_equal(reply.status, 200, f"the status of GET {path}")
        return reply.read().decode()


def expect_far_run(port, address, prefix):
    """The address the browser got serves the run of the simulated cities."""
    expect(address.startswith(prefix), f"the results address {address!r} starts with {prefix!r}")
    handle = address[len(prefix):]
    run = json.loads(get(port, f"/zelvor.json?handle={handle}"))
    expect_equal(run["class"], FAR_CLASS, "the stored run's class")
    hosts = {host["host"]: host for host in run["hosts"]}
    expect_equal(sorted(hosts), sorted(CITIES), "the stored run's hosts")
    for name, least in CITIES.items():
        host = hosts[name]
        expect(host["sent"] == LOOPS and host["received"] >= 1 and host["min_ms"] >= least,
               f"{LOOPS} echoes to {name}, answered after {least} ms or more: {host}")
    page = get(port, address[address.index("/", len("http://")):])
    for text in (FAR_CLASS, *CITIES, f"/zelvor.json?handle={handle}"):
        expect(text in page, f"the results page shows {text!r}")


def demo_as_desktop_user(scene):
    options = scene.options
    if not (options.demo and options.build_tree):
        raise GuiTestFailure("this case needs --demo and --build-tree")
    with DemoStage(options) as stage:
        stage.start_demo(scene.display.environment(), options.suppressions)
        found = wait_until(lambda: next(filter(None, map(SITE_LINE.fullmatch, stage.lines())),
                                        None), START_SECONDS, "the site's address")
        port, authority = int(found.group(1)), found.group(2)
        window = ready_window(scene)
        windows = stage.window_processes()
        expect_equal(len(windows), 1, "the windows the demo started")
        expect_equal(identity_lines(windows[0]),
                     [f"Uid:\t{stage.uid}\t{stage.uid}\t{stage.uid}\t{stage.uid}",
                      f"Gid:\t{stage.gid}\t{stage.gid}\t{stage.gid}\t{stage.gid}"],
                     "the window's user and group")

        # This namespace opens no ping sockets: the cities answer only a
        # window given the raw-socket capability.
        window.choose_class(far_class_position(options.demo))
        window.click(GO)
        starts = wait_until(stage.browser_starts, RUN_SECONDS, "the browser start")
        first = starts[0].pop("address")
        expect_equal(starts, [{
            "uid": str(stage.uid), "user": stage.name, "HOME": stage.home, "USER": stage.name,
            "LOGNAME": stage.name, "DISPLAY": scene.display.name,
            "XAUTHORITY": os.path.join(stage.home, ".Xauthority"), "XDG_RUNTIME_DIR": "unset",
            "CapEff": NO_CAPABILITIES, "CapAmb": NO_CAPABILITIES, "arguments": "1"}],
            "how the browser was started")
        expect_far_run(port, first, f"http://{authority}/zelvor?handle=")
        scene.shot("browser-started")
        wait_until(window.go_enabled, AFTER_RUN_SECONDS, "Go enabled again after the run")

        # A browser that does not start: the address is on the demo's output
        # all the same, and the site outlives the window.
        stage.set_browser_status(1)
        window.press("alt+g")
        starts = wait_until(lambda: stage.browser_starts()[1:], RUN_SECONDS,
                            "the second browser start")
        second = starts[0]["address"]
        scene.expect_error_box("Unable to launch default browser", "browser-box")
        wait_until(lambda: not stage.window_processes(), EXIT_SECONDS, "the window ending")
        listed = f"demo:   {second}"
        stage.wait_for_line(listed, EXIT_SECONDS)
        lines = stage.lines()
        expect_equal([line for line in lines if line.startswith("demo: results: ")],
                     [f"demo: results: {first}", f"demo: results: {second}"],
                     "the results addresses the demo printed")
        expect_equal(lines[-5:], [
            "demo: the window closed",
            f"demo: the site keeps serving at http://{authority}/ until Ctrl-C",
            "demo: the results of the runs posted while the demo ran:",
            f"demo:   {first}", listed], "what the demo said once the window was gone")
        expect(stays_false(lambda: stage.demo.poll() is not None, QUIET_SECONDS),
               "the demo goes on after the window")
        expect('<p class="run-facts">2 runs stored, newest first.</p>' in get(port, "/"),
               "the site's front page, after the window, holding both runs")

        owners = {path: os.lstat(path).st_uid
                  for folder, names, files in os.walk(stage.home)
                  for path in [folder] + [os.path.join(folder, name) for name in files]}
        expect(os.path.join(stage.home, ".config", "Kivrel", "Zelvor.conf") in owners,
               f"the window's settings in the user's home: {sorted(owners)}")
        expect_equal({path for path, uid in owners.items() if uid != stage.uid}, set(),
                     "files in the user's home that are not the user's")

        work = next(line for line in lines if line.startswith("demo: working in "))
        expect_equal(stage.interrupt(), 130, "the demo's exit code after SIGINT")
        data_file = os.path.join(stage.folder, "site-data", "zelvor-site", "demo-runs.db")
        expect_equal(stage.lines()[-1], f"demo: stopped; the runs stay in {data_file}",
                     "the demo's last line")
        expect_equal(stage.session_processes(), [], "processes the demo left")
        namespaces = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True,
                                    timeout=30).stdout
        expect(stage.namespace() not in namespaces, f"{stage.namespace()} removed: {namespaces}")
        expect(not os.path.exists(work[len("demo: working in "):]), "the demo's folder removed")


CASES = {"demo_as_desktop_user": demo_as_desktop_user}
