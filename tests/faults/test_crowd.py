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


class SlowLoris(watch.FaultTest):
    DESCRIPTORS = CROWD + 500

    @classmethod
    def start_bridge(cls):
        with watch.descriptor_soft_limit(USUAL_SOFT_LIMIT):
            return harness.Bridge()

    def open_crowd(self, idle_threads):
        """The crowd, each socket with the time it was connected."""
        crowd = []
        for index in range(CROWD):
            # Kept within half the listen backlog of what the program has taken, so that no
            # connection, a probe's included, waits out a dropped SYN.
            if index % 32 == 0 and not harness.wait_for(
                    lambda: self.process.threads() - idle_threads >= index - 64, limit=30):
                self.fail("%d threads for %d connections; the program's %s" %
                          (self.process.threads() - idle_threads, index, self.process.open_files_limit()))
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
            crowd.append((sock, connecting))
        return crowd

    def wait_until_cut(self, crowd, limit):
        """Seconds from connecting to the server's close, for every socket of the crowd."""
        poller = select.poll()
        pending = {}
        for sock, opened in crowd:
            poller.register(sock.fileno(), select.POLLIN)
            pending[sock.fileno()] = (sock, opened)
        lived = []
        deadline = time.monotonic() + limit
        while pending and time.monotonic() < deadline:
            for fileno, _ in poller.poll(200):
                sock, opened = pending.pop(fileno)
                poller.unregister(fileno)
                lived.append(time.monotonic() - opened)
                try:
                    data = sock.recv(4096)
                except ConnectionResetError:
                    data = b""
                self.assertEqual(data, b"", "a silent client got an answer")
        self.assertFalse(pending, "%d connections were never cut" % len(pending))
        return lived

    def test_a_silent_crowd_holds_up_nobody_and_is_cut_after_the_receive_timeout(self):
        idle = self.process.idle()
        prober = watch.Prober()
        prober.start()
        crowd = []
        try:
            crowd.extend(self.open_crowd(idle[0]))
            # Every member of the crowd holds a connection thread of its own.
            self.assertTrue(harness.wait_for(lambda: self.process.threads() >= idle[0] + CROWD, limit=30),
                            "%d threads for a crowd of %d; the program's %s" %
                            (self.process.threads() - idle[0], CROWD, self.process.open_files_limit()))
            held, answered_before = time.monotonic(), len(prober.latencies)
            lived = self.wait_until_cut(crowd, limit=RECEIVE_TIMEOUT + 30 * watch.SLOWDOWN)
            answered_while_held = len(prober.latencies) - answered_before
            held = time.monotonic() - held
        finally:
            prober.stop()
            for sock, _ in crowd:
                sock.close()

        summary = "%s; the program's %s" % (prober.summary(), self.process.open_files_limit())
        self.assertFalse(prober.failures, summary)
        # Held up by the crowd, a heartbeat would wait for its cut at the receive limit.
        self.assertLess(max(prober.latencies), RECEIVE_TIMEOUT / 2, summary)
        self.assertGreater(answered_while_held, held / 2.0, summary)
        self.assertGreaterEqual(min(lived), RECEIVE_TIMEOUT - 0.5)
        self.assertLess(max(lived), RECEIVE_TIMEOUT + 5 * watch.SLOWDOWN)

        self.assertEqual(self.process.settle(idle, limit=60), idle, "threads and descriptors left behind")
        watch.heartbeat()


if __name__ == "__main__":
    unittest.main()
