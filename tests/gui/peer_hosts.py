"""The test hosts the gui cases measure, by how the ICMP peer answers them
(its plan is given in tests/gui/CMakeLists.txt), and the server lists that
name them.
"""

FAST_DELAY_MS = 5
SLOW_DELAY_MS = 700


def fast(number):
    """Answers after FAST_DELAY_MS."""
    return f"198.18.1.{number}"


def silent(number):
    """Never answers."""
    return f"198.18.2.{number}"


def slow(number):
    """Answers after SLOW_DELAY_MS."""
    return f"198.18.3.{number}"


def server_list(*entries):
    """The site's list for (class, host) entries, in that order."""
    return "".join(f"{name}:{host}:80\n" for name, host in entries).encode()
