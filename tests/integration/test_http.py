"""The HTTP side of the real program: byte-exact answers, routing and the live-channel door."""
import json
import os
import re
import time
import unittest

from harness import (NOT_FOUND, PREFLIGHT, SAMPLE_ACCEPT, BridgeTest, answer, exchange, request,
                     split_answer, upgrade_request)
import harness


class Answers(BridgeTest):
    def test_unknown_paths_get_the_exact_not_found_answer(self):
        for target in ["/", "/nowhere", "/Status", "/status/", "/ui/", "/STATUS", "/heartbeat/", "/%73tatus",
                       "/version/"]:
            self.assertEqual(request("GET", target), NOT_FOUND, target)

    def test_options_in_any_case_on_any_path_gets_the_fixed_preflight(self):
        for method, target in [("OPTIONS", "/status"), ("options", "/live"), ("OpTiOnS", "/nowhere"),
                               ("OPTIONS", "/live?token=x")]:
            self.assertEqual(request(method, target), PREFLIGHT, (method, target))

    def test_heartbeat_reports_the_current_unix_time(self):
        before = int(time.time())
        raw = request("GET", "/heartbeat")
        after = int(time.time())
        _, _, body = split_answer(raw)
        ts = json.loads(body)["ts"]
        self.assertTrue(before <= ts <= after, (before, ts, after))
        self.assertEqual(raw, answer(200, "OK", "application/json; charset=utf-8", "no-store",
                                     b'{"ok":true,"ts":%d}' % ts))

    def test_disconnect_acknowledges_and_changes_nothing(self):
        self.assertEqual(request("POST", "/disconnect"),
                         answer(200, "OK", "application/json; charset=utf-8", "no-store", b'{"ok":true}'))

    def test_version_is_the_one_in_cmakelists_for_any_method(self):
        with open(os.path.join(os.environ["NEROVA_SOURCE_DIR"], "CMakeLists.txt"), encoding="utf-8") as cmake:
            version = re.search(r"project\(NerovaBridge VERSION ([0-9.]+)", cmake.read()).group(1)
        for method in ["GET", "POST", "HEAD"]:
            self.assertEqual(request(method, "/version?x=1"), answer(200, "OK", "application/json; charset=utf-8",
                                                                     "no-store", b'{"version":"%s"}' % version.encode()))

    def test_status_is_the_document_for_any_method_and_query(self):
        token = self.bridge.token()
        for method, target in [("GET", "/status"), ("POST", "/status"), ("HEAD", "/status"),
                               ("GET", "/status?x=1"), ("DELETE", "/status?token=wrong")]:
            status_line, headers, body = split_answer(request(method, target))
            self.assertEqual(status_line, "HTTP/1.1 200 OK")
            self.assertIn(("Content-Type", "application/json; charset=utf-8"), headers)
            self.assertIn(("Content-Length", str(len(body))), headers)
            document = json.loads(body)
            self.assertEqual(list(document), [
                "localIp", "wanIp", "gatewayIp", "dnsServers", "macAddress", "deviceName", "interfaceAlias",
                "interfaceType", "dhcpEnabled", "networkMode", "wanSource", "routerDetected", "token"])
            self.assertEqual(document["token"], token)
            self.assertEqual(document["networkMode"], "dhcp" if document["dhcpEnabled"] else "static")

    def test_every_answer_carries_both_access_control_headers(self):
        for target in ["/status", "/heartbeat", "/disconnect", "/ui", "/icon.png", "/nope", "/live"]:
            _, headers, _ = split_answer(request("GET", target))
            self.assertIn(("Access-Control-Allow-Origin", "*"), headers, target)
            self.assertIn(("Access-Control-Allow-Private-Network", "true"), headers, target)

    def test_a_body_is_not_read_and_does_not_matter(self):
        raw = exchange(b"POST /nowhere HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello world")
        self.assertEqual(raw, NOT_FOUND)

    def test_bare_line_feeds_and_101_headers(self):
        self.assertEqual(exchange(b"GET /x HTTP/1.1\nA: b\n\n"), NOT_FOUND)
        headers = b"".join(b"H%d: v\r\n" % i for i in range(100))
        self.assertEqual(exchange(b"GET /x HTTP/1.1\r\n" + headers + b"\r\n"), NOT_FOUND)
        self.assertEqual(exchange(b"GET /x HTTP/1.1\r\n" + headers + b"H100: v\r\n\r\n"), b"")

    def test_malformed_request_lines_get_no_answer(self):
        for raw in [b"GET\r\n\r\n", b"\r\n\r\n", b"\x00\xff\r\n\r\n"]:
            self.assertEqual(exchange(raw), b"", raw)

    def test_long_request_line_is_cut_and_still_answered(self):
        self.assertEqual(exchange(b"GET /" + b"a" * 10000 + b" HTTP/1.1\r\n\r\n"), NOT_FOUND)

    def test_half_close_after_a_complete_request_is_still_answered(self):
        with harness.connect() as sock:
            sock.sendall(b"GET /nowhere HTTP/1.1\r\n\r\n")
            sock.shutdown(harness.socket.SHUT_WR)
            self.assertEqual(harness.read_all(sock), NOT_FOUND)
        with harness.connect() as sock:
            sock.sendall(b"GET /nowhere HTTP/1.1\r\nHost: x\r\n")
            sock.shutdown(harness.socket.SHUT_WR)
            self.assertEqual(harness.read_all(sock), b"")


