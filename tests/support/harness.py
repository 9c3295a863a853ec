"""Starts the real program, talks to it over real sockets and watches it through /proc: for the
integration and fault tests, the benchmarks and the tray's end-to-end test.

Every test module runs inside a network namespace of its own (tests/netns-run), so the program's
127.0.0.1:17668 is private to the test and nothing can leave the machine.
"""
import os
import re
import shlex
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")
_UNITS = {"seconds": 1, "milliseconds": 1e-3}


def program_constant(header, name):
    """A number the program defines as a constexpr in src/<header>; a duration comes in seconds.
    Read from the source, so that a test never holds a copy that could drift from it."""
    with open(os.path.join(SOURCE, header), encoding="utf-8") as source:
        text = source.read()
    found = re.search(r"(?:std::chrono::(\w+)\s+)?\b" + name + r"\s*(?:\{|=\s*(?:std::chrono::(\w+)\()?)([0-9u* ]+)", text)
    if found is None:
        raise LookupError(f"{name} is not defined in src/{header}")
    value = 1
    for factor in found.group(3).replace("u", "").split("*"):
        value *= int(factor)
    unit = found.group(1) or found.group(2)
    return value * _UNITS[unit] if unit else value


PORT = program_constant("common/service.h", "LISTEN_PORT")
# How long a connection thread whose connection ended waits for the next one before it ends.
THREAD_LINGER = program_constant("http/server.h", "THREAD_LINGER")
PROGRAM = os.environ.get("NEROVA_BRIDGE", "")
# For the Windows build: the command that runs a Windows program (tests/wine-run).
LAUNCHER = shlex.split(os.environ.get("NEROVA_LAUNCHER", ""))
ON_WINE = bool(LAUNCHER)
SAMPLE_KEY = "dGhlIHNhbXBsZSBub25jZQ=="
SAMPLE_ACCEPT = "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="


def port_open(host="127.0.0.1", port=PORT):
    try:
        with socket.create_connection((host, port), timeout=0.2):
            return True
    except OSError:
        return False


def answers_heartbeat(timeout=2.0):
    try:
        with socket.create_connection(("127.0.0.1", PORT), timeout=timeout) as sock:
            sock.sendall(b"GET /heartbeat HTTP/1.1\r\n\r\n")
            return sock.recv(16).startswith(b"HTTP/1.1 200 ")
    except OSError:
        return False


def wait_for(predicate, limit, pause=0.05):
    """Whether `predicate` came true within `limit` seconds."""
    deadline = time.monotonic() + limit
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(pause)
    return True


class Process:
    """A running program as /proc shows it (Linux only)."""

    def __init__(self, pid):
        self.pid = pid
        self.proc = "/proc/%d" % pid

    def threads(self):
        return len(os.listdir(self.proc + "/task"))

    def fds(self):
        return len(os.listdir(self.proc + "/fd"))

    def counts(self):
        return self.threads(), self.fds()

    def _kib(self, name, field):
        with open(self.proc + "/" + name) as lines:
            return int(next(line for line in lines if line.startswith(field + ":")).split()[1])

    def status_kib(self, field):
        """A size from /proc/PID/status, e.g. VmRSS or VmSize."""
        return self._kib("status", field)

    def rss_kib(self):
        return self.status_kib("VmRSS")

    def anonymous_kib(self):
        return self._kib("smaps_rollup", "Anonymous")

    def open_files_limit(self):
        with open(self.proc + "/limits") as limits:
            return next(line.strip() for line in limits if line.startswith("Max open files"))

    def idle(self, quiet=THREAD_LINGER + 0.5, limit=60.0):
        """Threads and descriptors once they have held still for `quiet` seconds (longer than a
        finished connection thread waits for the next connection). Counts that rise count as much
        as counts that fall: a sanitizer's thread or a socket made a moment late is part of idle."""
        deadline = time.monotonic() + limit
        last, since = self.counts(), time.monotonic()
        while time.monotonic() - since < quiet:
            if time.monotonic() > deadline:
                raise AssertionError("threads and descriptors never held still for %.1f s (last %r)" % (quiet, last))
            time.sleep(0.05)
            now = self.counts()
            if now != last:
                last, since = now, time.monotonic()
        return last

    def settle(self, idle, limit):
        """Waits until threads and descriptors are back to `idle`; the counts last seen."""
        deadline = time.monotonic() + limit
        while True:
            now = self.counts()
            if now == idle or time.monotonic() > deadline:
                return now
            time.sleep(0.05)


class Bridge:
    """One running copy of the program with a private APPDATA."""

    def __init__(self, env_changes=None, cwd=None, wait=True, preexec_fn=None, stderr=subprocess.PIPE):
        self.home = tempfile.mkdtemp(prefix="nerova-it-")
        env = dict(os.environ)
        if ON_WINE:
            env.pop("APPDATA", None)  # each Wine prefix has an APPDATA of its own
        else:
            env["APPDATA"] = os.path.join(self.home, "appdata")
        for key, value in (env_changes or {}).items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        self.process = subprocess.Popen(
            LAUNCHER + [PROGRAM], env=env, cwd=cwd or self.home, stdout=subprocess.PIPE,
            stderr=stderr, start_new_session=True, preexec_fn=preexec_fn)
        if wait:
            self.wait_until_serving()

    def wait_until_serving(self, limit=60.0):
        """Until /heartbeat is answered. An open port is not enough: the kernel completes a
        connection from the backlog as soon as the listener exists, before start-up has made the
        rest of the program."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise AssertionError("program ended early: %r" % (self.process.stderr and self.process.stderr.read(),))
            if answers_heartbeat():
                return
            time.sleep(0.02)
        raise AssertionError("program never answered /heartbeat on 127.0.0.1:%d" % PORT)

    def read_stderr(self):
        """What the program wrote to standard error, once it has ended. Under Wine the stream is
        shared with Wine's own reports ("wine: ...", from any process of the prefix, such as the
        desktop process a first window call starts): those are shown in the test's log, not
        counted as the program's."""
        lines = self.process.stderr.read().decode().splitlines(keepends=True)
        if not ON_WINE:
            return "".join(lines)
        for line in lines:
            if line.startswith("wine: "):
                print("\n(Wine) " + line.rstrip(), file=sys.stderr)
        return "".join(line for line in lines if not line.startswith("wine: "))

    @property
    def token_file(self):
        return os.path.join(self.home, "appdata", "NerovaBridge", "token.txt")

    def token(self):
        if not ON_WINE:
            with open(self.token_file, "rb") as handle:
                return handle.read().decode()
        return get_status()["token"]

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process.stdout.close()
        if self.process.stderr:
            self.process.stderr.close()
        shutil.rmtree(self.home, ignore_errors=True)


