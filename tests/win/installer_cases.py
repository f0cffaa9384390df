#!/usr/bin/env python3
"""The Windows installer under Wine's msiexec: install, use, upgrade, remove.

  installer_cases.py MSI VERSION REBUILT_MSI NEWER_MSI NEWER_VERSION RELEASE
                     ZELVOR ZELVOR_CLI ICON DRIVER SITE_PROGRAM

MSI is this build's installer, of product VERSION; REBUILT_MSI the same
package made again (another product code), and NEWER_MSI the same package
saying NEWER_VERSION. RELEASE is the version the programs report. ZELVOR,
ZELVOR_CLI and ICON are what the packages hold, to compare with what they
install; DRIVER is window_smoke.exe; SITE_PROGRAM a zelvor-site built for this
machine (empty: skipped). Meant to run where only loopback exists
(tests/netns/in-fresh-netns), with a Wine prefix, an Xvfb display and a
stand-in browser of its own, so that nothing it installs reaches another
test's registry or the machine's desktop. Exits 0 when every case held, 1
otherwise, 77 when it cannot run.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

# The real site and the private display of the window tier serve here too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
from checks import GuiTestFailure  # noqa: E402
from real_site import RealSite  # noqa: E402
from x_display import VirtualDisplay  # noqa: E402

SECONDS = 120
# The whole run's bound, under CTest's, so that a hang still ends in the
# clean-up rather than in a kill that leaves the Wine server running.
RUN_SECONDS = 270
SETTINGS_KEY = r"HKLM\SOFTWARE\Kivrel\Zelvor"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
# A value the user's own tools wrote before any install, and the ones the
# program saves when it closes: no install, upgrade or removal may touch them.
USER_VALUE = ("class", "Loopback")
PROGRAM_VALUES = {"loops", "timeout_new", "airborne_new", "threads", "winx", "winy"}
# msiexec's 1603 (ERROR_INSTALL_FAILURE), as the low byte a Unix exit status
# keeps.
INSTALL_FAILURE = 1603 & 0xFF
# The class of the test's server list; the window must offer it alone.
CLASS = "Loopback"


def skip(why):
    print(f"installer-cases: skipped: {why}", file=sys.stderr)
    sys.exit(77)


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


class Wine:
    """Programs under Wine in a prefix of the test's own."""

    def __init__(self, work, display):
        self.prefix = os.path.join(work, "prefix")
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", DISPLAY=display,
                        HOME=work, PATH=os.path.join(work, "bin") + os.pathsep + os.environ["PATH"],
                        # No Mono or Gecko prompts, and no menu entries on the
                        # machine's desktop for the shortcut.
                        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")

    def start(self):
        """One Wine server for every program of the run, and the prefix."""
        os.makedirs(self.prefix)
        for command in (["wineserver", "-p"], ["wineboot", "-i"]):
            subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=SECONDS, check=True)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=30)

    def run(self, *arguments):
        # Output goes to a file, not a pipe: a Wine service the program
        # starts lives on with the server and would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            done = subprocess.run(["wine", *arguments], env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=SECONDS)
            out.seek(0)
            return done.returncode, out.read().decode(errors="replace")

    def key_values(self, key):
        """A key's values as {name: (type, text)}; {} when there is no key."""
        code, out = self.run("reg", "query", key)
        lines = re.findall(r"^    (\S+)    (REG_\w+)    ?(.*?)\r?$", out, re.M)
        return {name: (kind, text) for name, kind, text in lines} if code == 0 else {}

    def arp_entries(self):
        """(product code, DisplayName, DisplayVersion, Publisher) of each
        Zelvor entry under Add/Remove Programs."""
        code, out = self.run("reg", "query", UNINSTALL_KEY, "/s")
        entries = []
        for block in re.split(r"\r?\n(?=HKEY_)", out if code == 0 else ""):
            product = re.match(r"HKEY_\S*\\Uninstall\\(\{[0-9A-F-]{36}\})\r?$", block, re.M)
            values = dict(re.findall(r"^    (\S+)    REG_SZ    (.*?)\r?$", block, re.M))
            if product and values.get("DisplayName") == "Zelvor":
                entries.append((product.group(1), values["DisplayName"],
                                values.get("DisplayVersion"), values.get("Publisher")))
        return entries


