"""The measurement behind bench/gui-start, run inside a network namespace of
its own: zelvor and the floor (a bare FLTK window of zelvor's size) started
in turn on a private Xvfb and timed from their start to their window's map,
then each held open in turn for its idle memory and wake-ups.

    gui_start.py OUTER_NETNS MAP_WATCH ZELVOR FLOOR REPETITIONS IDLE_REPETITIONS

OUTER_NETNS is the caller's network namespace as /proc/self/ns/net names it
there ("net:[N]"); this one must be another.

Prints one line a start and the medians and ratios; exits 1 when a check
failed (a window of another size, a second window, a start of zelvor without
its fetch, zelvor not closing on Alt+X).
"""

import http.server
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SCREEN = "800x600x24"
MAP_TIMEOUT_MS = 10000
# After the map: the fetch has this long to reach the site, then the window
# settles for a second before anything is read.
FETCH_SECONDS = 5
SETTLE_SECONDS = 1
IDLE_SECONDS = 10
# A closed zelvor has this long to save its settings and end.
CLOSE_MS = 5000
XVFB_SECONDS = 15
TOOL_SECONDS = 15
# What the site serves: two classes of two servers each, all on loopback.
SERVER_LIST = b"Near:127.0.0.1:80\nNear:127.0.0.2:80\nFar:127.0.0.3:80\nFar:127.0.0.4:80\n"
SETTINGS = "loops=3\ntimeout_new=2000\nairborne_new=16\nthreads=4\nwinx=100\nwiny=100\n"


class Failure(Exception):
    pass


class Site:
    """The list on 127.0.0.1:80, counting the replies it has sent."""

    def __init__(self):
        self.fetches = 0
        self.errors = 0
        self._changed = threading.Condition()
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(len(SERVER_LIST)))
                self.end_headers()
                self.wfile.write(SERVER_LIST)
                self.wfile.flush()
                with site._changed:
                    site.fetches += 1
                    site._changed.notify_all()

            def log_message(self, *args):
                pass

        class Server(http.server.HTTPServer):
            def handle_error(self, request, client_address):
                site.errors += 1

        self._server = Server(("127.0.0.1", 80), Handler)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def await_fetches(self, count, seconds):
        with self._changed:
            if not self._changed.wait_for(lambda: self.fetches >= count, seconds):
                raise Failure(f"zelvor did not fetch the list within {seconds} s of its map")

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(5)


class Display:
    """Xvfb on a display it picks itself; -noreset, so that a program's
    leaving does not reset the server under the next one's start."""

    def __init__(self, log_path):
        reader, writer = os.pipe()
        with open(log_path, "wb") as log:
            self._process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writer), "-screen", "0", SCREEN, "-nolisten", "tcp",
                 "-noreset"], pass_fds=(writer,), stdin=subprocess.DEVNULL, stdout=log,
                stderr=log)
        os.close(writer)
        try:
            number = LineReader(reader).line(XVFB_SECONDS, "Xvfb to name its display")
        except Failure:
            self.stop()
            raise
        finally:
            os.close(reader)
        self.name = ":" + number.strip()

    def stop(self):
        self._process.terminate()
        try:
            self._process.wait(5)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()


class LineReader:
    """Lines from a pipe, each within a time-out."""

    def __init__(self, fd):
        self._fd = fd
        self._data = b""

    def line(self, seconds, what):
        deadline = time.monotonic() + seconds
        while b"\n" not in self._data:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._fd], [], [], left)[0]:
                raise Failure(f"waited {seconds} s for {what}")
            chunk = os.read(self._fd, 256)
            if not chunk:
                raise Failure(f"end of output while waiting for {what}")
            self._data += chunk
        line, self._data = self._data.split(b"\n", 1)
        return line.decode()


def fields(line):
    return dict(word.split("=", 1) for word in line.split())


