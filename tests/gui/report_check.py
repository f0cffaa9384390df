"""What the site must have received as the results of a run: the POST's
exact head, and a report whose every line is exact but the round-trip times,
which are checked against the range they must lie in. A report kept unsent
is checked the same way.
"""

import re

from checks import GuiTestFailure, expect, expect_equal

LIST_REQUEST = b"GET /zv_fetch HTTP/1.0\r\nHost: localhost\r\n\r\n"
RESULTS_ADDRESS = "http://localhost/zelvor?handle="


def expect_results_post(request, class_name, servers, loops, timeout_ms, target=b"/zelvor"):
    """`servers` holds (host, outcome) in the class's order, the outcome being
    the lowest round-trip time in ms the host can show, or the failure text
    each of its samples must carry. `target`: the path and query posted to.
    """
    head, separator, body = request.partition(b"\r\n\r\n")
    expect(separator, f"the results request has no end of head: {request!r}")
    expect_equal(head + separator,
                 b"POST %s HTTP/1.0\r\nContent-length: %d\r\nHost: localhost\r\n\r\n"
                 % (target, len(body)), "the results request's head")
    expect_report(body, class_name, servers, loops, timeout_ms)


def expect_report(body, class_name, servers, loops, timeout_ms):
    """The report alone, as expect_results_post checks it."""
    lines = body.decode().split("\n")
    expected_count = 1 + len(servers) * loops + 2
    if len(lines) != expected_count:
        raise GuiTestFailure(f"the report has {len(lines) - 1} lines, not "
                             f"{expected_count - 1}:\n{body.decode()}")
    expect_equal(lines[0], class_name, "the report's first line")
    expect_equal(lines[-2:], ["END", ""], "the report's end")
    for index, (host, outcome) in enumerate(servers):
        for line in lines[1 + index * loops:1 + (index + 1) * loops]:
            if isinstance(outcome, str):
                expect_equal(line, f"{host}::{outcome}", "a failed sample's line")
                continue
            match = re.fullmatch(re.escape(host) + r":(0|[1-9][0-9]*):", line)
            if match is None or not outcome <= int(match.group(1)) <= timeout_ms:
                raise GuiTestFailure(f"the sample line {line!r} is not {host}:<time>: with "
                                     f"{outcome} <= time <= {timeout_ms}:\n{body.decode()}")
