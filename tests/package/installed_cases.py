#!/usr/bin/env python3
"""The Debian packages as an administrator meets them, installed on this
machine (as root) from the .debs scripts/package made:

  installed_cases.py CASE --dist DIST --state FOLDER [--setpriv PROGRAM]

FOLDER keeps what a case leaves (the site's log).

  install   apt-get installs dist's .debs; what they put in place is checked
            (capabilities, conffile, user, folder, desktop entry, metainfo,
            unit, man pages, --version)
  reinstall an edited server list and a dpkg-statoverride survive the
            packages being installed again
  service   inside a fresh network namespace: the site started with its
            unit's own ExecStart line as its user answers /health, and the
            installed zelvor-cli, run as nobody, measures the list's loopback
            class and posts it there
  purge     apt-get purge leaves none of the packages' files but the runs'
            folder (/var/lib/zelvor-site) the site's postrm keeps

Exits 0 when the case passed, 1 when it failed, 77 when there is nothing to
test (no .debs, or not root).
"""

import argparse
import glob
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "gui"))

from checks import GuiTestFailure, expect, expect_equal, wait_until  # noqa: E402

PACKAGES = ("zelvor", "zelvor-site")
PROGRAMS = ("/usr/bin/zelvor", "/usr/bin/zelvor-cli")
LIST = "/etc/zelvor-site/servers.list"
RUNS_FOLDER = "/var/lib/zelvor-site"
UNIT = "zelvor-site.service"
AGENT_UNIT = "zelvor-agent.service"
AGENT_DEFAULTS = "/etc/default/zelvor-agent"
COMMAND_SECONDS = 300


def run(*command, check=True, env=None, seconds=COMMAND_SECONDS):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=seconds, env=env)
    if check and done.returncode != 0:
        raise GuiTestFailure(f"{' '.join(command)} exited {done.returncode}:\n"
                             f"{done.stdout}{done.stderr}")
    return done


def debs(options):
    return [glob.glob(os.path.join(options.dist, f"{package}_*.deb")) for package in PACKAGES]


def project_version():
    cmake = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                         "CMakeLists.txt")
    with open(cmake) as file:
        return re.search(r"^project\(Zelvor VERSION ([0-9.]+) ", file.read(), re.M).group(1)


def unit_path(unit=UNIT):
    for folder in ("/usr/lib/systemd/system", "/lib/systemd/system"):
        path = os.path.join(folder, unit)
        if os.path.exists(path):
            return path
    raise GuiTestFailure(f"no {unit} installed")


