"""End-to-end test of the Windows tray, run by tray_e2e.sh inside a network namespace with Wine and
a virtual X display ready. Drives the real program through tray_probe.exe and a WebSocket client,
and judges the cards from screen captures, which it keeps as artefacts."""
import argparse
import base64
import glob
import os
import re
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import screen  # noqa: E402

WINE = "/usr/lib/wine/wine64"
SCREEN_W, SCREEN_H = 1024, 768
POPUP_W, POPUP_H, MENU_W, MENU_H = 276, 166, 190, 132
# A click at the bottom right corner, as on a taskbar icon: the placement rules give these corners.
CURSOR = (1000, 760)
POPUP_AT = (SCREEN_W - 284, CURSOR[1] - 178)
MENU_AT = (SCREEN_W - 194, CURSOR[1] - 136)

failures = []
passes = []


def check(condition, message):
    print(("ok    " if condition else "FAIL  ") + message, flush=True)
    (passes if condition else failures).append(message)
    return condition


class Tray:
    def __init__(self, args):
        self.args = args

    def probe(self, *words):
        result = subprocess.run([WINE, self.args.probe, *map(str, words)], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, timeout=60)
        return result.returncode, result.stdout.strip()

    def state(self):
        # "popup V X Y menu V X Y foreground CLASS"
        words = self.probe("state")[1].split()
        return {"popup": (words[1] == "1", int(words[2]), int(words[3])),
                "menu": (words[5] == "1", int(words[6]), int(words[7])),
                "foreground": words[9] if len(words) > 9 else "-"}

    def wait_for(self, card, visible, seconds=5.0):
        deadline = time.monotonic() + seconds
        while True:
            state = self.state()
            if state[card][0] == visible or time.monotonic() > deadline:
                return state
            time.sleep(0.2)

    def capture(self):
        return screen.capture_screen(self.args.display)


def near(rgb, hex_colour, tolerance=4):
    want = ((hex_colour >> 16) & 0xFF, (hex_colour >> 8) & 0xFF, hex_colour & 0xFF)
    return all(abs(a - b) <= tolerance for a, b in zip(rgb, want))


def any_pixel(card, box, test):
    left, top, right, bottom = box
    return any(test(card.pixel(x, y)) for y in range(top, bottom) for x in range(left, right))


def dark(rgb):
    return sum(rgb) < 200


def greenish(rgb):
    return rgb[1] > rgb[0] + 60 and rgb[1] > rgb[2] + 30


def save(card, name, artifacts):
    path = os.path.join(artifacts, name)
    card.write_png(path)
    print("      saved " + path, flush=True)


class LiveChannel:
    """A WebSocket client written by hand: handshake, then a masked Close when done."""

    def __init__(self, token):
        self.sock = socket.create_connection(("127.0.0.1", 17668), timeout=10)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET /live?token=%s HTTP/1.1\r\nHost: 127.0.0.1:17668\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n"
                           "Sec-WebSocket-Protocol: orva-local-helper\r\n\r\n" % (token, key)).encode())
        answer = b""
        while b"\r\n\r\n" not in answer:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            answer += chunk
        self.status_line = answer.split(b"\r\n", 1)[0].decode(errors="replace")

    def close(self):
        mask = os.urandom(4)
        payload = struct.pack(">H", 1000)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        try:
            self.sock.sendall(bytes([0x88, 0x80 | len(payload)]) + mask + masked)
            self.sock.settimeout(3)
            while self.sock.recv(4096):
                pass
        except OSError:
            pass
        self.sock.close()


def popup_state_seen(tray, connected, seconds):
    """Captures until the popup's dot has the colour of the state; returns (capture, seconds taken)."""
    dot = 0x30D158 if connected else 0xB0B5BF
    start = time.monotonic()
    while True:
        card = tray.capture().crop(POPUP_AT[0], POPUP_AT[1], POPUP_W, POPUP_H)
        taken = time.monotonic() - start
        if near(card.pixel(42, 89), dot) or taken > seconds:
            return card, taken
        time.sleep(0.1)


