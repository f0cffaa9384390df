#!/usr/bin/env python3
"""Runs one black-box case of zelvor-cli by name, inside the namespaces that
netns-run made for it (the ICMP peer's plan is in tests/cli/CMakeLists.txt,
the hosts are named in tests/gui/peer_hosts.py):

  cli_cases.py CASE --program ZELVOR_CLI --site-program ZELVOR_SITE
               --suppressions FILE [--setpriv PROGRAM]

The real program is run as a user runs it, with a sandbox of its own for the
settings, the kept reports and the browser; its exit code, stdout and stderr
are checked exactly, its timing as ranges. Exits 0 when the case passed, 1
when it failed.
"""

import argparse
import json
import os
import pty
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "gui"))

from checks import GuiTestFailure, expect, expect_equal, wait_until  # noqa: E402
from peer_hosts import FAST_DELAY_MS, fast, server_list, silent, slow  # noqa: E402
from real_site import RealSite  # noqa: E402
from scripted_site import ScriptedSite  # noqa: E402
from zelvor_run import SANITIZER_MARKS, Sandbox  # noqa: E402

# Answers every echo with "destination unreachable" (the plan in
# tests/cli/CMakeLists.txt); a name the test resolver knows, and one it does
# not.
UNREACHABLE = "198.18.2.250"
NAMED = "near.zelvor.test"
NAMED_ADDRESS = fast(20)
UNKNOWN_NAME = "nowhere.zelvor.test"
RUN_SECONDS = 60
DEFAULT_SETTINGS = {"loops": 3, "timeout_new": 300, "airborne_new": 16, "threads": 4,
                    "winx": 100, "winy": 100}
TABLE_HEADER = ("host", "sent", "recv", "loss%", "min", "median", "mean", "max", "stddev",
                "jitter", "p90", "p95", "failures")
FAILURE_WORDS = ("BADADDRESS", "SOCKERROR", "TIMEOUT", "EXPIRED", "FOREIGN", "UNREACHABLE",
                 "BADHEADER", "FAILURE")
CSV_HEADER = ("host,sent,received,loss_percent," + ",".join(FAILURE_WORDS)
              + ",min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,p90_ms,p95_ms")
EXIT_CODES_HELP = ("Exit codes:\n"
                   "  0    every host answered at least once")


class Finished:
    def __init__(self, code, out, err, seconds):
        self.code, self.out, self.err, self.seconds = code, out, err, seconds