def install(options):
    """Installed as apt installs them; each thing they set up is there."""
    found = debs(options)
    # With what they recommend, as apt installs by default: setcap among it.
    apt = ["apt-get", "install", "-y", "-q", *(os.path.abspath(deb) for deb in sum(found, []))]
    run(*apt, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), seconds=900)

    for program in PROGRAMS:
        expect_equal(run("/usr/sbin/getcap", program).stdout.split(),
                     [program, "cap_net_raw=ep"], f"getcap {program}")
    version = project_version()
    for program in (*PROGRAMS, "/usr/bin/zelvor-site"):
        expect_equal(run(program, "--version", env={"PATH": "/usr/bin:/bin"}).stdout,
                     f"{os.path.basename(program)} {version}\n", f"{program} --version")

    expect_equal(run("dpkg-query", "-W", "-f", "${Conffiles}", "zelvor-site").stdout.split()[0],
                 LIST, "the conffile")
    expect_equal(run("dpkg-query", "-W", "-f", "${Conffiles}", "zelvor").stdout.split()[0],
                 AGENT_DEFAULTS, "the agent's conffile")
    # The agent waits for its class: installed, neither enabled nor started.
    expect(not os.path.exists(f"/etc/systemd/system/multi-user.target.wants/{AGENT_UNIT}"),
           "the agent's unit is not enabled")
    with open(AGENT_DEFAULTS) as file:
        expect_equal(re.findall(r"^ZELVOR_AGENT_ARGS=(.*)$", file.read(), re.M), [""],
                     "the agent's arguments as shipped: none")
    user = run("getent", "passwd", "zelvor-site").stdout.split(":")
    expect_equal(user[5], RUNS_FOLDER, "the site user's home")
    status = os.stat(RUNS_FOLDER)
    expect_equal((status.st_uid, oct(status.st_mode & 0o7777)), (int(user[2]), "0o750"),
                 f"the owner and mode of {RUNS_FOLDER}")

    run("desktop-file-validate", "/usr/share/applications/zelvor.desktop")
    run("appstreamcli", "validate", "--no-net", "/usr/share/metainfo/org.kivrel.zelvor.metainfo.xml")
    for size in (16, 32, 48, 64, 128, 256):
        icon = f"/usr/share/icons/hicolor/{size}x{size}/apps/zelvor.png"
        with open(icon, "rb") as file:
            head = file.read(24)
        expect_equal((head[:8], int.from_bytes(head[16:20], "big"),
                      int.from_bytes(head[20:24], "big")), (b"\x89PNG\r\n\x1a\n", size, size),
                     f"{icon}: a PNG of its size")
    for page in ("zelvor.1", "zelvor-cli.1", "zelvor-site.8"):
        section = page[-1]
        expect(os.path.exists(f"/usr/share/man/man{section}/{page}.gz"), f"the man page {page}")
    if shutil.which("systemd-analyze"):
        for unit, name in ((UNIT, "zelvor-site"), (AGENT_UNIT, "zelvor-agent")):
            verify = run("systemd-analyze", "verify", unit_path(unit), check=False)
            # Outside a systemd system it may not reach the manager; what it
            # says about the unit file itself must be nothing.
            complaints = [line for line in (verify.stdout + verify.stderr).splitlines()
                          if unit in line or name in line]
            expect_equal(complaints, [], f"systemd-analyze verify on {unit}")


def reinstall(options):
    """What the administrator chose outlives the packages' next install: an
    edited list (a conffile), and a dpkg-statoverride on a program, which
    then gets no capability while the other keeps it."""
    with open(LIST, "a") as file:
        file.write("\n# edited by the administrator\nOffice:198.18.1.1:80\n")
    with open(LIST) as file:
        edited = file.read()
    run("setcap", "-r", PROGRAMS[1])
    run("dpkg-statoverride", "--add", "root", "root", "0755", PROGRAMS[1])
    try:
        run("dpkg", "-i", "--force-confold", *sum(debs(options), []),
            env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    finally:
        run("dpkg-statoverride", "--remove", PROGRAMS[1])
    with open(LIST) as file:
        expect_equal(file.read(), edited, "the list after the packages were installed again")
    expect_equal([run("/usr/sbin/getcap", program).stdout.split() for program in PROGRAMS],
                 [[PROGRAMS[0], "cap_net_raw=ep"], []], "the capabilities after reinstalling")
    # As the package installs it, for the cases after this one.
    run("setcap", "cap_net_raw+ep", PROGRAMS[1])


def exec_start():
    with open(unit_path()) as file:
        line = re.search(r"^ExecStart=(.*)$", file.read(), re.M).group(1)
    return shlex.split(line)


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=20) as reply:
        return reply.status, reply.read().decode()


