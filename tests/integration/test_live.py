"""The live channel of the real program, with frames written by hand."""
import json
import socket
import subprocess
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
        self.assertEqual(json.loads(payload)["token"], self.bridge.token())
        self.assertEqual(payload, harness.split_answer(harness.request("GET", "/status"))[2], "the text /status serves")
        # Due at once; a first check that waited for the 3 s interval could not come sooner.
        self.assertLess(elapsed, 3.0)
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
        # The next status check is 3 s after the document: a pong that waited for it is late.
        self.assertLess(time.monotonic() - sent_at, 1.5)
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
        self.assertNotIn(CLOSE, channel.opcodes_until_closed())

    def test_protocol_faults_end_the_channel(self):
        for name, frame in [("unmasked", client_frame(TEXT, b"ping", masked=False)),
                            ("invalid UTF-8", client_frame(TEXT, b"\xc3\x28")),
                            ("over the message limit", client_frame(BINARY, b"", masked=True)[:1] + b"\xff" +
                             (64 * 1024 * 1024 + 1).to_bytes(8, "big") + b"mask")]:
            channel = self.open()
            channel.next_frame(timeout=5)
            channel.send(frame)
            self.assertNotIn(CLOSE, channel.opcodes_until_closed(), name)

    def test_two_channels_each_get_their_own_document_and_pongs(self):
        first, second = self.open(), self.open()
        self.assertEqual(first.next_frame(timeout=5)[0], TEXT)
        self.assertEqual(second.next_frame(timeout=5)[0], TEXT)
        second.send(client_frame(TEXT, b"ping"))
        self.assertEqual(second.next_frame(timeout=5), (TEXT, b"pong"))
        first.close()
        second.send(client_frame(TEXT, b"ping"))
        self.assertEqual(second.next_frame(timeout=5), (TEXT, b"pong"))

    def test_pongs_come_at_once_while_the_router_is_asked_and_changes_still_arrive(self):
        # A search that nobody answers holds each refresh for its whole 1.2 s window.
        subprocess.run(["ip", "route", "add", "239.0.0.0/8", "dev", "lo"], check=True)
        self.addCleanup(subprocess.run, ["ip", "route", "del", "239.0.0.0/8", "dev", "lo"])
        channel = self.open()
        self.assertEqual(json.loads(channel.next_frame(timeout=5)[1])["localIp"], "")
        slowest = 0.0
        documents = []
        deadline = time.monotonic() + 4.0  # more than one refresh
        while time.monotonic() < deadline:
            asked = time.monotonic()
            channel.send(client_frame(TEXT, b"ping"))
            while True:
                frame = channel.next_frame(timeout=5)
                if frame == (TEXT, b"pong"):
                    break
                if frame[0] == TEXT:
                    documents.append(frame[1])
            slowest = max(slowest, time.monotonic() - asked)
            time.sleep(0.05)
        # A pong held behind a refresh waits out most of the 1.2 s search window.
        self.assertLess(slowest, 0.9)
        self.assertEqual(documents, [])  # nothing changed

        # A new address on a new link: the next refresh brings it.
        subprocess.run("ip link add lan9 type veth peer name lan9-peer && ip addr add 10.55.0.2/24 dev lan9 && "
                       "ip link set lan9 up && ip link set lan9-peer up", shell=True, check=True)
        self.addCleanup(subprocess.run, ["ip", "link", "del", "lan9"])
        deadline = time.monotonic() + 2 * (3.0 + 1.2) + 2.0  # two checks with their searches, and room
        opcode = None
        while opcode != TEXT:
            opcode, payload = channel.next_frame(timeout=max(0.05, deadline - time.monotonic()))
        self.assertEqual(json.loads(payload)["localIp"], "10.55.0.2")

    def test_a_silent_page_gets_an_empty_ping_every_15_seconds(self):
        channel = self.open()
        opened = time.monotonic()
        self.assertEqual(channel.next_frame(timeout=5)[0], TEXT)
        pings = []
        while len(pings) < 2:
            opcode, payload = channel.next_frame(timeout=25)
            self.assertEqual((opcode, payload), (PING, b""))
            pings.append(time.monotonic() - opened)
        # Never early; late by up to 5 s on a busy machine.
        self.assertTrue(14.0 <= pings[0] <= 20.0, pings)
        self.assertTrue(14.0 <= pings[1] - pings[0] <= 20.0, pings)


if __name__ == "__main__":
    unittest.main()
