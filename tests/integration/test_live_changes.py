"""A network change the system reports reaches an open live channel at once."""
import json
import os
import subprocess
import time
import unittest

import harness
from harness import Channel

TEXT = 0x1
CHECK_INTERVAL = harness.program_constant("http/live_channel.h", "STATUS_PUSH_INTERVAL")
RESPONDER = os.path.join(os.path.dirname(harness.PROGRAM), "tests", "upnp", "upnp_test_responder")


def run(command):
    subprocess.run(command, shell=True, check=True)


@unittest.skipIf(harness.ON_WINE, "Wine delivers no IP Helper change notices (see the change listener)")
@unittest.skipUnless(os.path.exists(RESPONDER), "needs the test router (upnp_test_responder)")
class ReportedChange(harness.BridgeTest):
    def setUp(self):
        # Made before the test router's LAN, so this link comes first and is the one selected.
        run("ip link add lan7 type veth peer name lan7-peer && ip link set lan7 up && ip link set lan7-peer up")
        run("ip addr add 10.56.0.2/24 dev lan7")
        self.addCleanup(subprocess.run, "ip link del lan7", shell=True)
        # A router that answers at once: a refresh then takes milliseconds, so the one thing that
        # can bring the change before the next 3 s check is the system's notice.
        run("ip route add 239.0.0.0/8 dev lo")
        router = subprocess.Popen([RESPONDER, "--seconds", "60"], stderr=subprocess.DEVNULL)
        self.addCleanup(router.wait)
        self.addCleanup(router.kill)
        super().setUp()

    def next_document(self, channel, limit):
        deadline = time.monotonic() + limit
        while True:
            opcode, payload = channel.next_frame(timeout=max(0.05, deadline - time.monotonic()))
            if opcode == TEXT:
                return json.loads(payload)

    def test_a_new_default_route_arrives_before_the_next_check(self):
        self.assertTrue(harness.wait_for(lambda: harness.get_status()["wanIp"] != "", 20))
        opened = time.monotonic()
        channel = Channel(self.bridge.token())
        self.addCleanup(channel.close)
        first = self.next_document(channel, 10)
        self.assertEqual((first["localIp"], first["gatewayIp"]), ("10.56.0.2", ""))

        run("ip route add default via 10.56.0.1 dev lan7")
        document = self.next_document(channel, 10)
        arrived = time.monotonic()
        self.assertEqual(document["gatewayIp"], "10.56.0.1")
        # The checks start with the opening and 3 s apart: what they alone find cannot come sooner.
        self.assertLess(arrived, opened + CHECK_INTERVAL)


if __name__ == "__main__":
    unittest.main()
