"""Live channels under churn: hundreds opened and dropped without a Close, round after round, and a
page that stops reading while its channel keeps writing. After each round the program is back to
its idle threads and descriptors, and its resident memory stays where the first round left it."""
import json
import socket
import time
import unittest

import harness
import watch

TEXT, PING = 0x1, 0x9
CHANNELS = 200
ROUNDS = 5
# Resident memory may settle a little higher than after the first round (allocator caches). A
# leak of only a receive buffer per channel would add 200 x 16 KiB x 4 rounds = 12.5 MiB, which
# the plain build catches (it grows by about 0.4 MiB over the rounds); under the sanitizers the
# resident size rises by a few MiB a round without any leak (their own bookkeeping: about 5 MiB a
# round under the thread sanitizer, for the shadow of each round's new thread stacks), so only
# larger leaks show there.
if "address" in watch.SANITIZERS:
    RSS_SLACK_KIB = 64 * 1024
elif watch.SANITIZED:
    RSS_SLACK_KIB = 40 * 1024
else:
    RSS_SLACK_KIB = 6 * 1024
# What the first round may leave for good: the C library's per-thread malloc arenas.
IDLE_RSS_SLACK_KIB = 16 * 1024


def open_channel(token, receive_buffer=None):
    channel = harness.Channel(token, timeout=30, receive_buffer=receive_buffer)
    if not channel.head.startswith("HTTP/1.1 101 "):
        raise AssertionError(channel.head)
    return channel


def first_data_frame(channel):
    """Opcode and payload of the first server frame that is not a Ping."""
    while True:
        opcode, payload = channel.next_frame()
        if opcode != PING:
            return opcode, payload


class Churn(watch.FaultTest):
    DESCRIPTORS = CHANNELS + 500

    @classmethod
    def start_bridge(cls):
        with watch.small_address_sanitizer_quarantine():
            return harness.Bridge()

    def test_channels_dropped_without_a_close_leave_nothing_behind(self):
        idle = self.process.idle()
        idle_rss = self.process.rss_kib()
        rss_after = []
        for round_number in range(ROUNDS + 1):  # the first round only warms the allocator up
            channels = [open_channel(self.token) for _ in range(CHANNELS)]
            for channel in channels:
                opcode, payload = first_data_frame(channel)
                self.assertEqual(opcode, TEXT)
                self.assertEqual(json.loads(payload)["token"], self.token)
            # One thread and one descriptor each (a router lookup's own thread comes and goes).
            busy = (idle[0] + CHANNELS, idle[1] + CHANNELS)
            self.assertEqual(self.process.settle(busy, limit=30 * watch.SLOWDOWN), busy)
            # Half leave with a FIN, half with a reset; none sends a Close.
            for index, channel in enumerate(channels):
                if index % 2:
                    watch.reset(channel.sock)
                else:
                    channel.close()
            self.assertEqual(self.process.settle(idle, limit=30 * watch.SLOWDOWN), idle,
                             "round %d left threads or descriptors behind" % round_number)
            rss_after.append(self.process.rss_kib())
        watch.heartbeat()
        summary = "resident KiB: idle %d, after each round %s" % (idle_rss, rss_after)
        self.assertLess(rss_after[-1] - rss_after[0], RSS_SLACK_KIB, summary)
        if not watch.SANITIZED:
            self.assertLess(rss_after[-1] - idle_rss, IDLE_RSS_SLACK_KIB, summary)

    def test_a_page_that_stops_reading_holds_up_only_its_own_channel(self):
        idle = self.process.idle()
        stalled = open_channel(self.token, receive_buffer=4096)
        # Pings of the largest control size, each answered with a Pong of the same size, and
        # text "ping"s answered with "pong"; the page reads none of the answers.
        burst = (harness.client_frame(PING, b"x" * 125) + harness.client_frame(TEXT, b"ping")) * 256
        sent, blocked_at = 0, None
        stalled.sock.settimeout(2.0)
        deadline = time.monotonic() + 30 * watch.SLOWDOWN
        while time.monotonic() < deadline and sent < 256 * 1024 * 1024:
            try:
                sent += stalled.sock.send(burst)
            except socket.timeout:
                blocked_at = time.monotonic()
                break
        self.assertIsNotNone(blocked_at, "the channel kept reading %d bytes without its answers being read" % sent)

        # The stuck channel's thread waits on its write; everyone else is served as usual (a wait
        # behind the stuck write would never end).
        self.assertLess(watch.heartbeat(), 5 * watch.SLOWDOWN)
        self.assertEqual(json.loads(harness.split_answer(harness.request("GET", "/status"))[2])["token"], self.token)
        other = harness.Channel(self.token)
        try:
            self.assertEqual(other.next_frame(timeout=10)[0], TEXT)
            other.send(harness.client_frame(TEXT, b"ping"))
            asked = time.monotonic()
            self.assertEqual(other.next_frame(timeout=10), (TEXT, b"pong"))
            self.assertLess(time.monotonic() - asked, 5 * watch.SLOWDOWN)
        finally:
            other.close()
        self.assertEqual(self.process.settle((idle[0] + 1, idle[1] + 1), limit=30 * watch.SLOWDOWN),
                         (idle[0] + 1, idle[1] + 1), "only the stuck channel should remain")

        # Leaving frees the stuck write and with it the thread.
        watch.reset(stalled.sock)
        self.assertEqual(self.process.settle(idle, limit=30 * watch.SLOWDOWN), idle)
        watch.heartbeat()


if __name__ == "__main__":
    unittest.main()