class Cases:
    def __init__(self, wine, work, packed, icon, driver, release, site, failures):
        self.wine = wine
        self.installed = os.path.join(wine.drive_c, "Program Files", "Zelvor")
        self.packed = packed
        self.icon = read_bytes(icon)
        self.driver = driver
        self.release = release
        self.site = site
        self.opened = os.path.join(work, "opened")
        self.failures = failures
        # Wine hands a web address to xdg-open: this one only writes it down.
        os.makedirs(os.path.join(work, "bin"))
        browser = os.path.join(work, "bin", "xdg-open")
        with open(browser, "w") as out:
            out.write(f"#!/bin/sh\nprintf '%s\\n' \"$1\" >>'{self.opened}'\n")
        os.chmod(browser, 0o755)

    def check(self, held, what):
        print(f"{'ok' if held else 'FAILED'}: {what}", flush=True)
        if not held:
            self.failures.append(what)

    def check_installed(self, case, version, site, program_values):
        """Everything an install leaves, or a removal takes: the files, the
        shortcut, the registry values and the Add/Remove Programs entry."""
        names = sorted(os.listdir(self.installed)) if os.path.isdir(self.installed) else None
        if version:
            self.check(names == sorted(self.packed) and all(
                read_bytes(os.path.join(self.installed, name)) == read_bytes(path)
                for name, path in self.packed.items()),
                f"{case}: Program Files\\Zelvor holds the two programs as packed ({names})")
        else:
            self.check(names is None, f"{case}: Program Files\\Zelvor is gone ({names})")

        # Wine puts a per-machine shortcut in the user's Start menu, where
        # Windows uses the one of all users.
        links = [os.path.join(folder, "Zelvor.lnk")
                 for folder, _, files in os.walk(self.wine.drive_c) if "Zelvor.lnk" in files]
        if version:
            self.check(len(links) == 1 and
                       links[0].endswith(os.path.join("Start Menu", "Programs", "Zelvor.lnk")) and
                       b"C:\\Program Files\\Zelvor\\zelvor.exe" in read_bytes(links[0]),
                       f"{case}: one Start menu shortcut, to the installed zelvor.exe ({links})")
        else:
            self.check(links == [], f"{case}: no shortcut is left ({links})")

        expected = {USER_VALUE[0]: ("REG_SZ", USER_VALUE[1])}
        if site is not None:
            expected["site"] = ("REG_SZ", site)
        values = self.wine.key_values(SETTINGS_KEY)
        others = {name: value for name, value in values.items() if name not in PROGRAM_VALUES}
        self.check(others == expected, f"{case}: the key holds {expected} ({others})")
        self.check(set(values) - set(others) == program_values,
                   f"{case}: and the program's own values {sorted(program_values)}")

        entries = self.wine.arp_entries()
        if version:
            self.check([entry[1:] for entry in entries] == [("Zelvor", version, "Kivrel")],
                       f"{case}: one Add/Remove Programs entry, Zelvor {version} by Kivrel "
                       f"({entries})")
            # The entry's icon, which the installer keeps under the product code.
            kept = os.path.join(self.wine.drive_c, "windows", "Installer",
                                entries[0][0] if entries else "-", "zelvor.ico")
            self.check(os.path.isfile(kept) and read_bytes(kept) == self.icon,
                       f"{case}: the entry's icon is resources/zelvor.ico")
        else:
            self.check(entries == [], f"{case}: no Add/Remove Programs entry is left ({entries})")

    def measure_from_the_window(self, case, label=None):
        """The installed zelvor.exe, pointed at the site by the installer:
        the list, a measurement of its class, the post and the page; with
        `label` stored in the key, the site shows the run with it."""
        if os.path.exists(self.opened):
            os.remove(self.opened)
        code, out = self.wine.run(self.driver, "--measure",
                                  os.path.join(self.installed, "zelvor.exe"), CLASS, self.opened)
        self.check(code == 0, f"{case}: the installed window measures against the site:\n{out}")
        text = read_bytes(self.opened).decode() if os.path.exists(self.opened) else ""
        page = re.fullmatch(rf"http://127\.0\.0\.1:{self.site.port}/zelvor\?handle=([\w-]+)\n",
                            text)
        self.check(page is not None, f"{case}: the page opened is the site's results ({text!r})")
        if page:
            hosts = self.site.results(page.group(1))["hosts"]
            got = sorted((host["host"], host["sent"], host["received"]) for host in hosts)
            self.check(got == [("127.0.0.1", 3, 3), ("127.0.0.2", 3, 3)],
                       f"{case}: the site holds three echoes from each host ({got})")
            # What the site shows of the post's query: this passes once the
            # site stores the label.
            if label is not None:
                shown = self.site.results(page.group(1)).get("label")
                self.check(shown == label, f"{case}: the site shows the label ({shown!r})")

    def measure_with_and_without_a_label(self, case):
        self.measure_from_the_window(case)
        self.wine.run("reg", "add", SETTINGS_KEY, "/v", "label", "/t", "REG_SZ", "/d", "lab-1",
                      "/f")
        try:
            self.measure_from_the_window(f"{case}, a label stored", "lab-1")
        finally:
            self.wine.run("reg", "delete", SETTINGS_KEY, "/v", "label", "/f")

    def cli_says_its_version(self, case):
        code, out = self.wine.run(os.path.join(self.installed, "zelvor-cli.exe"), "--version")
        self.check((code, out) == (0, f"zelvor-cli {self.release}\n"),
                   f"{case}: the installed zelvor-cli.exe says {self.release} ({code}, {out!r})")

    def run(self, msi, version, rebuilt_msi, newer_msi, newer_version):
        site = f"127.0.0.1:{self.site.port}"
        other_site = "127.0.0.1:1"
        self.wine.run("reg", "add", SETTINGS_KEY, "/v", USER_VALUE[0], "/t", "REG_SZ", "/d",
                      USER_VALUE[1], "/f")
        none = set()
        # case, msiexec's arguments and exit code, then what is installed
        # after it (version, the site value, the program's values), and what
        # is then done with it.
        cases = [
            ("install with SITE", ["/i", msi, f"SITE={site}"], 0,
             version, site, none, self.measure_with_and_without_a_label),
            ("a rebuild replaces it, SITE given replacing the site",
             ["/i", rebuilt_msi, f"SITE={other_site}"], 0, version, other_site, PROGRAM_VALUES,
             None),
            ("an upgrade without SITE keeps the site", ["/i", newer_msi], 0,
             newer_version, other_site, PROGRAM_VALUES, None),
            ("an older package is refused", ["/i", msi], INSTALL_FAILURE,
             newer_version, other_site, PROGRAM_VALUES, None),
            ("removal", ["/x", newer_msi], 0, None, None, PROGRAM_VALUES, None),
            ("install without SITE writes no site", ["/i", msi], 0,
             version, None, PROGRAM_VALUES, self.cli_says_its_version),
            ("removal of what was installed without SITE", ["/x", msi], 0,
             None, None, PROGRAM_VALUES, None),
        ]
        for case, arguments, expected_code, installed, site_value, program_values, use in cases:
            code, _ = self.wine.run("msiexec", *arguments, "/qn")
            self.check(code == expected_code, f"{case}: msiexec ends with {expected_code} ({code})")
            self.check_installed(case, installed, site_value, program_values)
            if use:
                use(case)


