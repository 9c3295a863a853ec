"""A network change the system reports reaches an open live channel at once."""
import json
import subprocess
import time
import unittest

import harness
from harness import Channel

TEXT = 0x1
SEARCH_WINDOW = 1.2  # a search nobody answers lasts its whole window
CHECK_INTERVAL = 3.0


def run(command):
    subprocess.run(command, shell=True, check=True)


@unittest.skipIf(harness.ON_WINE, "Wine delivers no IP Helper change notices (see the change listener)")
class ReportedChange(harness.BridgeTest):
    def setUp(self):
        # Multicast to loopback, where no router answers: every refresh waits out the search.
        run("ip route add 239.0.0.0/8 dev lo")
        self.addCleanup(subprocess.run, "ip route del 239.0.0.0/8 dev lo", shell=True)

    def next_document(self, channel, limit):
        deadline = time.monotonic() + limit
        while True:
            opcode, payload = channel.next_frame(timeout=max(0.05, deadline - time.monotonic()))
            if opcode == TEXT:
                return json.loads(payload), time.monotonic()

    def test_an_address_added_arrives_before_the_next_check(self):
        run("ip link add lan7 type veth peer name lan7-peer && ip link set lan7 up && ip link set lan7-peer up")
        self.addCleanup(subprocess.run, "ip link del lan7", shell=True)
        opened = time.monotonic()
        channel = Channel(self.bridge.token())
        self.addCleanup(channel.close)
        first, _ = self.next_document(channel, 10)
        self.assertEqual(first["localIp"], "")

        changed = time.monotonic()
        run("ip addr add 10.56.0.2/24 dev lan7")
        document, arrived = self.next_document(channel, 10)
        self.assertEqual(document["localIp"], "10.56.0.2")
        # One survey with its search, plus a channel's wait for the page: well under a check.
        self.assertLess(arrived - changed, 2.5)
        # The checks start no sooner than the opening and 3 s apart, and each waits out the search:
        # a document the checks alone found could not have come before this.
        self.assertLess(arrived, opened + CHECK_INTERVAL + SEARCH_WINDOW)


if __name__ == "__main__":
    unittest.main()
