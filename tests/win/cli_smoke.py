#!/usr/bin/env python3
"""zelvor-cli.exe under Wine: its command line, exit codes and output bytes.

  cli_smoke.py WINE_RUN PREFIX ZELVOR_CLI_EXE

Talks only to 127.0.0.1: a closed port for the site, loopback for the echo.
"""

import re
import socket
import subprocess
import sys

SECONDS = 120


def main():
    wine_run, prefix, program = sys.argv[1:4]
    failures = []

    def run(*arguments):
        done = subprocess.run([wine_run, prefix, program, *arguments], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=SECONDS)
        return done.returncode, done.stdout.decode(errors="replace"), \
            done.stderr.decode(errors="replace")

    def check(arguments, code, out, err):
        """out and err are regular expressions the whole stream must match;
        stderr is a text stream, with CR LF line ends on Windows."""
        actual = run(*arguments)
        if actual[0] != code or not re.fullmatch(out, actual[1], re.S) \
                or not re.fullmatch(err, actual[2], re.S):
            failures.append(f"zelvor-cli {' '.join(arguments)}: expected {code}, {out!r}, "
                            f"{err!r}; got {actual!r}")

    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        closed = probe.getsockname()[1]

    check(["--help"], 0, r"Measures round trips.*Subcommands:.*Exit codes:\n.*  130  .*", "")
    check(["--version"], 0, r"zelvor-cli \d+\.\d+\n", "")
    check([], 3, "", r"zelvor-cli: A subcommand is required\r\n")
    check(["ping", "127.0.0.1", "--loops", "0"], 3, "",
          r"zelvor-cli: --loops 0: not within 1 to 1000\r\n")
    check(["ping", "127.0.0.1", "--format", "xml"], 3, "", r"zelvor-cli: --format: .*\r\n")
    check(["classes", "--site", f"127.0.0.1:{closed}"], 4, "",
          rf"zelvor-cli: Error connecting to 127\.0\.0\.1:{closed}: .*\r\n")
    # The report's bytes exactly, with no CR before its line feeds.
    check(["ping", "127.0.0.1", "--loops", "2", "--engine", "service", "--format", "report"], 0,
          r"ping\n127\.0\.0\.1:\d+:\n127\.0\.0\.1:\d+:\nEND\n", "")

    # Wine 8 has neither a raw ICMPv6 socket nor the IPv6 echo calls: an IPv6
    # host records SOCKERROR or FAILURE while IPv4 beside it is measured.
    columns = r"host,sent,received,loss_percent,BADADDRESS,SOCKERROR,TIMEOUT,EXPIRED,FOREIGN," \
        r"UNREACHABLE,BADHEADER,FAILURE,min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms," \
        r"p90_ms,p95_ms\r?\n"
    for engine, failures_v6 in (("raw", "1,0,0,0,0,0,0"), ("service", "0,0,0,0,0,0,1")):
        check(["ping", "::1", "127.0.0.1", "--loops", "1", "--engine", engine, "--format", "csv"],
              1, columns + rf"::1,1,0,100\.0,0,{failures_v6},,,,,,,,\r?\n"
              r"127\.0\.0\.1,1,1,0\.0,0,0,0,0,0,0,0,0,\d+,.*\r?\n", "")

    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
