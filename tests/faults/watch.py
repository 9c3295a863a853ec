"""The limits the fault tests run the program under, a prober of its latency, and how it must end.

The program runs inside the test's own network namespace (tests/netns-run); harness.Process reads
its threads, descriptors and memory from /proc.
"""
import contextlib
import os
import resource
import signal
import socket
import threading
import time
import unittest

import harness

# Set by CMake from NEROVA_SANITIZE: sanitizers slow the program down and keep memory of their own.
SANITIZERS = os.environ.get("NEROVA_SANITIZE", "")
SANITIZED = bool(SANITIZERS)
SLOWDOWN = 4.0 if SANITIZED else 1.0
HEARTBEAT = b"GET /heartbeat HTTP/1.1\r\n\r\n"


@contextlib.contextmanager
def descriptor_soft_limit(value):
    """Children started inside the block inherit this soft limit on open descriptors."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(value, hard), hard))
    try:
        yield
    finally:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))


@contextlib.contextmanager
def small_address_sanitizer_quarantine():
    """Children started inside the block hold at most 8 MiB of freed memory back for the address
    sanitizer's use-after-free checks (256 MiB by default), so that their resident size shows
    leaks rather than the quarantine filling up."""
    before = os.environ.get("ASAN_OPTIONS")
    os.environ["ASAN_OPTIONS"] = ((before + " ") if before else "") + "quarantine_size_mb=8"
    try:
        yield
    finally:
        if before is None:
            del os.environ["ASAN_OPTIONS"]
        else:
            os.environ["ASAN_OPTIONS"] = before


def raise_descriptor_limit(need):
    """Lets this test process hold `need` descriptors, or says why it cannot."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard != resource.RLIM_INFINITY and hard < need:
        return "the hard limit on open descriptors is %d, below the %d this test needs" % (hard, need)
    if soft != resource.RLIM_INFINITY and soft < need:
        resource.setrlimit(resource.RLIMIT_NOFILE, (need, hard))
    return None


def reset(sock):
    """Closes with a TCP reset instead of a FIN."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


def heartbeat(timeout=10.0):
    """Seconds one /heartbeat took; fails unless it was answered in full."""
    started = time.monotonic()
    raw = harness.exchange(HEARTBEAT, timeout=timeout)
    elapsed = time.monotonic() - started
    line, _, body = harness.split_answer(raw)
    if line != "HTTP/1.1 200 OK" or not body.startswith(b'{"ok":true,"ts":'):
        raise AssertionError("heartbeat answered %r" % raw[:200])
    return elapsed


class Prober(threading.Thread):
    """Asks /heartbeat over and over in the background and keeps every latency and failure."""

    def __init__(self, pause=0.05):
        super().__init__(daemon=True)
        self.pause = pause
        self.latencies = []
        self.failures = []
        self.halt = threading.Event()

    def run(self):
        while not self.halt.is_set():
            try:
                self.latencies.append(heartbeat(timeout=30.0))
            except (OSError, AssertionError) as error:
                self.failures.append(repr(error))
            self.halt.wait(self.pause)

    def stop(self):
        self.halt.set()
        self.join()

    def summary(self):
        ordered = sorted(self.latencies) or [float("nan")]
        return "%d answers, median %.3f s, slowest %.3f s, %d failures %s" % (
            len(self.latencies), ordered[len(ordered) // 2], ordered[-1], len(self.failures), self.failures[:3])


def stop_and_check_exit(bridge):
    """Ends the program with SIGTERM: it must still be running, exit 0 and have reported nothing."""
    process = bridge.process
    try:
        if process.poll() is not None:
            raise AssertionError("the program ended on its own with status %r: %r" %
                                 (process.returncode, process.stderr.read()[-4000:]))
        os.killpg(process.pid, signal.SIGTERM)
        status = process.wait(timeout=30)
        errors = process.stderr.read().decode(errors="replace")
    finally:
        bridge.stop()
    if status != 0 or any(marker in errors for marker in ("Sanitizer", "runtime error", "failed to spawn")):
        raise AssertionError("the program ended with status %d: %s" % (status, errors[-4000:]))


class FaultTest(harness.BridgeTest):
    """One program for the test class, with its `token`, which must end well; DESCRIPTORS is how
    many descriptors this test process needs to hold."""
    DESCRIPTORS = 0

    @classmethod
    def setUpClass(cls):
        why_not = raise_descriptor_limit(cls.DESCRIPTORS)
        if why_not:
            raise unittest.SkipTest(why_not)
        super().setUpClass()
        cls.token = cls.bridge.token()

    @classmethod
    def tearDownClass(cls):
        stop_and_check_exit(cls.bridge)