def main():
    (msi, version, rebuilt_msi, newer_msi, newer_version, release, zelvor, zelvor_cli, icon,
     driver, site_program) = sys.argv[1:12]
    if not site_program:
        skip("no zelvor-site built for this machine was given (ZELVOR_HOST_SITE)")
    for program in ("wine", "Xvfb"):
        if not shutil.which(program):
            skip(f"{program} is not installed")

    def out_of_time(*_):
        raise TimeoutError(f"the run took over {RUN_SECONDS} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, out_of_time)
    signal.alarm(RUN_SECONDS)
    work = tempfile.mkdtemp(prefix="zelvor-installer.")
    failures = []
    site = display = wine = None
    try:
        try:
            site = RealSite(site_program, os.path.join(work, "site"),
                            f"{CLASS}:127.0.0.1:80\n{CLASS}:127.0.0.2:80\n".encode())
            display = VirtualDisplay(os.path.join(work, "xvfb.log"))
            display.start()
            wine = Wine(work, display.name)
            cases = Cases(wine, work, {"zelvor.exe": zelvor, "zelvor-cli.exe": zelvor_cli}, icon,
                          driver, release, site, failures)
            wine.start()
            cases.run(msi, version, rebuilt_msi, newer_msi, newer_version)
        finally:
            if wine:
                wine.stop()
            if display:
                display.stop()
            if site:
                site.stop()
    except GuiTestFailure as failure:
        failures.append(str(failure))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print(f"installer-cases: {failure}", file=sys.stderr)
    return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
