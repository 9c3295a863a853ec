"""The live channel of the real program, with frames written by hand."""
import json
import socket
import time
import unittest

import harness
from harness import Channel, client_frame

TEXT, BINARY, CLOSE, PING, PONG = 0x1, 0x2, 0x8, 0x9, 0xA


class LiveChannel(harness.BridgeTest):
    def open(self, **kwargs):
        channel = Channel(self.bridge.token(), **kwargs)
        self.addCleanup(channel.close)
        self.assertTrue(channel.head.startswith("HTTP/1.1 101 Switching Protocols\r\n"))
        return channel

    def expect_silence(self, channel, seconds):
        """No data frame for a while; Pings may come."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                opcode, payload = channel.next_frame(timeout=max(0.05, deadline - time.monotonic()))
            except socket.timeout:
                return
            self.assertEqual(opcode, PING, payload)

    def test_status_document_arrives_at_once_and_only_once_while_nothing_changes(self):
        started = time.monotonic()
        channel = self.open()
        opcode, payload = channel.next_frame(timeout=5)
        elapsed = time.monotonic() - started
        self.assertEqual(opcode, TEXT)
        document = json.loads(payload)
        self.assertEqual(document["token"], self.bridge.token())
        self.assertLess(elapsed, 2.0)  # half a second plus one survey
        self.expect_silence(channel, 7.0)  # two more status checks find nothing new

    def test_ping_text_is_answered_with_pong_and_nothing_else_is(self):
        channel = self.open()
        self.assertEqual(channel.next_frame(timeout=5)[0], TEXT)
        for ignored in [client_frame(TEXT, b"PING"), client_frame(BINARY, b"ping"), client_frame(TEXT, b"ping!"),
                        client_frame(TEXT, b"hello"), client_frame(PONG, b"")]:
            channel.send(ignored)
        channel.send(client_frame(TEXT, b" \tping\n"))
        sent_at = time.monotonic()
        self.assertEqual(channel.next_frame(timeout=5), (TEXT, b"pong"))
        self.assertLess(time.monotonic() - sent_at, 0.5)
        channel.send(client_frame(PING, b"payload"))
        self.assertEqual(channel.next_frame(timeout=5), (PONG, b"payload"))
        self.expect_silence(channel, 1.0)

    def test_first_frame_in_the_upgrade_packet_is_not_lost(self):
        channel = self.open(first_bytes=client_frame(TEXT, b"ping"))
        frames = [channel.next_frame(timeout=5), channel.next_frame(timeout=5)]
        self.assertIn((TEXT, b"pong"), frames)

    def test_close_ends_the_channel_without_a_close_frame_back(self):
        channel = self.open()
        channel.next_frame(timeout=5)
        channel.send(client_frame(CLOSE, b"\x03\xe8bye"))
        with self.assertRaises(EOFError):
            while True:
                opcode, _ = channel.next_frame(timeout=5)
                self.assertNotEqual(opcode, CLOSE)

    def test_protocol_faults_end_the_channel(self):
        for name, frame in [("unmasked", client_frame(TEXT, b"ping", masked=False)),
                            ("invalid UTF-8", client_frame(TEXT, b"\xc3\x28")),
                            ("over the message limit", client_frame(BINARY, b"", masked=True)[:1] + b"\xff" +
                             (64 * 1024 * 1024 + 1).to_bytes(8, "big") + b"mask")]:
            channel = self.open()
            channel.next_frame(timeout=5)
            channel.send(frame)
            with self.assertRaises(EOFError, msg=name):
                while True:
                    opcode, _ = channel.next_frame(timeout=5)
                    self.assertNotEqual(opcode, CLOSE, name)

    def test_two_channels_each_get_their_own_document_and_pongs(self):
        first, second = self.open(), self.open()
        self.assertEqual(first.next_frame(timeout=5)[0], TEXT)
        self.assertEqual(second.next_frame(timeout=5)[0], TEXT)
        second.send(client_frame(TEXT, b"ping"))
        self.assertEqual(second.next_frame(timeout=5), (TEXT, b"pong"))
        first.close()
        second.send(client_frame(TEXT, b"ping"))
        self.assertEqual(second.next_frame(timeout=5), (TEXT, b"pong"))

    def test_a_silent_page_gets_an_empty_ping_every_15_seconds(self):
        channel = self.open()
        opened = time.monotonic()
        self.assertEqual(channel.next_frame(timeout=5)[0], TEXT)
        pings = []
        while len(pings) < 2:
            opcode, payload = channel.next_frame(timeout=20)
            self.assertEqual((opcode, payload), (PING, b""))
            pings.append(time.monotonic() - opened)
        self.assertTrue(14.0 <= pings[0] <= 17.0, pings)
        self.assertTrue(14.0 <= pings[1] - pings[0] <= 16.5, pings)


if __name__ == "__main__":
    unittest.main()
