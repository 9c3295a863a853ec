"""Clients that reset the connection (SO_LINGER 0) while the program is answering them: during the
/status survey, part-way through the larger answers, and at every step of the live channel's
opening. The program must neither die of it nor keep a thread or a descriptor for it."""
import json
import random
import subprocess
import threading
import time
import unittest

import harness
import watch

ROUNDS = 30


def in_parallel(count, work):
    """Runs work(index) on `count` threads at once and re-raises the first failure."""
    errors = []

    def run(index):
        try:
            work(index)
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(error)

    workers = [threading.Thread(target=run, args=(index,)) for index in range(count)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    if errors:
        raise errors[0]


def small_window_socket():
    """A client whose receive window stays small, so a large answer cannot be sent in one go."""
    return harness.connect(timeout=10, receive_buffer=2048)


class Resets(watch.FaultTest):
    @classmethod
    def start_bridge(cls):
        # With a multicast route the router search waits out its full 1.2 s window, which gives
        # a client time to leave in the middle of a /status survey.
        subprocess.run(["ip", "route", "replace", "239.0.0.0/8", "dev", "lo"], check=True)
        return harness.Bridge()

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.idle = cls.process.idle()

    def tearDown(self):
        # Every case leaves the program serving, and holding nothing for the clients that left.
        self.assertEqual(self.process.settle(self.idle, limit=15 * watch.SLOWDOWN), self.idle,
                         "threads and descriptors left behind")
        watch.heartbeat()

    def test_reset_while_the_status_document_is_being_collected(self):
        started = time.monotonic()
        document = harness.get_status()
        self.assertGreater(time.monotonic() - started, 1.0, "the survey should wait for the router")

        def leave_mid_survey(index):
            sock = harness.connect()
            sock.sendall(b"GET /status HTTP/1.1\r\n\r\n")
            time.sleep(0.05 + index * 0.04)
            watch.reset(sock)

        in_parallel(ROUNDS, leave_mid_survey)
        time.sleep(2.0)  # every survey is over and every answer has met its reset
        self.assertEqual(harness.get_status(), document)

    def test_reset_part_way_through_the_page_and_the_icon(self):
        for target in ("/icon.png", "/ui", "/status"):
            expected = harness.request("GET", target)

            def leave_mid_answer(index):
                sock = small_window_socket()
                sock.sendall(("GET %s HTTP/1.1\r\n\r\n" % target).encode())
                if index % 3:
                    got = sock.recv(1 + index * 37)
                    self.assertTrue(expected.startswith(got), target)
                watch.reset(sock)

            in_parallel(ROUNDS, leave_mid_answer)
            self.assertEqual(harness.request("GET", target)[:200], expected[:200])

    def test_reset_at_every_step_of_the_live_channel_opening(self):
        upgrade = harness.upgrade_request(self.token)
        cut = upgrade.index(b"Sec-WebSocket-Key")
        ping = harness.client_frame(0x1, b"ping")

        def partial_head(sock):
            sock.sendall(upgrade[:cut])

        def whole_head_unread(sock):
            sock.sendall(upgrade)

        def head_and_frame(sock):
            sock.sendall(upgrade + ping)

        def after_the_answer(sock):
            sock.sendall(upgrade)
            answer = b""
            while b"\r\n\r\n" not in answer:
                chunk = sock.recv(4096)
                self.assertTrue(chunk, "closed during the handshake")
                answer += chunk
            self.assertTrue(answer.startswith(b"HTTP/1.1 101 "))
            sock.sendall(ping)
            # Leave at some moment of the first status survey, which takes about 1.2 s.
            time.sleep(random.uniform(0.0, 2.0))

        steps = [partial_head, whole_head_unread, head_and_frame, after_the_answer]

        def leave(index):
            sock = small_window_socket()
            steps[index % len(steps)](sock)
            watch.reset(sock)

        in_parallel(ROUNDS * len(steps) // 2, leave)
        # A channel opened afterwards works in full.
        channel = harness.Channel(self.token)
        self.addCleanup(channel.close)
        opcode, payload = channel.next_frame(timeout=10)
        self.assertEqual(opcode, 0x1)
        self.assertEqual(json.loads(payload)["token"], self.token)
        channel.send(harness.client_frame(0x1, b"ping"))
        self.assertEqual(channel.next_frame(timeout=10), (0x1, b"pong"))
        channel.close()


if __name__ == "__main__":
    unittest.main()