class Case:
    def __init__(self, options, work):
        self.options = options
        self.work = work
        self.sandbox = None
        self.site = None
        self.make_sandbox()

    def make_sandbox(self, **settings):
        directory = os.path.join(self.work, f"sandbox-{time.monotonic_ns()}")
        self.sandbox = Sandbox(directory, dict(os.environ), dict(DEFAULT_SETTINGS, **settings),
                               0, self.options.suppressions)

    def start(self, *arguments, stderr=subprocess.PIPE, prefix=()):
        return subprocess.Popen([*prefix, self.options.program, *arguments],
                                env=self.sandbox.environment, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=stderr)

    def run(self, *arguments, prefix=()):
        began = time.monotonic()
        process = self.start(*arguments, prefix=prefix)
        try:
            out, err = process.communicate(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            raise GuiTestFailure(f"zelvor-cli {arguments} still ran after {RUN_SECONDS} s")
        return finished(process, out, err, began)

    def real_site(self, *entries):
        self.site = RealSite(self.options.site_program, os.path.join(self.work, "site"),
                             server_list(*entries))
        return self.site

    def close(self):
        if self.site is not None:
            self.site.stop()


def finished(process, out, err, began):
    result = Finished(process.returncode, out.decode(errors="replace"),
                      err.decode(errors="replace"), time.monotonic() - began)
    if any(mark in result.err for mark in SANITIZER_MARKS):
        raise GuiTestFailure("zelvor-cli printed sanitizer reports:\n" + result.err)
    return result


def expect_exit(result, code, what):
    expect_equal(result.code, code, f"the exit code of {what} (stderr: {result.err!r})")


def table_rows(text):
    """The table's lines split into cells: the host, the eleven figures and
    the failures (empty when none)."""
    rows = []
    for line in text.splitlines():
        cells = line.split()
        figures, failures = cells[:12], " ".join(cells[12:])
        rows.append((*figures, failures))
    return rows


def report_of(run):
    """The report a stored run was posted as, from the site's JSON."""
    lines = [run["class"]]
    for host in run["hosts"]:
        for sample in host["samples"]:
            lines.append(f"{host['host']}:{sample}:" if isinstance(sample, int)
                         else f"{host['host']}::{sample}")
    return "\n".join(lines) + "\nEND\n"


def runs_at(site):
    return len(re.findall(r"/zelvor\?handle=", site.get("/")))


# --- measuring without a site ---------------------------------------------

def ping_table(case):
    """The aligned table of every kind of host, in the order given."""
    result = case.run("ping", fast(1), silent(1), UNREACHABLE, UNKNOWN_NAME, NAMED,
                      "--loops", "3", "--timeout", "300")
    expect_exit(result, 2, "a run with a name that does not resolve")
    expect_equal(result.err, "", "stderr without a terminal: no progress line, no message")
    lines = result.out.splitlines()
    expect_equal(tuple(lines[0].split()), TABLE_HEADER, "the header")
    # Every number column ends where its header does.
    for index in range(1, 12):
        end = re.search(rf"\S*{re.escape(TABLE_HEADER[index])}(?=\s|$)", lines[0]).end()
        for line in lines[1:]:
            expect(line[end - 1] != " " and (end == len(line) or line[end] == " "),
                   f"column {TABLE_HEADER[index]} ends at {end} in {line!r}")
    rows = table_rows(result.out)[1:]
    expect_equal([row[0] for row in rows], [fast(1), silent(1), UNREACHABLE, UNKNOWN_NAME, NAMED],
                 "the hosts, in the order given")
    expect_equal(rows[1], (silent(1), "3", "0", "100.0", *["-"] * 8, "TIMEOUT 3"),
                 "the silent host")
    expect_equal(rows[2], (UNREACHABLE, "3", "0", "100.0", *["-"] * 8, "UNREACHABLE 3"),
                 "the unreachable host")
    expect_equal(rows[3], (UNKNOWN_NAME, "3", "0", "100.0", *["-"] * 8, "BADADDRESS 3"),
                 "the name that does not resolve")
    for row in (rows[0], rows[4]):
        expect_equal(row[1:4] + row[10:], ("3", "3", "0.0", "-", "-", ""), f"{row[0]}'s counts")
        low, high = int(row[4]), int(row[7])
        expect(FAST_DELAY_MS <= low <= high <= 300, f"{row[0]}'s round trips in range: {row}")
    # The silent host's echoes take the time-out, once, since all are in flight.
    expect(0.3 <= result.seconds < 10, f"the run took {result.seconds:.2f} s")


def ping_json(case):
    """The document's fields one by one, and its figures against its samples."""
    result = case.run("ping", fast(1), silent(1), UNKNOWN_NAME, "--format", "json",
                      "--loops", "4", "--timeout", "300", "--airborne", "2", "--threads", "3")
    expect_exit(result, 2, "a run with a name that does not resolve")
    expect_equal(result.out.count("\n"), 1, "one line")
    document = json.loads(result.out)
    expect_equal(list(document), ["class", "partial", "settings", "results_address", "hosts"],
                 "the top-level names")
    expect_equal((document["class"], document["partial"], document["results_address"]),
                 ("ping", False, None), "class, partial and address")
    expect_equal(document["settings"], {"loops": 4, "timeout_ms": 300, "airborne": 2,
                                        "threads": 3, "engine": "auto", "ip": "auto"},
                 "the settings used")
    hosts = document["hosts"]
    expect_equal([host["host"] for host in hosts], [fast(1), silent(1), UNKNOWN_NAME], "hosts")
    names = ["host", "sent", "received", "loss_percent", "failures", "min_ms", "median_ms",
             "mean_ms", "max_ms", "stddev_ms", "jitter_ms", "p90_ms", "p95_ms", "samples"]
    for host in hosts:
        expect_equal(list(host), names, f"{host['host']}'s names")
        expect_equal(list(host["failures"]), list(FAILURE_WORDS), "the failure words")
    answering = hosts[0]
    samples = answering["samples"]
    expect(all(isinstance(s, int) and FAST_DELAY_MS <= s <= 300 for s in samples),
           f"the answering host's samples: {samples}")
    ordered = sorted(samples)
    expect_equal((answering["sent"], answering["received"], answering["loss_percent"]),
                 (4, 4, 0.0), "the answering host's counts")
    expect_equal((answering["min_ms"], answering["max_ms"], answering["median_ms"],
                  answering["p90_ms"]),
                 (ordered[0], ordered[-1], (ordered[1] + ordered[2]) / 2, None),
                 "the answering host's figures")
    expect(abs(answering["mean_ms"] - sum(samples) / 4) < 1e-9, "the mean")
    silent_failures = dict.fromkeys(FAILURE_WORDS, 0)
    silent_failures["TIMEOUT"] = 4
    expect_equal(hosts[1], {"host": silent(1), "sent": 4, "received": 0, "loss_percent": 100.0,
                            "failures": silent_failures, "min_ms": None, "median_ms": None,
                            "mean_ms": None, "max_ms": None, "stddev_ms": None,
                            "jitter_ms": None, "p90_ms": None, "p95_ms": None,
                            "samples": ["TIMEOUT"] * 4}, "the silent host, whole")
    expect_equal(hosts[2]["samples"], ["BADADDRESS"] * 4, "the unresolved name's samples")


def ping_csv_and_report(case):
    """The CSV rows and the report text of the same kind of run."""
    result = case.run("ping", silent(1), fast(1), "--format", "csv", "--loops", "2",
                      "--timeout", "200")
    expect_exit(result, 1, "a run with a silent host")
    lines = result.out.split("\n")
    expect_equal(lines[0], CSV_HEADER, "the header")
    expect_equal(lines[1], f"{silent(1)},2,0,100.0,0,0,2,0,0,0,0,0,,,,,,,,", "the silent row")
    expect(re.fullmatch(re.escape(fast(1)) + r",2,2,0\.0,0,0,0,0,0,0,0,0,\d+,[\d.]+,[\d.]+,\d+,"
                        r"[\d.]+,[\d.]+,,", lines[2]), f"the answering row: {lines[2]!r}")
    expect_equal(lines[3:], [""], "nothing after the rows")

    result = case.run("ping", silent(1), fast(1), "--format", "report", "--loops", "2",
                      "--timeout", "200")
    expect_exit(result, 1, "a run with a silent host")
    expect(re.fullmatch(rf"ping\n{silent(1)}::TIMEOUT\n{silent(1)}::TIMEOUT\n"
                        rf"{fast(1)}:\d+:\n{fast(1)}:\d+:\nEND\n", result.out),
           f"the report: {result.out!r}")


def ipv6_loopback(case):
    """An IPv6 address as given, in every format that can hold it: the
    client's own ::1, which its kernel answers."""
    result = case.run("ping", "::1", fast(1), "--loops", "2", "--timeout", "300")
    expect_exit(result, 0, "ping ::1")
    expect_equal(result.err, "", "stderr")
    rows = table_rows(result.out)[1:]
    expect_equal([row[0] for row in rows], ["::1", fast(1)], "the hosts, as given")
    expect_equal(rows[0][1:4] + rows[0][10:], ("2", "2", "0.0", "-", "-", ""), "::1's counts")

    result = case.run("ping", "::1", "-6", "--format", "json", "--loops", "2", "--timeout", "300")
    expect_exit(result, 0, "ping ::1 -6 as JSON")
    document = json.loads(result.out)
    expect_equal(document["settings"]["ip"], "6", "the ip used")
    expect_equal([(host["host"], host["received"]) for host in document["hosts"]], [("::1", 2)],
                 "the host as given, answered")
    expect(all(isinstance(s, int) and 0 <= s <= 300 for s in document["hosts"][0]["samples"]),
           f"the samples: {document['hosts'][0]['samples']}")

    result = case.run("ping", "::1", "--format", "csv", "--loops", "2", "--timeout", "300")
    expect_exit(result, 0, "ping ::1 as CSV")
    lines = result.out.split("\n")
    expect_equal((lines[0], lines[2:]), (CSV_HEADER, [""]), "the header and one row")
    expect(lines[1].startswith("::1,2,2,0.0,0,0,0,0,0,0,0,0,"), f"::1's row: {lines[1]!r}")


def ip_choice(case):
    """-4 and -6 measure that family alone, over the stored ip; a host
    without it is BADADDRESS. A stored ip that names no choice is said and
    measured as auto."""
    def samples_of(arguments, code):
        result = case.run("ping", fast(1), "::1", *arguments, "--format", "json", "--loops", "2",
                          "--timeout", "300")
        expect_exit(result, code, f"ping {arguments}")
        document = json.loads(result.out)
        return document["settings"]["ip"], [
            ["ok" if isinstance(s, int) else s for s in host["samples"]]
            for host in document["hosts"]]

    answered, unresolved = ["ok"] * 2, ["BADADDRESS"] * 2
    for arguments, code, expected in (
            (["-4"], 2, ("4", [answered, unresolved])),
            (["--ip", "4"], 2, ("4", [answered, unresolved])),
            (["-6"], 2, ("6", [unresolved, answered])),
            ([], 0, ("auto", [answered, answered]))):
        expect_equal(samples_of(arguments, code), expected, f"ping {arguments}")

    def store_ip(value):
        case.make_sandbox()
        with open(case.sandbox.settings_path, "a") as settings:
            settings.write(f"ip={value}\n")

    store_ip("6")
    expect_equal(samples_of([], 2), ("6", [unresolved, answered]), "ip=6 stored")
    expect_equal(samples_of(["--ip", "auto"], 0), ("auto", [answered, answered]),
                 "--ip auto over ip=6 stored")

    store_ip("six")
    result = case.run("ping", fast(1), "--format", "json", "--loops", "1")
    expect_exit(result, 0, "an IPv4 host with ip=six stored")
    expect_equal(result.err, 'zelvor-cli: the stored ip "six" is not auto, 4 or 6 and is '
                 "ignored\n", "the stored ip said")
    expect_equal(json.loads(result.out)["settings"]["ip"], "auto", "the ip used")
    result = case.run("ping", fast(1), "-4", "--loops", "1")
    expect_equal((result.code, result.err), (0, ""), "-4 over ip=six stored: nothing said")


def exit_codes(case):
    """Each exit code from a run that earns it, and the stored settings as
    defaults."""
    case.make_sandbox(loops=2, timeout_new=200)
    for hosts, code in (([fast(1), fast(2)], 0), ([fast(1), silent(1)], 1),
                        ([fast(1), UNREACHABLE], 1), ([silent(1), UNKNOWN_NAME], 2)):
        result = case.run("ping", *hosts, "--format", "json")
        expect_exit(result, code, f"ping {hosts}")
        expect_equal([host["sent"] for host in json.loads(result.out)["hosts"]], [2, 2],
                     "the stored loops as the default")


def bad_arguments(case):
    """Every refusal exits 3 with one line on stderr and nothing on stdout."""
    cases = [
        ([], "A subcommand is required"),
        (["ping"], "HOST is required"),
        (["frobnicate"], ""),
        (["ping", fast(1), "--loops", "0"], "--loops 0: not within 1 to 1000"),
        (["ping", fast(1), "--loops", "1001"], "--loops 1001: not within 1 to 1000"),
        (["ping", fast(1), "--timeout", "60001"], "--timeout 60001: not within 1 to 60000"),
        (["ping", fast(1), "--airborne", "-1"], "--airborne -1: not within 0 to 1024"),
        (["ping", fast(1), "--threads", "65"], "--threads 65: not within 0 to 64"),
        (["ping", fast(1), "--loops", "many"], "--loops"),
        (["ping", fast(1), "--engine", "raw", "--airborne", "0"],
         "--engine raw needs --airborne of 1 or more"),
        (["ping", fast(1), "--engine", "service", "--threads", "0"],
         "--engine service needs --threads of 1 or more"),
        (["ping", fast(1), "--engine", "fast"], "--engine"),
        (["ping", fast(1), "--format", "xml"], "--format"),
        (["classes", "--format", "report"], "--format"),
        (["ping", "a:b"], "HOST a:b: not a host name"),
        (["ping", "1::2::3"], "HOST 1::2::3: not a host name"),
        (["ping", fast(1), "::1", "--format", "report"],
         "--format report cannot hold HOST ::1: a report line is host:rtt: and an IPv6 "
         "address has colons"),
        (["ping", fast(1), "-4", "-6"], "-4 excludes -6"),
        (["ping", fast(1), "-6", "--ip", "6"], "--ip excludes -6"),
        (["ping", fast(1), "--ip", "ipv6"], "--ip: ipv6 not in {auto,4,6}"),
        (["run", "Near", "--ip", "5"], "--ip: 5 not in {auto,4,6}"),
        (["classes", "--site", "a b"], "--site a b: not HOST[:PORT]"),
        (["post", "x", "--site", "host:0"], "--site host:0: not HOST[:PORT]"),
        (["run", "Near", "--no-post", "--open"], "--open needs a post"),
        (["run", "Near", "--label", "a b"], "--label a b: not a label (1 to 64 letters"),
        (["post", "x", "--label", "x" * 65], "not a label"),
        (["run", "Near", "--every", "90"], "--every 90: not a whole number of seconds"),
        (["run", "Near", "--every", "0s"], "--every 0s: not"),
        (["run", "Near", "--count", "3"], "--count needs --every"),
        (["run", "Near", "--every", "5m", "--count", "0"], "--count"),
        (["run", "Near", "--every", "5m", "--open"], "--open cannot go with --every"),
        (["run", "Near", "--every", "5m", "--format", "json"], "--format cannot go with --every"),
        (["ping", fast(1), "--bogus"], ""),
    ]
    for arguments, said in cases:
        result = case.run(*arguments)
        expect_exit(result, 3, f"zelvor-cli {arguments}")
        expect_equal(result.out, "", f"stdout of {arguments}")
        expect(result.err.startswith("zelvor-cli: ") and said in result.err
               and result.err.count("\n") == 1, f"stderr of {arguments}: {result.err!r}")

    result = case.run("--help")
    expect_exit(result, 0, "--help")
    expect(EXIT_CODES_HELP in result.out and "130" in result.out, "--help names the exit codes")
    result = case.run("--version")
    expect_exit(result, 0, "--version")
    expect(re.fullmatch(r"zelvor-cli \d+\.\d+\n", result.out), f"--version: {result.out!r}")


def no_icmp_allowed(case):
    """As a user who may open neither socket: both remedies named, exit 4.
    Run with ping sockets refused to every group and without CAP_NET_RAW."""
    nobody = (case.options.setpriv, "--inh-caps=-all", "--bounding-set=-net_raw",
              "--reuid=65534", "--regid=65534", "--clear-groups")
    os.chmod(case.work, 0o755)
    for engine in ("auto", "raw", "service"):
        result = case.run("ping", fast(1), "--engine", engine, prefix=nobody)
        expect_exit(result, 4, f"--engine {engine} without ICMP sockets")
        expect_equal(result.out, "", "stdout")
        for remedy in ("setcap cap_net_raw+ep", "net.ipv4.ping_group_range"):
            expect(remedy in result.err, f"the message names {remedy}: {result.err!r}")


def interrupted_ping(case):
    """Ctrl-C mid-run: what was measured, marked partial, exit 130, soon."""
    process = case.start("ping", fast(1), slow(1), silent(1), "--loops", "1000", "--timeout",
                         "2000", "--format", "json")
    began = time.monotonic()
    time.sleep(1.5)
    process.send_signal(signal.SIGINT)
    signalled = time.monotonic()
    out, err = process.communicate(timeout=RUN_SECONDS)
    stopped = time.monotonic() - signalled
    result = finished(process, out, err, began)
    expect_exit(result, 130, "an interrupted run")
    expect(stopped < 1.5, f"stopped {stopped:.2f} s after SIGINT")
    document = json.loads(result.out)
    expect_equal(document["partial"], True, "partial")
    hosts = {host["host"]: host for host in document["hosts"]}
    expect(0 < hosts[fast(1)]["sent"] < 1000, f"the fast host's echoes so far: {hosts[fast(1)]}")
    expect_equal(hosts[silent(1)]["received"], 0, "the silent host's answers")
    expect_equal(result.err, "zelvor-cli: interrupted: the results are partial; nothing was "
                 "posted\n", "stderr")


def progress_line(case):
    """Drawn on a terminal's stderr only, never on stdout, and not when
    quiet."""
    for quiet in (False, True):
        main, secondary = pty.openpty()
        arguments = ["ping", slow(1), "--loops", "3", "--timeout", "2000", "--airborne", "1"]
        began = time.monotonic()
        process = case.start(*arguments, *(["--quiet"] if quiet else []), stderr=secondary)
        os.close(secondary)
        seen = b""
        while True:
            try:
                chunk = os.read(main, 4096)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
        out, _ = process.communicate(timeout=RUN_SECONDS)
        os.close(main)
        result = finished(process, out, b"", began)
        expect_exit(result, 0, "the run on a terminal")
        expect(result.out.startswith("host ") and "\r" not in result.out
               and "echoes" not in result.out, f"stdout: {result.out!r}")
        text = seen.decode(errors="replace")
        lines = re.findall(r"\r\[([# ]{30})\]  (\d) of 3 echoes  (\d+)\.(\d) s", text)
        if quiet:
            expect_equal(text, "", "stderr when quiet")
            continue
        expect(len(lines) >= 10, f"progress lines drawn every 0.1 s: {text!r}")
        dones = [int(done) for _, done, _, _ in lines]
        expect(dones == sorted(dones) and dones[0] == 0 and 2 <= dones[-1] <= 3,
               f"done counts rise: {dones}")
        expect_equal(lines[-1][0].count("#"), dones[-1] * 10, "the bar's length")
        expect(text.endswith("\r"), "the line is erased at the end")


# --- with a site ----------------------------------------------------------

def classes(case):
    site = case.real_site(("Near", fast(1)), ("Near", silent(1)), ("Far and wide", slow(1)))
    where = f"127.0.0.1:{site.port}"
    expected = {"table": "Near          2\nFar and wide  1\n",
                "csv": "class,servers\nNear,2\nFar and wide,1\n",
                "json": '[{"class":"Near","servers":2},{"class":"Far and wide","servers":1}]\n'}
    for form, text in expected.items():
        result = case.run("classes", "--site", where, "--format", form)
        expect_exit(result, 0, f"classes --format {form}")
        expect_equal(result.out, text, f"classes --format {form}")
        expect_equal(result.err, "", "stderr")
    # The stored site when no --site is given.
    with open(case.sandbox.settings_path, "a") as settings:
        settings.write(f"site={where}\n")
    result = case.run("classes")
    expect_equal((result.code, result.out), (0, expected["table"]), "classes from the stored site")


def run_posts_report(case):
    """The report on stdout is byte for byte the run the site stores, and
    the address printed is where the site shows it."""
    site = case.real_site(("Near", fast(1)), ("Near", silent(1)), ("Near", UNREACHABLE),
                          ("Far", slow(1)))
    where = f"127.0.0.1:{site.port}"
    result = case.run("run", "Near", "--site", where, "--format", "report", "--loops", "3")
    expect_exit(result, 1, "a run with silent hosts")
    prefix = f"Results: http://{where}/zelvor?handle="
    expect(result.err.startswith(prefix) and result.err.count("\n") == 1,
           f"the address on stderr: {result.err!r}")
    handle = result.err[len(prefix):].strip()
    stored = site.results(handle)
    expect_equal(report_of(stored), result.out, "the report as the site stores it")
    expect(re.fullmatch(rf"Near\n({re.escape(fast(1))}:\d+:\n){{3}}({re.escape(silent(1))}"
                        rf"::TIMEOUT\n){{3}}({re.escape(UNREACHABLE)}::UNREACHABLE\n){{3}}END\n",
                        result.out), f"the report: {result.out!r}")

    result = case.run("run", "Far", "--site", where, "--format", "json", "--loops", "2",
                      "--timeout", "2000", "--open")
    expect_exit(result, 0, "a run of answering hosts")
    document = json.loads(result.out)
    address = document["results_address"]
    expect(address.startswith(f"http://{where}/zelvor?handle="), f"the address {address!r}")
    stored = site.results(address.rsplit("=", 1)[1])
    expect_equal([(h["host"], h["samples"]) for h in stored["hosts"]],
                 [(h["host"], h["samples"]) for h in document["hosts"]], "the stored samples")
    expect_equal(case.sandbox.browser_starts(), [[address]], "the browser was given the address")

    result = case.run("run", "Far", "--site", where, "--no-post", "--loops", "1",
                      "--timeout", "2000")
    expect_exit(result, 0, "a run not posted")
    expect(result.out.startswith("host ") and "Results:" not in result.out, "no address")
    expect_equal(runs_at(site), 2, "the runs the site holds")


def post_files(case):
    """post FILE...: each checked, one address per file posted, past
    failures, exit 4 when any failed."""
    site = case.real_site(("Near", fast(1)))
    where = f"127.0.0.1:{site.port}"
    good = os.path.join(case.work, "good.report")
    with open(good, "w") as file:
        file.write(f"Kept\n{fast(1)}:7:\n{fast(1)}::TIMEOUT\nEND\n")
    bad = os.path.join(case.work, "bad.report")
    with open(bad, "w") as file:
        file.write("Kept\nnot a line\nEND\n")
    missing = os.path.join(case.work, "missing.report")

    result = case.run("post", "--site", where, bad, good, missing, good)
    expect_exit(result, 4, "a post with failures")
    addresses = result.out.splitlines()
    expect_equal(len(addresses), 2, f"one address per file posted: {result.out!r}")
    for address in addresses:
        stored = site.results(address.rsplit("=", 1)[1])
        expect_equal(report_of(stored), f"Kept\n{fast(1)}:7:\n{fast(1)}::TIMEOUT\nEND\n",
                     "the stored report")
    lines = result.err.splitlines()
    expect_equal(len(lines), 2, f"one message per failed file: {result.err!r}")
    expect(lines[0].startswith(f"zelvor-cli: {bad}: not a report: line 2: "), lines[0])
    expect_equal(lines[1], f"zelvor-cli: {missing}: cannot be read", "the missing file")

    result = case.run("post", "--site", where, good)
    expect_exit(result, 0, "a post that succeeded")


def unreachable_site(case):
    """No site listening: exit 4 naming the site, nothing measured."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    where = f"127.0.0.1:{port}"
    good = os.path.join(case.work, "good.report")
    with open(good, "w") as file:
        file.write(f"Kept\n{fast(1)}:7:\nEND\n")
    for arguments in (["classes"], ["run", "Near"], ["post", good]):
        result = case.run(*arguments, "--site", where)
        expect_exit(result, 4, f"{arguments} without a site")
        expect_equal(result.out, "", "stdout")
        expect(f"Error connecting to {where}: " in result.err, f"the message: {result.err!r}")


def garbage_site(case):
    """A site on port 80 that answers nonsense: no classes in its list, a
    handle that is not one, a refusal. The report is then kept as the
    window keeps it."""
    site = case.site = ScriptedSite(b"<html>It works!</html>\n", b"x")
    site.start()
    result = case.run("classes", "--site", "127.0.0.1")
    expect_exit(result, 4, "a list without classes")
    expect_equal(result.err, "zelvor-cli: the site lists no classes: 127.0.0.1\n", "stderr")
    site.stop()

    for handle, status, reason in ((b"<html>500</html>", 200, "the site's answer is not a handle"),
                                   (b"busy", 503, "refused the results: HTTP Failure: 503")):
        case.make_sandbox()
        site = case.site = ScriptedSite(server_list(("Near", fast(1))), handle,
                                        results_status=status)
        site.start()
        result = case.run("run", "Near", "--site", "127.0.0.1:80", "--format", "report")
        site.stop()
        expect_exit(result, 4, f"a post answered {handle!r}")
        kept = case.sandbox.unsent_reports()
        expect_equal(len(kept), 1, "one report kept")
        path = os.path.join(case.sandbox.unsent_folder, kept[0])
        with open(path) as file:
            expect_equal(file.read(), result.out, "the kept report is the one printed")
        lines = result.err.splitlines()
        expect(reason in lines[0] and "127.0.0.1" in lines[0], f"why: {lines[0]!r}")
        expect_equal(lines[1], f"zelvor-cli: The results were kept in the file {path}",
                     "where")
        posts = [r for r in site.requests() if r.startswith(b"POST /zelvor ")]
        expect(len(posts) == 1 and posts[0].endswith(result.out.encode()),
               "the report was what was posted")


def interrupted_run(case):
    """Ctrl-C during `run`: partial results, nothing posted."""
    site = case.site = ScriptedSite(server_list(("Near", fast(1)), ("Near", silent(1))), b"h")
    site.start()
    process = case.start("run", "Near", "--site", "127.0.0.1", "--loops", "40", "--timeout",
                         "2000")
    began = time.monotonic()
    wait_until(lambda: any(r.startswith(b"GET /zv_fetch") for r in site.requests()), 10,
               "the list fetched")
    time.sleep(1)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=RUN_SECONDS)
    result = finished(process, out, err, began)
    expect_exit(result, 130, "an interrupted run")
    expect(result.out.startswith("host ") and fast(1) in result.out, f"partial table: {out!r}")
    time.sleep(0.5)
    expect_equal([r.split(b" ", 2)[:2] for r in site.requests()], [[b"GET", b"/zv_fetch"]],
                 "only the list was asked for")


# --- labels, measuring times and scheduled runs ----------------------------

KEPT_NAME = re.compile(r"(\d{4})(\d\d)(\d\d)T(\d\d)(\d\d)(\d\d)Z-\d{3}\.report")
RUN_LINE = re.compile(r"zelvor-cli: (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ) (\S+) (\S+) "
                      r"(\d+)/(\d+) (\S+) ms (.*)")


def post_targets(site):
    return [r.split(b" ", 2)[1].decode() for r in site.requests() if r.startswith(b"POST ")]


def label_on_the_wire(case):
    """The stored label, --label over it, a stored label not of the shape
    never sent, and a kept report's name as its measuring time."""
    site = case.site = ScriptedSite(server_list(("Near", fast(1))), b"h")
    site.start()
    kept = os.path.join(case.work, "20240229T235959Z-001.report")
    plain = os.path.join(case.work, "plain.report")
    for path in (kept, plain):
        with open(path, "w") as file:
            file.write(f"Kept\n{fast(1)}:7:\nEND\n")
    runs = [
        ({}, ["run", "Near", "--loops", "1"], "/zelvor", ""),
        ({"label": "home-1"}, ["run", "Near", "--loops", "1"], "/zelvor?label=home-1", ""),
        ({"label": "home-1"}, ["run", "Near", "--loops", "1", "--label", "desk.2"],
         "/zelvor?label=desk.2", ""),
        ({"label": "not ok"}, ["run", "Near", "--loops", "1"], "/zelvor",
         "zelvor-cli: the stored label \"not ok\" is not 1 to 64 letters, digits, '-', '_' or "
         "'.' and is ignored\n"),
        ({"label": "home-1"}, ["post", kept],
         "/zelvor?label=home-1&measured_at=2024-02-29T23:59:59Z", ""),
        ({}, ["post", kept], "/zelvor?measured_at=2024-02-29T23:59:59Z", ""),
        ({}, ["post", plain], "/zelvor", ""),
    ]
    for settings, arguments, target, err in runs:
        case.make_sandbox(**settings)
        if "label" in settings:
            with open(case.sandbox.settings_path, "a") as file:
                file.write(f"label={settings['label']}\n")
        before = len(post_targets(site))
        result = case.run(*arguments, "--site", "127.0.0.1", *(["--quiet"] * (arguments[0] == "run")))
        expect_exit(result, 0, f"{arguments} with {settings}")
        expect_equal(result.err, err, f"stderr of {arguments} with {settings}")
        expect_equal(post_targets(site)[before:], [target], f"the post of {arguments}")
    # Without a label or a time the request is what it always was.
    expect(site.requests()[-1].startswith(b"POST /zelvor HTTP/1.0\r\nContent-length: "),
           "the bare post")


class LineReader:
    """A process's stderr, line by line as it comes, each with the
    monotonic time it arrived."""

    def __init__(self, stream):
        self.lines = []
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._thread.start()

    def _read(self, stream):
        for line in iter(stream.readline, b""):
            with self._lock:
                self.lines.append((time.monotonic(), line.decode(errors="replace").rstrip("\n")))

    def wait_for(self, count, seconds):
        return wait_until(lambda: len(self.snapshot()) >= count or None, seconds,
                          f"{count} lines on stderr: {self.snapshot()}")

    def snapshot(self):
        with self._lock:
            return list(self.lines)

    def join(self):
        self._thread.join(RUN_SECONDS)


def end_of(process, reader, began):
    """The process's end, with its stdout; its stderr is the reader's."""
    try:
        code = process.wait(RUN_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        raise GuiTestFailure(f"zelvor-cli still ran after {RUN_SECONDS} s") from None
    out = process.stdout.read()
    reader.join()
    return finished(process, out, b"", began)


def scheduled_runs(case):
    """Three runs on a 2 s cadence; the second, with the site away, is kept
    and posted after the third with the time it was measured."""
    # Answering hosts only: a silent one keeps a run past 2 s, and the next
    # would rightly skip a slot.
    entries = (("Near", fast(1)), ("Near", fast(2)))
    site = case.real_site(*entries)
    port, site_directory = site.port, os.path.join(case.work, "site")
    process = case.start("run", "Near", "--site", f"127.0.0.1:{port}", "--every", "2s",
                         "--count", "3", "--label", "lab-1", "--loops", "2", "--timeout", "300")
    began = time.monotonic()
    reader = LineReader(process.stderr)
    reader.wait_for(1, 10)
    site.stop()
    reader.wait_for(2, 10)
    case.site = RealSite(case.options.site_program, site_directory,
                         server_list(*entries), port=port)
    result = end_of(process, reader, began)
    expect_exit(result, 0, "the last run, every host answering")
    expect_equal(result.out, "", "stdout of scheduled runs")
    lines = reader.snapshot()
    texts = [text for _, text in lines]
    expect_equal(len(texts), 4, f"three run lines and the kept report's: {texts}")
    runs = [RUN_LINE.fullmatch(text) for text in (texts[0], texts[1], texts[3])]
    expect(all(runs), f"the run lines: {texts}")
    for run in runs:
        expect_equal(run.group(2, 3, 4, 5), ("Near", "lab-1", "2", "2"), f"run line {run[0]}")
    # The cadence, as the lines arrived and as they say.
    arrivals = [lines[0][0], lines[1][0], lines[3][0]]
    for before, after in zip(arrivals, arrivals[1:]):
        expect(1.5 <= after - before <= 2.5,
               f"runs {after - before:.2f} s apart: lines at "
               f"{[round(at - began, 2) for at, _ in lines]} s")
    stamps = [time.mktime(time.strptime(run.group(1), "%Y-%m-%dT%H:%M:%SZ")) for run in runs]
    expect(all(1 <= b - a <= 3 for a, b in zip(stamps, stamps[1:])), f"run times {stamps}")

    first_address = f"http://127.0.0.1:{port}/zelvor?handle="
    expect(runs[0].group(7).startswith(first_address), f"the first posted: {texts[0]}")
    kept = re.fullmatch(r"The results were kept in the file (\S+): Error connecting to "
                        rf"127\.0\.0\.1:{port}: .*", runs[1].group(7))
    expect(kept, f"the second kept: {texts[1]}")
    name = os.path.basename(kept.group(1))
    named = KEPT_NAME.fullmatch(name)
    measured_at = "{}-{}-{}T{}:{}:{}Z".format(*named.groups())
    expect_equal(measured_at, runs[1].group(1), "the kept report is named by its run's start")
    posted = re.fullmatch(rf"zelvor-cli: kept report {re.escape(name)} posted: "
                          rf"({re.escape(first_address)}(\S+))", texts[2])
    expect(posted, f"the kept report posted after the third run: {texts[2]}")
    expect(runs[2].group(7).startswith(first_address), f"the third posted: {texts[3]}")
    expect_equal(case.sandbox.unsent_reports(), [], "nothing left kept")

    stored = case.site.results(posted.group(2))
    # The results list hosts by their median, and these two answer alike.
    expect_equal(sorted(host["host"] for host in stored["hosts"]), [fast(1), fast(2)],
                 "the kept report's hosts")
    # These two read what the site shows of a post's query: they pass once
    # the site stores the label and the measuring time.
    expect_equal(stored.get("label"), "lab-1", "the label the site shows")
    expect_equal(stored.get("measured_at"), measured_at, "the measuring time the site shows")


def scheduled_signals(case):
    """While waiting for a slot a signal ends the runs at once; during a run,
    once it is posted. The exit code is the last run's."""
    site = case.real_site(("Near", fast(1)), ("Near", silent(1)), ("Slow", slow(1)))
    where = f"127.0.0.1:{site.port}"
    for sent in (signal.SIGTERM, signal.SIGINT):
        case.make_sandbox()
        process = case.start("run", "Near", "--site", where, "--every", "1h", "--loops", "1",
                             "--timeout", "300")
        began = time.monotonic()
        reader = LineReader(process.stderr)
        reader.wait_for(1, 10)
        time.sleep(0.3)
        process.send_signal(sent)
        signalled = time.monotonic()
        result = end_of(process, reader, began)
        stopped = time.monotonic() - signalled
        expect_exit(result, 1, f"{sent.name} while waiting, after a run with a silent host")
        expect(stopped < 1, f"ended {stopped:.2f} s after {sent.name} while waiting")
        expect_equal(len(reader.snapshot()), 1, "one run")

    case.make_sandbox()
    process = case.start("run", "Slow", "--site", where, "--every", "1h", "--loops", "3",
                         "--airborne", "1", "--threads", "0", "--timeout", "2000")
    began = time.monotonic()
    reader = LineReader(process.stderr)
    time.sleep(1)
    process.send_signal(signal.SIGTERM)
    result = end_of(process, reader, began)
    expect_exit(result, 0, "SIGTERM during a run of an answering host")
    lines = [text for _, text in reader.snapshot()]
    run = RUN_LINE.fullmatch(lines[0]) if len(lines) == 1 else None
    expect(run and run.group(4, 5) == ("1", "1"), f"the whole run, then the end: {lines}")
    expect(run.group(7).startswith(f"http://{where}/zelvor?handle="), "the run was posted")
    expect(result.seconds >= 2, f"the run went on to its end: {result.seconds:.2f} s")


CASES = {case.__name__: case for case in (
    ping_table, ping_json, ping_csv_and_report, ipv6_loopback, ip_choice, exit_codes, bad_arguments, no_icmp_allowed,
    interrupted_ping, progress_line, classes, run_posts_report, post_files, unreachable_site,
    garbage_site, interrupted_run, label_on_the_wire, scheduled_runs, scheduled_signals)}


def main():
    parser = argparse.ArgumentParser(description="Runs one black-box case of zelvor-cli.")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--site-program", required=True)
    parser.add_argument("--suppressions", required=True)
    parser.add_argument("--setpriv", default=shutil.which("setpriv"))
    options = parser.parse_args()
    work = tempfile.mkdtemp(prefix="zelvor-cli-")
    case = Case(options, work)
    try:
        CASES[options.case](case)
    except GuiTestFailure as failure:
        print(f"{options.case}: FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        case.close()
        shutil.rmtree(work, ignore_errors=True)
    print(f"{options.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
