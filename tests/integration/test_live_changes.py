"""A network change the system reports reaches an open live channel at once, with a router answer asked after it."""
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


def wan_call(document):
    """Which call to the test router gave the document's wanIp."""
    return int(document["wanIp"].rsplit(".", 1)[1])


@unittest.skipIf(harness.ON_WINE, "Wine delivers no IP Helper change notices (see the change listener)")
@unittest.skipUnless(os.path.exists(RESPONDER), "needs the test router (upnp_test_responder)")
class ReportedChange(harness.BridgeTest):
    def setUp(self):
        # Made before the test router's LAN, so this link comes first and is the one selected.
        run("ip link add lan7 type veth peer name lan7-peer && ip link set lan7 up && ip link set lan7-peer up")
        run("ip addr add 10.56.0.2/24 dev lan7")
        self.addCleanup(subprocess.run, "ip link del lan7", shell=True)
        # A router that answers within 400 ms: a refresh is then well within one 3 s check, so the
        # one thing that can bring a change before the next check is the system's notice. It answers
        # its N-th call with 203.0.113.N and writes N on its output as the call comes.
        run("ip route add 239.0.0.0/8 dev lo")
        self.router = subprocess.Popen([RESPONDER, "--seconds", "60", "--slow-numbered", "400"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(self.router.communicate)
        self.addCleanup(self.router.kill)
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

        # A change while the router is slow to answer the next check: the router's answer that comes
        # with the new route is one to a call made after the change, and the checks still bring the rest.
        during = next(call for call in map(int, self.router.stdout) if call > wan_call(document))
        run("ip route replace default via 10.56.0.3 dev lan7")
        while document["gatewayIp"] != "10.56.0.3":
            document = self.next_document(channel, 10)
        self.assertGreater(wan_call(document), during)
        self.assertGreater(wan_call(self.next_document(channel, 10)), wan_call(document))


if __name__ == "__main__":
    unittest.main()