class Assets(BridgeTest):
    def test_icon_and_page_are_served_byte_for_byte(self):
        source = os.environ["NEROVA_SOURCE_DIR"]
        with open(os.path.join(source, "assets", "icon-256.png"), "rb") as handle:
            icon = handle.read()
        with open(os.path.join(source, "assets", "status.html"), "rb") as handle:
            page = handle.read().replace(b"@NEROVA_MAIN_SITE_URL@", os.environ["NEROVA_MAIN_SITE_URL"].encode())
        self.assertEqual(request("GET", "/icon.png"), answer(200, "OK", "image/png", "public, max-age=86400", icon))
        self.assertEqual(request("POST", "/ui"), answer(200, "OK", "text/html; charset=utf-8", "no-store", page))


class LiveDoor(BridgeTest):
    def live(self, query, headers=()):
        return request("GET", "/live" + query, headers)

    def test_wrong_or_missing_token_is_forbidden_before_anything_else(self):
        token = self.bridge.token()
        forbidden = answer(403, "Forbidden", "text/plain; charset=utf-8", "no-store", b"forbidden\n")
        upgrade = [("Upgrade", "websocket"), ("Sec-WebSocket-Key", "x")]
        for query in ["", "?token=", "?token=" + token[:-1] + ("A" if token[-1] != "A" else "B"),
                      "?Token=" + token, "?token=" + token + "x", "?x=1&token=bad&token=" + token,
                      "?token=" + token.lower() if token != token.lower() else "?token=z"]:
            self.assertEqual(self.live(query, upgrade), forbidden, query)

    def test_right_token_without_upgrade_is_a_bad_request(self):
        token = self.bridge.token()
        bad = answer(400, "Bad Request", "text/plain; charset=utf-8", "no-store", b"bad request\n")
        self.assertEqual(self.live("?token=" + token), bad)
        self.assertEqual(self.live("?token=" + token, [("Upgrade", "websocket")]), bad)
        self.assertEqual(self.live("?token=" + token, [("Upgrade", "h2c"), ("Sec-WebSocket-Key", "k")]), bad)
        self.assertEqual(self.live("?x=1&token=%s&token=bad" % token, [("Sec-WebSocket-Key", "k")]), bad)

    def test_upgrade_in_mixed_case_opens_with_the_exact_handshake(self):
        token = self.bridge.token()
        with harness.connect() as sock:
            sock.sendall(upgrade_request(token, upgrade="WebSocket"))
            head = b""
            while b"\r\n\r\n" not in head:
                head += sock.recv(1)
        self.assertEqual(head, ("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Accept: %s\r\n\r\n" % SAMPLE_ACCEPT).encode())

    def test_subprotocol_is_named_only_when_offered_exactly(self):
        token = self.bridge.token()
        cases = [("chat, orva-local-helper", True), ("orva-local-helper", True), ("chat, superchat", False),
                 ("ORVA-LOCAL-HELPER", False)]
        for offered, named in cases:
            channel = harness.Channel(token, [("Sec-WebSocket-Protocol", offered)])
            channel.close()
            self.assertEqual("Sec-WebSocket-Protocol: orva-local-helper" in channel.head, named, offered)
            self.assertTrue(channel.head.startswith("HTTP/1.1 101 "), offered)


if __name__ == "__main__":
    unittest.main()