def check_popup(card, connected, fonts):
    label = "connected" if connected else "waiting"
    check(near(card.pixel(138, 65), 0xFFFFFF, 0), "popup (%s): card white" % label)
    check(near(card.pixel(30, 89), 0xE6F8EC if connected else 0xF2F3F5), "popup (%s): pill colour" % label)
    check(near(card.pixel(42, 89), 0x30D158 if connected else 0xB0B5BF), "popup (%s): dot colour" % label)
    check(near(card.pixel(28, 131), 0xF2F3F5), "popup (%s): quit button" % label)
    check(near(card.pixel(2, 2), 0x000000, 0) and near(card.pixel(273, 163), 0x000000, 0),
          "popup (%s): transparent margin shows the screen behind" % label)
    if fonts:
        check(any_pixel(card, (66, 21, 254, 41), dark), "popup (%s): title drawn" % label)


def read_token(prefix):
    found = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "NerovaBridge", "token.txt"))
    for _ in range(50):
        if found:
            break
        time.sleep(0.1)
        found = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "NerovaBridge",
                                       "token.txt"))
    return open(found[0]).read().strip() if found else ""


def main():
    parser = argparse.ArgumentParser()
    for name in ("bridge", "probe", "artifacts", "prefix", "display", "cjk-font"):
        parser.add_argument("--" + name, required=name != "cjk-font", default="")
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    fonts = bool(args.cjk_font)
    if not fonts:
        print("note: no CJK font installed (Debian fonts-wqy-microhei); the cards' texts are not checked")
    tray = Tray(args)

    bridge = subprocess.Popen([WINE, args.bridge], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not check(tray.probe("wait")[0] == 0, "the tray host window exists"):
            return 1
        background = tray.capture()

        # Popup card: the icon's left click opens it at the placement the rules give.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        state = tray.wait_for("popup", True)
        check(state["popup"] == (True, POPUP_AT[0], POPUP_AT[1]), "left click opens the popup at %s: %s"
              % (POPUP_AT, state["popup"]))
        card, _ = popup_state_seen(tray, False, 3)
        save(card, "tray-popup-waiting.png", args.artifacts)
        check_popup(card, False, fonts)

        # A live channel turns the card to "网页已连接" within about 2 s, and back when it closes.
        channel = LiveChannel(read_token(args.prefix))
        check(channel.status_line.startswith("HTTP/1.1 101"), "live channel admitted: " + channel.status_line)
        card, taken = popup_state_seen(tray, True, 4)
        check(taken <= 3.0, "the card shows the live channel after %.1f s" % taken)
        save(card, "tray-popup-connected.png", args.artifacts)
        check_popup(card, True, fonts)
        channel.close()
        card, taken = popup_state_seen(tray, False, 4)
        check(taken <= 3.0, "the card shows the closed channel after %.1f s" % taken)
        check_popup(card, False, fonts)

        # The pointer over the quit button darkens it.
        tray.probe("cursor", POPUP_AT[0] + 60, POPUP_AT[1] + 131)
        time.sleep(0.5)
        card = tray.capture().crop(POPUP_AT[0], POPUP_AT[1], POPUP_W, POPUP_H)
        save(card, "tray-popup-hover.png", args.artifacts)
        check(near(card.pixel(28, 131), 0xE4E6EB), "quit button hover fill")

        # A second left click closes the popup; a WM_CLOSE (Alt+F4) only hides it, and it opens again.
        tray.probe("click", "left")
        check(not tray.wait_for("popup", False)["popup"][0], "a second left click hides the popup")
        tray.probe("click", "left")
        tray.wait_for("popup", True)
        tray.probe("close", "popup")
        check(not tray.wait_for("popup", False)["popup"][0], "WM_CLOSE hides the popup")
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        check(tray.wait_for("popup", True)["popup"][0], "the popup opens again after WM_CLOSE")

        # Menu card: the right click replaces the popup with it.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "right")
        state = tray.wait_for("menu", True)
        check(state["menu"] == (True, MENU_AT[0], MENU_AT[1]) and not state["popup"][0],
              "right click opens the menu at %s and hides the popup: %s" % (MENU_AT, state))
        time.sleep(0.3)
        menu = tray.capture().crop(MENU_AT[0], MENU_AT[1], MENU_W, MENU_H)
        save(menu, "tray-menu.png", args.artifacts)
        check(near(menu.pixel(10, 3), 0xFFFFFF, 0), "menu: card white")
        check(not any_pixel(menu, (10, 6, 30, 126), greenish), "menu: no check mark while start at login is off")
        if fonts:
            check(all(any_pixel(menu, (36, 6 + 30 * row, 182, 36 + 30 * row), dark) for row in range(4)),
                  "menu: four labels")
        check(tray.probe("run-value")[1] == "absent", "start at login is off at first")

        # Releasing the button on the third row closes the menu and turns start at login on.
        row_y = MENU_AT[1] + 6 + 30 * 2 + 15
        tray.probe("press", MENU_AT[0] + 100, row_y)
        check(not tray.wait_for("menu", False)["menu"][0], "a click on a row closes the menu")
        value = tray.probe("run-value")[1]
        match = re.match(r'type=1 size=(\d+) data="(.*)"$', value)
        check(bool(match) and match.group(2).lower().endswith("nerovabridge.exe")
              and int(match.group(1)) == 2 * (len(match.group(2)) + 3),
              "the Run value holds the quoted program path: " + value)

        tray.probe("cursor", *CURSOR)
        tray.probe("click", "right")
        tray.wait_for("menu", True)
        time.sleep(0.3)
        menu = tray.capture().crop(MENU_AT[0], MENU_AT[1], MENU_W, MENU_H)
        tray.probe("cursor", MENU_AT[0] + 100, MENU_AT[1] + 6 + 30 + 15)
        time.sleep(0.5)
        hovered = tray.capture().crop(MENU_AT[0], MENU_AT[1], MENU_W, MENU_H)
        save(menu, "tray-menu-autostart.png", args.artifacts)
        save(hovered, "tray-menu-hover.png", args.artifacts)
        check(greenish(menu.pixel(22, 81)), "menu: check mark while start at login is on")
        check(near(hovered.pixel(10, 51), 0xF0F1F4), "menu: hover fill on the row under the pointer")

        # Esc closes the menu without an action.
        tray.probe("key", "escape")
        check(not tray.wait_for("menu", False)["menu"][0], "Esc closes the menu")
        check(tray.probe("run-value")[1] != "absent", "Esc runs no action")

        # The quit button ends the process with status 0.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        tray.wait_for("popup", True)
        tray.probe("press", POPUP_AT[0] + 138, POPUP_AT[1] + 131)
        try:
            status = bridge.wait(timeout=15)
        except subprocess.TimeoutExpired:
            status = None
        check(status == 0, "the quit button ends the program with status 0 (status %s)" % status)
        after = tray.capture()
        check(after.crop(*POPUP_AT, POPUP_W, POPUP_H).rows == background.crop(*POPUP_AT, POPUP_W, POPUP_H).rows,
              "no card is left on the screen")

        logs = glob.glob(os.path.join(args.prefix, "drive_c", "users", "*", "AppData", "Roaming", "NerovaBridge",
                                      "popup.log"))
        log = open(logs[0]).read() if logs else ""
        check(re.fullmatch(r"\[tick=\d+\] gdiplus_startup: status=0 token=[1-9]\d* input_size=24 last_err=\d+\n"
                           r"\[tick=\d+\] init: gdiplus_token=[1-9]\d*, icon_image=-?[1-9]\d*\n", log) is not None,
              "popup.log holds exactly the two start-up lines: %r" % log)
    finally:
        if bridge.poll() is None:
            bridge.kill()
    print("tray end-to-end: %d passed, %d failed" % (len(passes), len(failures)), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