class BridgeTest(unittest.TestCase):
    """One program for the whole test class, watched as `process`."""

    @classmethod
    def setUpClass(cls):
        if not PROGRAM:
            raise unittest.SkipTest("NEROVA_BRIDGE names no program")
        cls.bridge = cls.start_bridge()
        cls.process = Process(cls.bridge.process.pid)

    @classmethod
    def start_bridge(cls):
        return Bridge()

    @classmethod
    def tearDownClass(cls):
        cls.bridge.stop()


def connect(timeout=5.0, receive_buffer=None):
    """A client; with `receive_buffer`, one whose receive window stays that small."""
    sock = socket.socket()
    if receive_buffer:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    sock.settimeout(timeout)
    sock.connect(("127.0.0.1", PORT))
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return sock


def read_all(sock):
    chunks = []
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


def exchange(raw: bytes, timeout=10.0) -> bytes:
    with connect(timeout) as sock:
        sock.sendall(raw)
        return read_all(sock)


def request(method="GET", target="/", headers=()) -> bytes:
    head = "%s %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % (method, target, PORT)
    head += "".join("%s: %s\r\n" % pair for pair in headers)
    return exchange((head + "\r\n").encode())


def split_answer(raw: bytes):
    head, _, body = raw.partition(b"\r\n\r\n")
    lines = head.decode().split("\r\n")
    headers = [tuple(line.split(": ", 1)) for line in lines[1:]]
    return lines[0], headers, body


def get_status():
    import json
    _, _, body = split_answer(request("GET", "/status"))
    return json.loads(body)


def answer(status, reason, content_type, cache, body: bytes) -> bytes:
    return ("HTTP/1.1 %d %s\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Private-Network: true\r\n"
            "Content-Type: %s\r\nCache-Control: %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
            % (status, reason, content_type, cache, len(body))).encode() + body


NOT_FOUND = answer(404, "Not Found", "text/plain; charset=utf-8", "no-store", b"404 page not found\n")
PREFLIGHT = (b"HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: *\r\n"
             b"Access-Control-Allow-Private-Network: true\r\nAccess-Control-Allow-Methods: GET, OPTIONS\r\n"
             b"Access-Control-Allow-Headers: *\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


# --- WebSocket frames written by hand ---------------------------------------------------------

def client_frame(opcode, payload=b"", masked=True, fin=True):
    header = bytes([(0x80 if fin else 0) | opcode])
    bit = 0x80 if masked else 0
    size = len(payload)
    if size < 126:
        header += bytes([bit | size])
    elif size < 65536:
        header += bytes([bit | 126]) + struct.pack("!H", size)
    else:
        header += bytes([bit | 127]) + struct.pack("!Q", size)
    if not masked:
        return header + payload
    key = os.urandom(4)
    return header + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


def upgrade_request(token, key=SAMPLE_KEY, extra_headers=(), upgrade="websocket"):
    lines = ["GET /live?token=%s HTTP/1.1" % token, "Host: 127.0.0.1:%d" % PORT, "Upgrade: %s" % upgrade,
             "Connection: Upgrade", "Sec-WebSocket-Key: %s" % key, "Sec-WebSocket-Version: 13"]
    lines += ["%s: %s" % pair for pair in extra_headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


class Channel:
    """A live channel opened by hand; raises EOFError when the program closes during the handshake."""

    def __init__(self, token, extra_headers=(), first_bytes=b"", timeout=10.0, receive_buffer=None):
        self.sock = connect(timeout, receive_buffer)
        self.sock.sendall(upgrade_request(token, extra_headers=extra_headers) + first_bytes)
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                self.sock.close()
                raise EOFError("closed during the handshake: %r" % self.buffer)
            self.buffer += chunk
        self.head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        self.head = self.head.decode()

    def _take(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError("connection closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def next_frame(self, timeout=None):
        """(opcode, payload) of the next server frame; raises EOFError when the server closed."""
        if timeout is not None:
            self.sock.settimeout(timeout)
        first, second = self._take(2)
        if second & 0x80:
            raise AssertionError("server frames must not be masked")
        size = second & 0x7F
        if size == 126:
            size = struct.unpack("!H", self._take(2))[0]
        elif size == 127:
            size = struct.unpack("!Q", self._take(8))[0]
        return first & 0x0F, self._take(size)

    def opcodes_until_closed(self, timeout=5):
        """The opcodes of every frame until the program closes the connection."""
        opcodes = []
        while True:
            try:
                opcodes.append(self.next_frame(timeout)[0])
            except EOFError:
                return opcodes

    def send(self, frame: bytes):
        self.sock.sendall(frame)

    def close(self):
        self.sock.close()