def memory_kib(pid):
    """Rss, Pss and the anonymous pages: the program's own data, which no
    other process's use of the same libraries changes, as it changes Pss (a
    shared page is split among all the processes that map it)."""
    found = {}
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            name, _, rest = line.partition(":")
            if name in ("Rss", "Pss", "Anonymous"):
                found[name.lower()] = int(rest.split()[0])
    return found


def switches(pid):
    """Voluntary plus involuntary context switches of each thread, by id,
    with the thread's name: per thread, so that a thread that starts or ends
    between two readings cannot make a difference negative."""
    counts = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                lines = dict(line.split(":", 1) for line in status)
        except FileNotFoundError:
            continue
        counts[task] = (lines["Name"].strip(), int(lines["voluntary_ctxt_switches"]) +
                        int(lines["nonvoluntary_ctxt_switches"]))
    return counts


class Watch:
    """One run of map_watch: the map of its program's window, the hold, the
    release and the end, each bounded."""

    def __init__(self, name, command, environment):
        self._name = name
        self._process = subprocess.Popen(command, env=environment, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE)
        self._output = LineReader(self._process.stdout.fileno())
        self._last = None

    def line(self, seconds, what):
        return fields(self._output.line(seconds, what))

    def release(self):
        """Ends the hold; once this returns, the program may be asked to close."""
        if self._process.stdin.closed:
            return
        self._process.stdin.close()
        try:
            said = self.line(5, f"map_watch to release {self._name}")
        except Failure:
            return
        # A program that ended while held has no release to acknowledge.
        if "held_ms" not in said:
            self._last = said

    def end(self):
        """Releases the program and returns map_watch's last line."""
        self.release()
        try:
            last = self._last or self.line(CLOSE_MS / 1000 + 5, f"{self._name} to end")
            status = self._process.wait(5)
        except (Failure, subprocess.TimeoutExpired):
            self._process.kill()
            self._process.wait()
            raise Failure(f"map_watch did not end with {self._name}") from None
        finally:
            self._process.stdout.close()
        if status != 0:
            raise Failure(f"map_watch failed on {self._name} (status {status}): {last}")
        return last


