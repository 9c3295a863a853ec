"""The program as a process: start-up, data folder, bind failure, load, time-outs, shutdown."""
import os
import shutil
import socket
import tempfile
import threading
import time
import unittest

import harness
from harness import NOT_FOUND, PORT, Bridge, exchange


class BindFailure(unittest.TestCase):
    def test_port_taken_writes_one_line_and_exits_1_after_saving_the_token(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", PORT))
            taken.listen()
            bridge = Bridge(wait=False)
            try:
                status = bridge.process.wait(timeout=60)
                stderr = bridge.read_stderr()
                self.assertEqual(status, 1)
                # The system's own wording sits between the fixed frame and the error number.
                error = 10048 if harness.ON_WINE else 98
                self.assertRegex(stderr, r"^\[NerovaBridge\] 监听 127\.0\.0\.1:17668 失败: [^\n]+ \(os error %d\)\n$"
                                 % error)
                if not harness.ON_WINE:
                    with open(bridge.token_file) as handle:
                        self.assertRegex(handle.read(), r"^[A-Za-z0-9]{32}$")
            finally:
                bridge.stop()


@unittest.skipIf(harness.ON_WINE, "inspects the native process and its files")
class StartUp(unittest.TestCase):
    def test_token_folder_follows_appdata_then_the_users_config_folder(self):
        scratch = tempfile.mkdtemp(prefix="nerova-folders-")
        unset = {"APPDATA": None, "XDG_CONFIG_HOME": None, "HOME": None, "TMPDIR": scratch}
        cases = [({"APPDATA": ""}, lambda b: os.path.join(b.home, "NerovaBridge")),
                 (dict(unset, XDG_CONFIG_HOME=scratch + "/xdg", HOME=scratch), lambda b: scratch + "/xdg/NerovaBridge"),
                 (dict(unset, XDG_CONFIG_HOME="relative", HOME=scratch + "/home"),
                  lambda b: scratch + "/home/.config/NerovaBridge"),
                 (unset, lambda b: scratch + "/NerovaBridge")]  # no home at all
        try:
            for env, folder in cases:
                bridge = Bridge(env)
                try:
                    with open(os.path.join(folder(bridge), "token.txt")) as handle:
                        self.assertEqual(handle.read(), harness.get_status()["token"], env)
                    self.assertEqual(os.stat(folder(bridge)).st_mode & 0o777, 0o700, env)
                finally:
                    bridge.stop()
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def test_a_standard_error_nobody_reads_does_not_kill_it(self):
        reader, writer = os.pipe()
        os.close(reader)
        bridge = Bridge(stderr=writer)
        os.close(writer)
        try:
            self.assertEqual(exchange(b"GET /x HTTP/1.1\r\n\r\n"), NOT_FOUND)
            self.assertIsNone(bridge.process.poll())
        finally:
            bridge.stop()

    def test_a_valid_token_is_kept_across_restarts_and_sigterm_exits_0(self):
        bridge = Bridge()
        first = bridge.token()
        os.killpg(bridge.process.pid, 15)
        self.assertEqual(bridge.process.wait(timeout=30), 0)
        second = Bridge({"APPDATA": os.path.join(bridge.home, "appdata")})
        try:
            self.assertEqual(harness.get_status()["token"], first)
        finally:
            second.stop()
            bridge.stop()

    def test_the_descriptor_limit_is_lifted_to_the_hard_limit(self):
        import resource
        _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        if hard == resource.RLIM_INFINITY or hard <= 256:
            self.skipTest("no finite hard limit above 256 to lift to")
        bridge = Bridge(preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (256, hard)))
        try:
            with open("/proc/%d/limits" % bridge.process.pid) as handle:
                line = next(line for line in handle if line.startswith("Max open files"))
            self.assertEqual(line.split()[3:5], [str(hard), str(hard)])
        finally:
            bridge.stop()

    def test_only_the_ipv4_loopback_address_is_served(self):
        bridge = Bridge()
        try:
            self.assertFalse(harness.port_open("127.0.0.2"))
            self.assertFalse(harness.port_open("::1"))
        finally:
            bridge.stop()


class Load(harness.BridgeTest):
    def test_500_simultaneous_connections_are_all_answered_and_leave_nothing_behind(self):
        watch = not harness.ON_WINE
        if watch:
            idle = self.process.idle()
        socks, held = [], threading.Event()

        # A machine slow to take 500 connections must not bring the first ones to the receive
        # limit: their header grows by a byte every 2 s until all are held.
        def keep_alive():
            while not held.wait(2.0):
                for sock in list(socks):
                    sock.sendall(b"a")

        keeper = threading.Thread(target=keep_alive)
        keeper.start()
        try:
            for _ in range(500):
                socks.append(harness.connect(timeout=30))
                socks[-1].sendall(b"GET /nowhere HTTP/1.1\r\nX-Pad: ")
            if watch:
                # Every half-sent request holds a thread of its own, and nothing else is made.
                harness.wait_for(lambda: self.process.threads() >= idle[0] + 500, limit=60)
                self.assertEqual(self.process.threads() - idle[0], 500)
        finally:
            held.set()
            keeper.join()
        for sock in socks:
            sock.sendall(b"\r\n\r\n")
        answers = [harness.read_all(sock) for sock in socks]
        for sock in socks:
            sock.close()
        self.assertEqual(answers.count(NOT_FOUND), 500)
        if watch:
            self.assertEqual(self.process.settle(idle, limit=30), idle)

    def test_silent_clients_are_cut_after_10_seconds_without_holding_up_others(self):
        results = {}

        def silent(name, first_bytes):
            with harness.connect(timeout=30) as sock:
                sock.sendall(first_bytes)
                started = time.monotonic()
                results[name] = (harness.read_all(sock), time.monotonic() - started)

        workers = [threading.Thread(target=silent, args=("nothing", b"")),
                   threading.Thread(target=silent, args=("request line only", b"GET /nowhere HTTP/1.1\r\n"))]
        for worker in workers:
            worker.start()
        time.sleep(0.5)
        self.assertEqual(exchange(b"GET /x HTTP/1.1\r\n\r\n"), NOT_FOUND)  # others are served meanwhile
        for worker in workers:
            worker.join()
        self.assertEqual(sorted(results), ["nothing", "request line only"], "a silent client was never cut")
        for name, (data, elapsed) in results.items():
            self.assertEqual(data, b"", name)
            # Never before the 10 s receive limit (less our own start-up), late by up to 5 s.
            self.assertTrue(9.0 <= elapsed <= 15.0, (name, elapsed))

    def test_clients_that_vanish_do_not_disturb_the_accept_loop(self):
        for _ in range(50):
            sock = harness.connect()
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            sock.close()  # reset at once
        self.assertEqual(exchange(b"GET /x HTTP/1.1\r\n\r\n"), NOT_FOUND)


if __name__ == "__main__":
    unittest.main()
