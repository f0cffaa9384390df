"""Failures of a window test, and the bounded wait every check is built on."""

import time

POLL_SECONDS = 0.05


class GuiTestFailure(Exception):
    """What a check found wrong; the test prints it and fails."""


class GuiTestSkipped(Exception):
    """Why the machine cannot run a case; the test reports it skipped."""


def wait_until(condition, seconds, what):
    """Polls condition() until it gives something true, and returns that.

    Fails naming `what` once `seconds` have passed without it.
    """
    deadline = time.monotonic() + seconds
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise GuiTestFailure(f"not within {seconds} s: {what}")
        time.sleep(POLL_SECONDS)


def stays_false(condition, seconds):
    """True when condition() stays false for `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return False
        time.sleep(POLL_SECONDS)
    return not condition()


def expect_equal(actual, expected, what):
    if actual != expected:
        raise GuiTestFailure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def expect(condition, what):
    if not condition:
        raise GuiTestFailure(what)