class Bench:
    """Starts the programs under map_watch, with the sandbox's settings file
    and home, and collects what each start measured and what went wrong."""

    def __init__(self, map_watch, programs, directory, site):
        self._map_watch = map_watch
        self._programs = programs
        self._site = site
        self._zelvor_starts = 0
        self.problems = []
        config = os.path.join(directory, "config")
        os.makedirs(os.path.join(config, "Kivrel"))
        self.settings_path = os.path.join(config, "Kivrel", "Zelvor.conf")
        with open(self.settings_path, "w") as settings:
            settings.write(SETTINGS)
        home = os.path.join(directory, "home")
        os.mkdir(home)
        self._environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config)
        self._environment.pop("XAUTHORITY", None)

    def set_display(self, name):
        self._environment["DISPLAY"] = name

    def _start(self, name, hold_seconds, end_wait_ms):
        command = [self._map_watch, "--timeout-ms", str(MAP_TIMEOUT_MS),
                   "--hold-ms", str(int(hold_seconds * 1000)), "--end-wait-ms", str(end_wait_ms),
                   "--", self._programs[name]]
        if name == "zelvor":
            self._zelvor_starts += 1
        watch = Watch(name, command, self._environment)
        try:
            first = watch.line(MAP_TIMEOUT_MS / 1000 + 5, f"{name}'s window")
        except Failure:
            # map_watch has said why on its standard error; this only makes
            # sure that it and its program are gone.
            try:
                watch.end()
            except Failure:
                pass
            raise
        return watch, first

    def _await_fetch(self, name):
        if name == "zelvor":
            self._site.await_fetches(self._zelvor_starts, FETCH_SECONDS)

    def _check(self, name, first, last):
        later = last["later_maps"].split(",") if last["later_maps"] else []
        if later:
            self.problems.append(f"{name}: {len(later)} more windows mapped (an error box?)")
        return {"map": int(first["map_us"]) / 1000, "size": first["size"]}

    def start_only(self, order):
        """Map time alone, one after the other; zelvor is ended with SIGTERM
        once it has fetched."""
        rows = {}
        for name in order:
            watch, first = self._start(name, FETCH_SECONDS + 5, 0)
            try:
                self._await_fetch(name)
            finally:
                last = watch.end()
            rows[name] = self._check(name, first, last)
        return rows

    def idle(self, order):
        """Each alone, held open: memory and wake-ups once settled; zelvor is
        then closed with Alt+X, the floor ended. Alone, since a page of a
        library that both had mapped would count half in each one's Pss."""
        return {name: self._idle(name) for name in order}

    def _idle(self, name):
        hold = FETCH_SECONDS + SETTLE_SECONDS + IDLE_SECONDS + 2 * TOOL_SECONDS
        closes_itself = name == "zelvor"
        watch, first = self._start(name, hold, CLOSE_MS if closes_itself else 0)
        try:
            pid = int(first["pid"])
            self._await_fetch(name)
            time.sleep(SETTLE_SECONDS)
            memory = memory_kib(pid)
            before = switches(pid)
            time.sleep(IDLE_SECONDS)
            after = switches(pid)
            if closes_itself:
                saved_before = os.stat(self.settings_path).st_ino
                watch.release()
                self._xdotool("windowfocus", "--sync", first["window"])
                self._xdotool("key", "--clearmodifiers", "alt+x")
        finally:
            last = watch.end()
        # Alt+X ends the program with 1, after saving the settings (a new file
        # renamed over the old).
        if closes_itself and ((last["end"], last["status"]) != ("self", "1") or
                              os.stat(self.settings_path).st_ino == saved_before):
            self.problems.append(f"zelvor did not close on Alt+X: ended {last['end']}, "
                                 f"status {last['status']}")
        woken = {f"{task} {thread}": count - before.get(task, (thread, 0))[1]
                 for task, (thread, count) in after.items()}
        return dict(self._check(name, first, last), **memory, wakeups=sum(woken.values()),
                    threads=len(after),
                    woken={task: count for task, count in woken.items() if count})

    def _xdotool(self, *arguments):
        result = subprocess.run(["xdotool", *arguments], env=self._environment,
                                stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=TOOL_SECONDS)
        if result.returncode != 0:
            raise Failure(f"xdotool {' '.join(arguments)}: {result.stderr.decode().strip()}")

    def zelvor_starts(self):
        return self._zelvor_starts


def interleaved(names, repetitions, measure_round, describe):
    """Rounds of all the programs, the order turned round each time."""
    rows = {name: [] for name in names}
    for repetition in range(repetitions):
        order = names if repetition % 2 == 0 else names[::-1]
        for name, row in measure_round(order).items():
            rows[name].append(row)
            print(f"  {repetition + 1:2} {name:14} {describe(row)}", flush=True)
    return rows


