"""A slow-loris crowd: 2 000 connections that send nothing, or stop part-way through a request,
while /heartbeat must keep answering at once. The program starts with the soft limit on open
descriptors that a session usually hands out (1024), so it has to make room for the crowd itself."""
import select
import socket
import time
import unittest

import harness
import watch

CROWD = 2000
# The soft limit a desktop session usually starts programs with (the hard limit is far higher).
USUAL_SOFT_LIMIT = 1024
RECEIVE_TIMEOUT = 10.0


def accept_queue():
    """Connections the kernel has completed that the program has not taken yet: for a listening
    socket, /proc/net/tcp's rx_queue is its accept queue."""
    local = "0100007F:%04X" % harness.PORT
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if fields[1] == local and fields[3] == "0A":
                return int(fields[4].split(":")[1], 16)
    raise AssertionError("nothing listens on 127.0.0.1:%d" % harness.PORT)


class Crowd:
    """Silent connections, and how long each lived until the server cut it (noted as it comes,
    so that a slow start of the crowd does not lengthen the lives of its first members)."""

    def __init__(self):
        self.poller = select.poll()
        self.pending = {}
        self.lived = []

    def add(self, sock, opened):
        self.poller.register(sock.fileno(), select.POLLIN)
        self.pending[sock.fileno()] = (sock, opened)

    def note_cuts(self, wait_ms=0):
        for fileno, _ in self.poller.poll(wait_ms):
            sock, opened = self.pending.pop(fileno)
            self.poller.unregister(fileno)
            self.lived.append(time.monotonic() - opened)
            try:
                data = sock.recv(4096)
            except ConnectionResetError:
                data = b""
            if data:
                raise AssertionError("a silent client got an answer: %r" % data[:200])
            sock.close()

    def close(self):
        for sock, _ in self.pending.values():
            sock.close()


class SlowLoris(watch.FaultTest):
    DESCRIPTORS = CROWD + 500

    @classmethod
    def start_bridge(cls):
        with watch.descriptor_soft_limit(USUAL_SOFT_LIMIT):
            return harness.Bridge()

    def open_crowd(self):
        """The crowd, each socket with the time it was connected, and when the server cut it."""
        crowd = Crowd()

        def caught_up():
            crowd.note_cuts()
            return accept_queue() <= 64

        for index in range(CROWD):
            # Kept within half the listen backlog of what the program has taken, so that no
            # connection, a probe's included, waits out a dropped SYN.
            if index % 32 == 0 and not harness.wait_for(caught_up, limit=30):
                self.fail("%d connections waiting to be taken after %d; the program's %s" %
                          (accept_queue(), index, self.process.open_files_limit()))
            connecting = time.monotonic()  # the server's receive limit cannot start earlier
            try:
                sock = socket.create_connection(("127.0.0.1", harness.PORT), timeout=30)
            except OSError as error:
                self.fail("connection %d of the crowd was not taken (%r); the program's %s" %
                          (index, error, self.process.open_files_limit()))
            # Most send nothing; some stop inside the request line or after it.
            if index % 4 == 1:
                sock.sendall(b"GET /heartbeat HTTP/1.1\r\n")
            elif index % 4 == 2:
                sock.sendall(b"GE")
            crowd.add(sock, connecting)
        return crowd

    def every_member_has_a_thread(self, crowd, idle_threads):
        """Every member taken and not yet cut holds a connection thread of its own. Threads are
        read before the cuts: a member still uncut then had its thread when they were read."""
        threads = self.process.threads()
        crowd.note_cuts()
        return accept_queue() == 0 and threads - idle_threads >= len(crowd.pending)

    def test_a_silent_crowd_holds_up_nobody_and_is_cut_after_the_receive_timeout(self):
        idle = self.process.idle()
        prober = watch.Prober()
        prober.start()
        crowd = None
        try:
            crowd = self.open_crowd()
            self.assertTrue(harness.wait_for(lambda: self.every_member_has_a_thread(crowd, idle[0]), limit=30),
                            "%d threads for %d members not yet cut; the program's %s" %
                            (self.process.threads() - idle[0], len(crowd.pending), self.process.open_files_limit()))
            held, answered_before = time.monotonic(), len(prober.latencies)
            deadline = held + RECEIVE_TIMEOUT + 30 * watch.SLOWDOWN
            while crowd.pending and time.monotonic() < deadline:
                crowd.note_cuts(200)
            self.assertFalse(crowd.pending, "%d connections were never cut" % len(crowd.pending))
            answered_while_held = len(prober.latencies) - answered_before
            held = time.monotonic() - held
        finally:
            prober.stop()
            if crowd:
                crowd.close()

        summary = "%s; the program's %s" % (prober.summary(), self.process.open_files_limit())
        self.assertFalse(prober.failures, summary)
        # Held up by the crowd, a heartbeat would wait for its cut at the receive limit.
        self.assertLess(max(prober.latencies), RECEIVE_TIMEOUT / 2, summary)
        self.assertGreater(answered_while_held, held / 2.0, summary)
        self.assertGreaterEqual(min(crowd.lived), RECEIVE_TIMEOUT - 0.5)
        self.assertLess(max(crowd.lived), RECEIVE_TIMEOUT + 5 * watch.SLOWDOWN)

        self.assertEqual(self.process.settle(idle, limit=60), idle, "threads and descriptors left behind")
        watch.heartbeat()


if __name__ == "__main__":
    unittest.main()
