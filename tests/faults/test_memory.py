"""What a request head costs, and a page that makes the program run out of memory. The framing
library sets aside room for a whole message as soon as a frame header names its length, so a page
can ask for 64 MiB per channel with 14 bytes. Where memory is committed up front (Windows), enough
channels exhaust it; here an address-space limit set on the running program stands in for that. A
failed allocation must end its own channel only."""
import json
import resource
import socket
import subprocess
import time
import unittest

import harness
import watch

BINARY = 0x2
MESSAGE_LIMIT = harness.program_constant("http/websocket.h", "LIVE_MESSAGE_LIMIT")
# Room for a few channel threads and their buffers, but not for many 64 MiB messages.
HEADROOM = 512 * 1024 * 1024
ATTEMPTS = 16


@unittest.skipIf(watch.SANITIZED, "the sanitizers keep memory of their own")
class RequestHead(unittest.TestCase):
    def test_a_head_of_invalid_bytes_costs_at_most_about_twice_its_size(self):
        bridge = harness.Bridge()
        process = harness.Process(bridge.process.pid)
        heads = []
        try:
            before = process.rss_kib()
            # 100 header lines of 8 KiB of 0xFF each, held open before the blank line.
            head = b"GET / HTTP/1.1\r\n" + b"X: " + b"\xff" * 8189 + b"\r\n"
            head = head[:16] + head[16:] * 100
            for _ in range(20):
                sock = harness.connect()
                sock.sendall(head)
                heads.append(sock)
            harness.wait_for(lambda: process.threads() >= 21, limit=10)
            time.sleep(0.5)
            grown = (process.rss_kib() - before) * 1024
            self.assertLess(grown, 2 * 20 * len(head), "%d bytes for %d sent" % (grown, 20 * len(head)))
        finally:
            for sock in heads:
                sock.close()
            bridge.stop()


@unittest.skipIf(watch.SANITIZED, "the sanitizers need an unlimited address space")
class OutOfMemory(watch.FaultTest):
    def test_a_failed_allocation_ends_only_its_own_channel(self):
        idle = self.process.idle()
        pid = self.bridge.process.pid
        resource.prlimit(pid, resource.RLIMIT_AS,
                         (1024 * self.process.status_kib("VmSize") + HEADROOM, resource.RLIM_INFINITY))
        channels, cut = [], 0
        try:
            # Only the header of a message of the largest size allowed, and a few bytes of it.
            header = bytes([0x80 | BINARY, 0xFF]) + MESSAGE_LIMIT.to_bytes(8, "big") + b"mask"
            for _ in range(ATTEMPTS):
                try:
                    channel = harness.Channel(self.token, timeout=5)
                except EOFError:
                    continue  # no room left for another connection thread: refused, not fatal
                self.assertTrue(channel.head.startswith("HTTP/1.1 101 "), channel.head)
                sock = channel.sock
                sock.sendall(header + b"\0" * 64)
                sock.settimeout(1.0)
                try:
                    if sock.recv(4096) == b"":
                        cut += 1
                except socket.timeout:
                    pass
                except ConnectionResetError:
                    cut += 1
                channels.append(sock)
                if self.bridge.process.poll() is not None:
                    break
            # A network change meanwhile: its refresh, too, must make do without memory.
            subprocess.run("ip link add oom0 type veth peer name oom0-peer", shell=True, check=True)
            time.sleep(2.0)
            if self.bridge.process.poll() is not None:
                self.fail("the program died: %r" % self.bridge.process.stderr.read()[-2000:])
            self.assertGreater(cut, 0, "no allocation failed; the test did not reach its point")
        finally:
            for sock in channels:
                watch.reset(sock)
            resource.prlimit(pid, resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))

        self.assertEqual(self.process.settle(idle, limit=10), idle, "threads and descriptors left behind")
        watch.heartbeat()
        channel = harness.Channel(self.token)
        try:
            opcode, payload = channel.next_frame(timeout=10)
            self.assertEqual(json.loads(payload)["token"], self.token)
        finally:
            channel.close()


if __name__ == "__main__":
    unittest.main()