def service(options):
    """The unit's own command line, run as its user with the capability the
    unit grants, serves; the installed client, as nobody, measures through
    its file capability alone and posts to it."""
    command = exec_start()
    listen = command[command.index("--listen") + 1]
    port = int(listen.rsplit(":", 1)[1])
    user = ("--reuid=zelvor-site", "--regid=zelvor-site", "--init-groups")
    as_site = (options.setpriv, *user, "--inh-caps=+net_bind_service",
               "--ambient-caps=+net_bind_service")
    log_path = os.path.join(options.state, "site.log")
    with open(log_path, "w") as log:
        site = subprocess.Popen([*as_site, *command], stdin=subprocess.DEVNULL, stdout=log,
                                stderr=log, start_new_session=True)
    try:
        def healthy():
            if site.poll() is not None:
                raise GuiTestFailure("the site ended at start:\n" + open(log_path).read())
            try:
                return get(port, "/health")[0] == 200
            except OSError:
                return False
        wait_until(healthy, 30, "the installed site answering /health")

        nobody = (options.setpriv, "--inh-caps=-all", "--reuid=65534", "--regid=65534",
                  "--clear-groups")
        home = os.path.join(options.state, "nobody")
        os.makedirs(home, exist_ok=True)
        os.chown(home, 65534, 65534)
        environment = {"PATH": "/usr/bin:/bin", "HOME": home}
        done = run(*nobody, "/usr/bin/zelvor-cli", "run", "Loopback", "--site",
                   f"127.0.0.1:{port}", "--engine", "raw", "--format", "json", "--loops", "3",
                   env=environment, check=False, seconds=120)
        expect_equal(done.returncode, 0, f"zelvor-cli run as nobody: {done.stderr}")
        posted = json.loads(done.stdout)
        handle = posted["results_address"].rsplit("=", 1)[1]
        status, body = get(port, f"/zelvor.json?handle={handle}")
        stored = json.loads(body)
        expect_equal([(h["host"], h["received"]) for h in stored["hosts"]],
                     [(h["host"], 3) for h in posted["hosts"]], "the stored run")
        expect_equal(sorted(h["host"] for h in stored["hosts"]),
                     ["127.0.0.1", "127.0.0.2", "127.0.0.3", "localhost"], "the loopback class")
        expect(os.stat(os.path.join(RUNS_FOLDER, "runs.db")).st_uid
               == int(run("id", "-u", "zelvor-site").stdout), "the runs database's owner")
    finally:
        if site.poll() is None:
            site.send_signal(signal.SIGTERM)
            try:
                site.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(site.pid, signal.SIGKILL)
                site.wait()
    expect_equal(site.returncode, 0, "the site's exit code after SIGTERM")


def purge(options):
    """Purged, nothing of the packages stays but the runs' folder."""
    files = [path for package in PACKAGES
             for path in run("dpkg", "-L", package, check=False).stdout.splitlines()]
    expect(files, "the packages are installed")
    run("apt-get", "purge", "-y", "-q", *PACKAGES,
        env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"), seconds=600)
    # Folders the system shares (/usr/bin, /etc, ...) stay.
    left = [path for path in files if os.path.lexists(path) and not os.path.isdir(path)]
    for path in ("/etc/zelvor-site", "/usr/share/doc/zelvor", "/usr/share/doc/zelvor-site"):
        if os.path.lexists(path):
            left.append(path)
    expect_equal(left, [], "files left after the purge")
    expect(os.path.isdir(RUNS_FOLDER), f"{RUNS_FOLDER} is kept")


CASES = {case.__name__: case for case in (install, reinstall, service, purge)}


def main():
    parser = argparse.ArgumentParser(description="Runs one case of the installed packages.")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--dist", required=True)
    parser.add_argument("--state", required=True)
    parser.add_argument("--setpriv", default="/usr/bin/setpriv")
    options = parser.parse_args()
    if os.geteuid() != 0:
        print("installed_cases: skipped: installing packages needs root", file=sys.stderr)
        return 77
    if not all(debs(options)):
        print(f"installed_cases: skipped: no .debs in {options.dist} (scripts/package makes them)",
              file=sys.stderr)
        return 77
    os.makedirs(options.state, exist_ok=True)
    try:
        CASES[options.case](options)
    except GuiTestFailure as failure:
        print(f"installed_cases {options.case}: FAILED: {failure}", file=sys.stderr)
        return 1
    print(f"installed_cases {options.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
