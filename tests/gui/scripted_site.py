"""The site Zelvor talks to, played on 127.0.0.1:80 inside the test's network
namespace: the server list on GET /zv_fetch, a handle for a POST to /zelvor
(or a failure status instead, as a site that refuses the report answers),
and every byte each connection brought, recorded whole. The list can be held
back until the test releases it, so that the test sees the fetch under way.
"""

import socket
import threading
import time

ADDRESS = ("127.0.0.1", 80)
HEAD_LIMIT = 64 * 1024
BODY_LIMIT = 4 * 1024 * 1024
# Each read waits this long at most; a connection is given up after the
# whole exchange has taken CONNECTION_SECONDS, longer than zelvor waits for
# a job at its exit, so that a held list can outlast that wait.
STEP_SECONDS = 0.5
CONNECTION_SECONDS = 20


def _content_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            try:
                return max(0, int(value.strip()))
            except ValueError:
                return 0
    return 0


LIST_REQUEST = (b"GET", b"/zv_fetch")
RESULTS_REQUEST = (b"POST", b"/zelvor")


class ScriptedSite:
    def __init__(self, server_list, handle, hold_list=False, results_status=200):
        self._answers = {LIST_REQUEST: server_list, RESULTS_REQUEST: handle}
        self._results_status = results_status
        self._list_released = threading.Event()
        self._list_asked = threading.Event()
        if not hold_list:
            self._list_released.set()
        self._lock = threading.Lock()
        self._requests = []
        self._stopping = threading.Event()
        self._listener = None
        self._thread = None

    def start(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(ADDRESS)
        listener.listen(8)
        listener.settimeout(STEP_SECONDS)
        self._listener = listener
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def stop(self):
        self._stopping.set()
        self._list_released.set()
        if self._thread is not None:
            self._thread.join(CONNECTION_SECONDS + 2 * STEP_SECONDS)
        if self._listener is not None:
            self._listener.close()

    def release_list(self):
        self._list_released.set()

    def list_asked(self):
        """True once a list request has come in whole."""
        return self._list_asked.is_set()

    def requests(self):
        """The bytes of each connection so far, in the order they ended."""
        with self._lock:
            return list(self._requests)

    def _serve(self):
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with connection:
                received = self._exchange(connection)
            with self._lock:
                self._requests.append(received)

    def _exchange(self, connection):
        connection.settimeout(STEP_SECONDS)
        deadline = time.monotonic() + CONNECTION_SECONDS
        received = bytearray()

        def read_more():
            while time.monotonic() < deadline and not self._stopping.is_set():
                try:
                    chunk = connection.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    return False
                received.extend(chunk)
                return bool(chunk)
            return False

        while b"\r\n\r\n" not in received and len(received) < HEAD_LIMIT:
            if not read_more():
                return bytes(received)
        head, _, _ = bytes(received).partition(b"\r\n\r\n")
        wanted = len(head) + 4 + min(_content_length(head), BODY_LIMIT)
        while len(received) < wanted:
            if not read_more():
                return bytes(received)
        method, _, rest = head.partition(b" ")
        # Routed by the path alone, as the real site routes; the query stays
        # in the recorded bytes for the cases that check it.
        request = (method, rest.partition(b" ")[0].partition(b"?")[0])
        if request == LIST_REQUEST:
            self._list_asked.set()
            self._list_released.wait(max(0, deadline - time.monotonic()))
        body = self._answers.get(request)
        if body is None:
            reply = b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"
        elif request == RESULTS_REQUEST and self._results_status != 200:
            reply = b"HTTP/1.0 %d Refused\r\nContent-Length: 0\r\n\r\n" % self._results_status
        else:
            reply = (b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n"
                     b"Content-Length: %d\r\n\r\n" % len(body)) + body
        try:
            connection.sendall(reply)
            connection.shutdown(socket.SHUT_WR)
        except OSError:
            return bytes(received)
        # Whatever else the client sends before it closes counts too.
        while read_more():
            pass
        return bytes(received)