def report(start_rows, idle_rows, bench, site):
    median = statistics.median
    zelvor, floor = "zelvor", "minimal_window"

    def stat(rows, name, key, how=median):
        return how(row[key] for row in rows[name])

    print(f"\nmap time: {len(start_rows[zelvor])} starts each; memory (medians) and wake-ups "
          f"over {IDLE_SECONDS} s: {len(idle_rows[zelvor])} starts each, "
          f"{SETTLE_SECONDS} s after the list was fetched\n")
    print("| program | map median | map min | map max | RSS | PSS | anonymous | "
          "wake-ups / 10 s |")
    print("|---|---|---|---|---|---|---|---|")
    for name in (zelvor, floor):
        print(f"| {name} | {stat(start_rows, name, 'map'):.1f} ms | "
              f"{stat(start_rows, name, 'map', min):.1f} ms | "
              f"{stat(start_rows, name, 'map', max):.1f} ms | "
              f"{stat(idle_rows, name, 'rss') / 1024:.1f} MiB | "
              f"{stat(idle_rows, name, 'pss') / 1024:.1f} MiB | "
              f"{stat(idle_rows, name, 'anonymous') / 1024:.1f} MiB | "
              f"{', '.join(str(row['wakeups']) for row in idle_rows[name])} |")
    ratios = {"map time": stat(start_rows, zelvor, "map") / stat(start_rows, floor, "map")}
    for key in ("rss", "pss"):
        ratios[key.upper()] = stat(idle_rows, zelvor, key) / stat(idle_rows, floor, key)
    anonymous = stat(idle_rows, zelvor, "anonymous") / stat(idle_rows, floor, "anonymous")
    print("| zelvor / floor | " + f"{ratios['map time']:.2f} | | | {ratios['RSS']:.2f} | "
          f"{ratios['PSS']:.2f} | {anonymous:.2f} | |")

    print("\ntargets: map time, RSS and PSS within 1.5 x the floor; no idle wake-ups")
    for what, ratio in ratios.items():
        print(f"  {what}: {ratio:.2f} x, {'met' if ratio <= 1.5 else 'MISSED'}")
    worst = stat(idle_rows, zelvor, "wakeups", max)
    print(f"  zelvor wake-ups: at most {worst} per {IDLE_SECONDS} s, "
          f"{'met' if worst == 0 else 'MISSED'}")
    for name in (zelvor, floor):
        for row in idle_rows[name]:
            if row["woken"]:
                print(f"    {name} woken threads: {row['woken']}")

    problems = list(bench.problems)
    sizes = {row["size"] for rows in (start_rows, idle_rows) for name in rows for row in rows[name]}
    if len(sizes) != 1:
        problems.append(f"windows of different sizes: {sorted(sizes)}")
    if site.fetches != bench.zelvor_starts():
        problems.append(f"zelvor started {bench.zelvor_starts()} times but fetched the list "
                        f"{site.fetches} times")
    if site.errors:
        problems.append(f"the site failed {site.errors} requests")
    print(f"  zelvor fetched the list {site.fetches} times in {bench.zelvor_starts()} starts; "
          f"window {' '.join(sorted(sizes))}")
    for problem in problems:
        print(f"  CHECK: {problem}")
    return not problems


def measure(map_watch, programs, repetitions, idle_repetitions, directory):
    site = Site()
    display = None
    try:
        bench = Bench(map_watch, programs, directory, site)
        display = Display(os.path.join(directory, "xvfb.log"))
        bench.set_display(display.name)
        names = list(programs)
        # One start each, unmeasured, so that neither side pays for cold caches.
        bench.start_only(names)
        start_rows = interleaved(names, repetitions, bench.start_only,
                                 lambda row: f"map {row['map']:7.1f} ms")
        idle_rows = interleaved(
            names, idle_repetitions, bench.idle,
            lambda row: f"rss {row['rss']} KiB  pss {row['pss']} KiB  anonymous "
                        f"{row['anonymous']} KiB  wake-ups {row['wakeups']}  "
                        f"threads {row['threads']}")
        site.await_fetches(bench.zelvor_starts(), FETCH_SECONDS)
        return report(start_rows, idle_rows, bench, site)
    finally:
        if display is not None:
            display.stop()
        site.stop()


def main():
    outer_namespace, map_watch, zelvor, floor = sys.argv[1:5]
    repetitions, idle_repetitions = map(int, sys.argv[5:7])
    # In the caller's namespace the site would take the machine's own port 80.
    if os.readlink("/proc/self/ns/net") == outer_namespace:
        sys.exit("gui_start.py: runs only in a network namespace of its own")
    # A time-out's SIGTERM still stops the X server and the programs.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("gui_start.py: terminated"))
    with tempfile.TemporaryDirectory(prefix="zelvor-gui-start-") as directory:
        try:
            ok = measure(map_watch, {"zelvor": zelvor, "minimal_window": floor}, repetitions,
                         idle_repetitions, directory)
        except Failure as failure:
            sys.exit(f"gui_start.py: {failure}")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
