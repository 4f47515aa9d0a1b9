"""Talking to the live view (sim/view/) over plain sockets, so that a test
decides exactly what is sent, when a client goes away and what it reads.
Loopback only. Shared by tests/test_view*.py and bench/bench_view.py."""

import json
import os
import pathlib
import socket
import struct
import subprocess
import sys
import textwrap
from urllib.parse import urlsplit

HERE = pathlib.Path(__file__).resolve().parent


def run_child(code, timeout=60, stack_limit=None, **environment):
    """Runs `code` in a child interpreter (a process has one view for life),
    without the view's settings of this one unless given; `stack_limit` caps
    the stack of every thread of the child (bytes; Linux)."""
    env = dict(os.environ)
    for name in ("ZSIM_VIEW", "ZSIM_VIEW_REMOTE", "ZSIM_VIEW_WAIT", "ZSIM_VIEW_HOLD"):
        env.pop(name, None)
    env.update(environment)
    # the tests' helpers (viewkit) on the path from inside: Windows' embeddable
    # CPython, which the Windows wheel is tested on, ignores PYTHONPATH
    code = "import sys\nsys.path.insert(0, %r)\n" % str(HERE) + textwrap.dedent(code)
    limit = None
    if stack_limit:
        import resource

        def limit():
            resource.setrlimit(resource.RLIMIT_STACK, (stack_limit, resource.getrlimit(resource.RLIMIT_STACK)[1]))
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=timeout,
                          preexec_fn=limit)


def endpoint(url):
    """(host, port) of a view URL."""
    parts = urlsplit(url)
    return parts.hostname, parts.port


def request(url, path="/", method="GET", host=None, timeout=10.0):
    """(status, headers as a dict with lower-case names, body bytes) of one
    request; `host` is the Host header (the URL's own by default)."""
    address = endpoint(url)
    host = urlsplit(url).netloc if host is None else host
    head = f"{method} {path} HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n"
    with socket.create_connection(address, timeout=timeout) as s:
        s.sendall(head.encode("latin-1"))
        return parse_response(read_all(s))


def raw(url, data, timeout=10.0):
    """Sends bytes as they are and returns what came back before the server
    closed (or b"" after `timeout` of silence)."""
    with socket.create_connection(endpoint(url), timeout=timeout) as s:
        s.sendall(data)
        try:
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        return read_all(s)


def read_all(s):
    chunks = []
    try:
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    except (socket.timeout, ConnectionResetError):
        pass
    return b"".join(chunks)


def parse_response(data):
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1]) if lines[0].startswith("HTTP/") else 0
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    if headers.get("transfer-encoding") == "chunked":
        body = unchunk(body)
    return status, headers, body


def unchunk(body):
    out, rest = [], body
    while rest:
        size_text, _, rest = rest.partition(b"\r\n")
        size = int(size_text.split(b";")[0] or b"0", 16)
        if size == 0:
            break
        out.append(rest[:size])
        rest = rest[size + 2:]
    return b"".join(out)


def state(url):
    status, _, body = request(url, "/state.json")
    assert status == 200, status
    return json.loads(body)


def controller(url, address):
    """The view's record of the controller at `address`."""
    found = [c for c in state(url)["controllers"] if c["address"] == address]
    assert len(found) == 1, [c["address"] for c in state(url)["controllers"]]
    return found[0]


class Stream:
    """One viewer of /events: the frames it reads, as dicts."""

    def __init__(self, url, timeout=10.0):
        self.socket = socket.create_connection(endpoint(url), timeout=timeout)
        host = urlsplit(url).netloc
        self.socket.sendall(f"GET /events HTTP/1.1\r\nHost: {host}\r\nAccept: text/event-stream\r\n\r\n"
                            .encode())
        self.buffer = b""
        self.status = None

    def _fill(self):
        chunk = self.socket.recv(65536)
        if not chunk:
            raise ConnectionError("the view closed the stream")
        self.buffer += chunk

    def _head(self):
        while b"\r\n\r\n" not in self.buffer:
            self._fill()
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        self.status, self.headers, _ = parse_response(head + b"\r\n\r\n")
        self.text = b""  # the event stream, chunk framing removed

    def _events(self):
        """Moves whole chunks from the buffer into self.text."""
        while True:
            size_text, sep, rest = self.buffer.partition(b"\r\n")
            if not sep:
                return
            size = int(size_text, 16)
            if len(rest) < size + 2:
                return
            self.text += rest[:size]
            self.buffer = rest[size + 2:]

    def sample(self):
        """The next sample of the state the view sends (skipping keep-alives)."""
        if self.status is None:
            self._head()
            if self.status != 200:
                raise ConnectionError(f"status {self.status}")
        while True:
            self._events()
            while b"\n\n" in self.text:
                event, _, self.text = self.text.partition(b"\n\n")
                data = [line[5:].strip() for line in event.split(b"\n") if line.startswith(b"data:")]
                if data:
                    return json.loads(b"".join(data))
            self._fill()

    def first_status(self):
        if self.status is None:
            self._head()
        return self.status

    def close(self, abrupt=False):
        if abrupt:  # a reset, as when a browser tab is killed
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.socket.close()

