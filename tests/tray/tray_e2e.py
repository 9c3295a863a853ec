"""End-to-end test of the Windows tray, run by tray_e2e.sh inside a network namespace with Wine and
a virtual X display ready. Drives the real program through tray_probe.exe and a live channel, and
judges from screen captures, which it keeps as artefacts, that what the program does reaches the
screen: how each card is drawn is the Wine unit tests' part (tray_win_test)."""
import argparse
import glob
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "support")]
import harness  # noqa: E402
import screen  # noqa: E402

WINE = "/usr/lib/wine/wine64"
SCREEN_W, SCREEN_H = 1024, 768
POPUP_W, POPUP_H, MENU_W, MENU_H = 276, 166, 190, 132
# A click at the bottom right corner, as on a taskbar icon: the placement rules give these corners.
CURSOR = (1000, 760)
POPUP_AT = (SCREEN_W - 284, CURSOR[1] - 178)
MENU_AT = (SCREEN_W - 194, CURSOR[1] - 136)
# Where the keyboard finds the icon (Wine's shell names no icon rectangle: the tests post it).
ICON_ANCHOR = (900, 700)
NIM_ADD, NIM_DELETE, NIM_SETFOCUS, NIM_SETVERSION = 0, 2, 3, 4
# How long the popup may take to follow the channel: the tray samples every 2 s; room for a busy machine.
CARD_CHANGE = 10.0
CLOSE = 0x8


def scale(px, dpi):
    return (px * dpi + 48) // 96


def card_size(kind, dpi):
    return (scale(276, dpi), scale(166, dpi)) if kind == "popup" else (scale(190, dpi), scale(132, dpi))


def card_at(kind, anchor, dpi=96):
    """Where the placement rules put a card on the whole screen, the work area under Xvfb."""
    width, height = card_size(kind, dpi)
    margin = scale(8 if kind == "popup" else 4, dpi)
    x = min(max(anchor[0] - width // 2, margin), SCREEN_W - width - margin)
    if kind == "popup":
        wish = anchor[1] - height - scale(12, dpi)
    else:
        above = anchor[1] - height - margin
        wish = above if above >= margin else anchor[1] + margin
    return x, min(max(wish, margin), SCREEN_H - height - margin)

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
        # A probe ends with 0, 1 or 2. Anything else is the probe itself dying (Wine now and then
        # faults in a short-lived process's first window calls): said in the log, and run again once.
        for _ in range(2):
            with tempfile.TemporaryFile() as errors:  # a pipe would stay open in processes Wine starts
                result = subprocess.run([WINE, self.args.probe, *map(str, words)], stdout=subprocess.PIPE,
                                        stderr=errors, text=True, timeout=60)
                errors.seek(0)
                said = errors.read().decode("utf-8", "replace").strip()
            if result.returncode in (0, 1, 2):
                return result.returncode, result.stdout.strip()
            print("probe %s died (status %d): %s" % (" ".join(map(str, words)), result.returncode, said),
                  file=sys.stderr)
        return result.returncode, result.stdout.strip()

    def state(self):
        # "popup V X Y W H menu V X Y W H foreground CLASS"
        words = self.probe("state")[1].split()
        return {"popup": (words[1] == "1", int(words[2]), int(words[3])),
                "menu": (words[7] == "1", int(words[8]), int(words[9])),
                "popup_size": (int(words[4]), int(words[5])), "menu_size": (int(words[10]), int(words[11])),
                "foreground": words[13] if len(words) > 13 else "-"}

    def wait_for(self, card, visible, seconds=10.0):
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


def greenish(rgb):
    return rgb[1] > rgb[0] + 60 and rgb[1] > rgb[2] + 30


def save(card, name, artifacts):
    path = os.path.join(artifacts, name)
    card.write_png(path)
    print("      saved " + path, flush=True)


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


def drawn(tray, at, size, test, seconds=5.0):
    """Captures the area until `test` holds of it or the time is up; the last capture."""
    deadline = time.monotonic() + seconds
    while True:
        card = tray.capture().crop(at[0], at[1], size[0], size[1])
        if test(card) or time.monotonic() > deadline:
            return card
        time.sleep(0.1)


def check_popup(card, connected):
    label = "connected" if connected else "waiting"
    check(near(card.pixel(42, 89), 0x30D158 if connected else 0xB0B5BF), "popup (%s): dot colour" % label)
    check(near(card.pixel(2, 2), 0x000000, 0) and near(card.pixel(273, 163), 0x000000, 0),
          "popup (%s): transparent margin shows the screen behind" % label)


def read_token(prefix):
    found = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "NerovaBridge", "token.txt"))
    for _ in range(300):
        if found:
            break
        time.sleep(0.1)
        found = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "NerovaBridge",
                                       "token.txt"))
    return open(found[0]).read().strip() if found else ""


def start_bridge(args, trace):
    """The program with Wine's trace of its Shell_NotifyIconW calls on its standard error."""
    env = dict(os.environ, WINEDEBUG="-all,+systray")
    with open(trace, "w") as err:
        return subprocess.Popen([WINE, args.bridge], stdout=subprocess.DEVNULL, stderr=err, env=env)


def icon_calls(trace):
    return [int(n) for n in re.findall(r"Shell_NotifyIconW dwMessage = (\d+)", open(trace).read())]


def stop(bridge):
    try:
        return bridge.wait(timeout=15)
    except subprocess.TimeoutExpired:
        bridge.kill()
        return None


def check_keyboard_and_shell(tray, args, trace):
    """Version-4 keyboard events, the icon after an Explorer restart, the click race and a second start."""
    # Enter on the selected icon opens the status card at the icon; Esc closes it and gives the
    # focus back to the notification area.
    focus_before = icon_calls(trace).count(NIM_SETFOCUS)
    tray.probe("keyselect", *ICON_ANCHOR)
    state = tray.wait_for("popup", True)
    check(state["popup"] == (True,) + card_at("popup", ICON_ANCHOR), "Enter on the icon opens the status card "
          "at the icon: %s" % (state["popup"],))
    time.sleep(0.3)
    tray.probe("key", "escape")
    check(not tray.wait_for("popup", False)["popup"][0], "Esc closes the status card")
    check(icon_calls(trace).count(NIM_SETFOCUS) == focus_before + 1, "the focus goes back to the icon (NIM_SETFOCUS)")

    # Shift+F10 opens the menu at the icon, not at the pointer; Down three times and Enter run the
    # third row: start at login turns off again.
    tray.probe("cursor", 20, 20)
    tray.probe("keymenu", *ICON_ANCHOR)
    state = tray.wait_for("menu", True)
    check(state["menu"] == (True,) + card_at("menu", ICON_ANCHOR), "the menu key opens the menu at the icon: %s"
          % (state["menu"],))
    time.sleep(0.3)
    for _ in range(3):
        tray.probe("key", "down")
    menu = drawn(tray, card_at("menu", ICON_ANCHOR), (MENU_W, MENU_H), lambda m: near(m.pixel(10, 81), 0xF0F1F4))
    check(near(menu.pixel(10, 81), 0xF0F1F4), "Down three times marks the third row")
    tray.probe("key", "enter")
    check(not tray.wait_for("menu", False)["menu"][0], "Enter closes the menu")
    check(tray.probe("run-value")[1] == "absent", "Enter runs the marked row: start at login is off")

    # A closing click closes, even when the taskbar takes the foreground and a tick hides the card
    # between the button's press and release (on Windows this reopened it).
    tray.probe("cursor", *CURSOR)
    tray.probe("click", "left")
    tray.wait_for("popup", True)
    time.sleep(0.8)
    after = tray.probe("race")[1]
    check(after.startswith("popup 0 "), "a closing click with a tick between press and release leaves the card "
          "closed: %s" % after)

    # Explorer restarts: both cards hear TaskbarCreated, the icon is added once, and a failed add of
    # an icon that is still there counts as present (no add on every tick after it).
    adds = icon_calls(trace).count(NIM_ADD)
    tray.probe("taskbar-created")
    harness.wait_for(lambda: icon_calls(trace).count(NIM_ADD) > adds, 10)
    time.sleep(2)  # eight ticks more, each of which would add it again
    check(icon_calls(trace).count(NIM_ADD) == adds + 1, "TaskbarCreated adds the icon once: %d adds after it"
          % (icon_calls(trace).count(NIM_ADD) - adds))

    # A second start finds the port taken: it asks this copy to show its card and ends with status 1.
    second = subprocess.run([WINE, args.bridge], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
    line = second.stderr.decode("utf-8", "replace").strip()
    check(second.returncode == 1 and "[NerovaBridge] 监听 127.0.0.1:17668 失败" in line,
          "a second start ends with status 1 and its line: %d %r" % (second.returncode, line))
    check(tray.wait_for("popup", True)["popup"][0], "a second start opens the running copy's status card")
    tray.probe("click", "left")
    tray.wait_for("popup", False)


# GetDoubleClickTime() unless the user changed it, on Windows and in Wine alike.
DOUBLE_CLICK_TIME = 0.5
# The shell's documented version-4 sequences, one after the other, and the cards after each.
SEQUENCES = [("click", True, False), ("click", False, False), ("double", True, False), ("double", False, False),
             ("enter", True, False), ("enter", False, False), ("space", True, False), ("space", False, False),
             ("shift-f10", False, True), ("click", True, False), ("right", False, True), ("right", False, True),
             ("click", True, False), ("double", False, False)]


def check_shell_sequences(tray):
    """Each gesture as the shell sends it: a double-click leaves what its first click did, one Enter
    toggles once; the state is read again after a pause, so a late second toggle shows. Gestures
    come apart as a person's do, past the double-click time, or the rules rightly take a second
    Space for Enter's repeat."""
    ended = 0.0
    for name, popup, menu in SEQUENCES:
        time.sleep(max(0.0, ended + DOUBLE_CLICK_TIME + 0.1 - time.monotonic()))
        tray.probe("sequence", name, *ICON_ANCHOR)
        ended = time.monotonic()
        tray.wait_for("popup" if popup or not menu else "menu", True if popup or menu else False)
        # Within the card's foreground grace time, so only the sequence itself can close it.
        time.sleep(0.4)
        state = tray.state()
        check(state["popup"][0] == popup and state["menu"][0] == menu, "%s: popup %s, menu %s: %s"
              % (name, popup, menu, (state["popup"][0], state["menu"][0])))


def check_session_end(tray, args):
    """A log-off or shutdown, a cancelled one, a Restart Manager close, and a start on a taken port."""
    trace = os.path.join(args.artifacts, "tray-trace-session.txt")
    bridge = start_bridge(args, trace)
    try:
        if not check(tray.probe("wait")[0] == 0, "session: the tray host window exists"):
            return
        tray.probe("sequence", "click", *ICON_ANCHOR)
        tray.wait_for("popup", True)
        answer = tray.probe("endsession", "cancel")[1]
        time.sleep(1)
        check(answer == "query 1 1" and bridge.poll() is None and tray.state()["popup"][0],
              "a cancelled session end is not blocked and changes nothing: %r" % answer)
        deletes = icon_calls(trace).count(NIM_DELETE)
        answer = tray.probe("endsession")[1]
        status = stop(bridge)
        check(answer == "query 1 1" and status == 0, "WM_QUERYENDSESSION is answered TRUE and WM_ENDSESSION ends "
              "the program with status 0: %r, status %s" % (answer, status))
        check(icon_calls(trace).count(NIM_DELETE) > deletes, "the session end removes the icon")
    finally:
        if bridge.poll() is None:
            bridge.kill()

    trace = os.path.join(args.artifacts, "tray-trace-restart-manager.txt")
    bridge = start_bridge(args, trace)
    try:
        if not check(tray.probe("wait")[0] == 0, "restart manager: the tray host window exists"):
            return
        tray.probe("wmclose", "popup")
        status = stop(bridge)
        check(status == 0 and NIM_DELETE in icon_calls(trace),
              "WM_CLOSE to a card (Restart Manager) removes the icon and ends with status 0 (status %s)" % status)
    finally:
        if bridge.poll() is None:
            bridge.kill()

    # Another program holds the port and no copy of ours answers: the line goes to standard error
    # and, where a windowed program's user sees it, into a message box.
    with socket.socket() as taken:
        # The earlier copies' closed connections may still sit in TIME_WAIT on the port.
        taken.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        taken.bind(("127.0.0.1", 17668))
        taken.listen()
        failed = subprocess.Popen([WINE, args.bridge], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            shown = tray.probe("dialog")
            status = failed.wait(timeout=60)
            line = failed.stderr.read().decode("utf-8", "replace").strip()
        finally:
            if failed.poll() is None:
                failed.kill()
    check(shown[0] == 0 and line.startswith("[NerovaBridge] 监听 127.0.0.1:17668 失败") and shown[1].startswith(line),
          "a start on a taken port shows its line in a message box: %r" % (shown[1],))
    check(status == 1, "and ends with status 1 once it is dismissed (status %s)" % status)


def check_double_start(tray, args):
    """Two starts 50 ms apart (a click on the shortcut during a slow sign-in): the one that finds the
    port taken waits for the other's window, so one copy runs and opens its status card, and the
    other ends by itself with status 1: no message box holds it."""
    copies = [start_bridge(args, os.path.join(args.artifacts, "tray-trace-double-1.txt"))]
    time.sleep(0.05)
    copies.append(start_bridge(args, os.path.join(args.artifacts, "tray-trace-double-2.txt")))
    try:
        harness.wait_for(lambda: any(copy.poll() is not None for copy in copies), 60)
        ended = [copy.poll() for copy in copies]
        if not check(sorted(ended, key=str) == [1, None], "two starts 50 ms apart: one runs, one ends: %s" % ended):
            tray.probe("dialog")
            return
        check(tray.wait_for("popup", True)["popup"][0], "and the running copy opens its status card")
        tray.probe("quit")
        check(stop(copies[ended.index(None)]) == 0, "the running copy quits with status 0")
    finally:
        for copy in copies:
            if copy.poll() is None:
                copy.kill()


def check_scaling(tray, args, dpi):
    """The real program at another DPI: both cards sized and placed by DPI / 96, then a quit from outside."""
    label = "%d %%" % (dpi * 100 // 96)
    tray.probe("reg-dpi", dpi)
    bridge = start_bridge(args, os.path.join(args.artifacts, "tray-trace-%d.txt" % dpi))
    try:
        if not check(tray.probe("wait")[0] == 0, "%s: the tray host window exists" % label):
            return
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        state = tray.wait_for("popup", True)
        check(state["popup"] == (True,) + card_at("popup", CURSOR, dpi) and
              state["popup_size"] == card_size("popup", dpi),
              "%s: the status card is %s at %s: %s" % (label, card_size("popup", dpi), card_at("popup", CURSOR, dpi),
                                                       state))
        at, size = card_at("popup", CURSOR, dpi), card_size("popup", dpi)

        def at_scale(card):
            return (near(card.pixel(scale(138, dpi), scale(65, dpi)), 0xFFFFFF, 0) and
                    near(card.pixel(scale(42, dpi), scale(89, dpi)), 0xB0B5BF))
        card = drawn(tray, at, size, at_scale)
        check(at_scale(card), "%s: the card is drawn at its scale" % label)
        save(card, "tray-popup-%d.png" % dpi, args.artifacts)
        tray.probe("click", "right")
        state = tray.wait_for("menu", True)
        check(state["menu"] == (True,) + card_at("menu", CURSOR, dpi) and state["menu_size"] == card_size("menu", dpi),
              "%s: the menu is %s at %s: %s" % (label, card_size("menu", dpi), card_at("menu", CURSOR, dpi), state))
        time.sleep(0.4)
        at, size = card_at("menu", CURSOR, dpi), card_size("menu", dpi)
        save(tray.capture().crop(at[0], at[1], size[0], size[1]), "tray-menu-%d.png" % dpi, args.artifacts)
        tray.probe("quit")
        check(stop(bridge) == 0, "%s: WM_CLOSE to the tray host window quits with status 0" % label)
    finally:
        if bridge.poll() is None:
            bridge.kill()


def main():
    parser = argparse.ArgumentParser()
    for name in ("bridge", "probe", "artifacts", "prefix", "display"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    tray = Tray(args)

    trace = os.path.join(args.artifacts, "tray-trace-96.txt")
    bridge = start_bridge(args, trace)
    try:
        if not check(tray.probe("wait")[0] == 0, "the tray host window exists"):
            return 1
        background = tray.capture()
        harness.wait_for(lambda: len(icon_calls(trace)) >= 2, 10)
        check(icon_calls(trace)[:2] == [NIM_ADD, NIM_SETVERSION] and icon_calls(trace).count(NIM_ADD) == 1,
              "the icon is added once, then set to version 4: %s" % icon_calls(trace)[:6])

        # Popup card: the icon's left click opens it at the placement the rules give.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        state = tray.wait_for("popup", True)
        check(state["popup"] == (True, POPUP_AT[0], POPUP_AT[1]) and state["popup_size"] == (POPUP_W, POPUP_H),
              "left click opens the popup at %s: %s" % (POPUP_AT, state))
        card, _ = popup_state_seen(tray, False, 10)
        save(card, "tray-popup-waiting.png", args.artifacts)
        check_popup(card, False)

        # A live channel turns the card to "网页已连接" (the tray samples every 2 s), and back when
        # the page closes it; until then the card showed waiting (above).
        channel = harness.Channel(read_token(args.prefix), [("Sec-WebSocket-Protocol", "orva-local-helper")])
        check(channel.head.startswith("HTTP/1.1 101"), "live channel admitted: " + channel.head.split("\r\n")[0])
        card, taken = popup_state_seen(tray, True, CARD_CHANGE)
        check(taken <= CARD_CHANGE, "the card shows the live channel after %.1f s" % taken)
        save(card, "tray-popup-connected.png", args.artifacts)
        check_popup(card, True)
        channel.send(harness.client_frame(CLOSE, b"\x03\xe8"))
        try:
            channel.opcodes_until_closed(timeout=3)
        except OSError:
            pass
        channel.close()
        card, taken = popup_state_seen(tray, False, CARD_CHANGE)
        check(taken <= CARD_CHANGE, "the card shows the closed channel after %.1f s" % taken)
        check_popup(card, False)

        # The pointer over the quit button darkens it.
        tray.probe("cursor", POPUP_AT[0] + 60, POPUP_AT[1] + 131)
        for _ in range(50):
            time.sleep(0.2)
            card = tray.capture().crop(POPUP_AT[0], POPUP_AT[1], POPUP_W, POPUP_H)
            if near(card.pixel(28, 131), 0xE4E6EB):
                break
        save(card, "tray-popup-hover.png", args.artifacts)
        check(near(card.pixel(28, 131), 0xE4E6EB), "quit button hover fill")

        # A second left click closes the popup; Alt+F4 only hides it, and it opens again.
        tray.probe("click", "left")
        check(not tray.wait_for("popup", False)["popup"][0], "a second left click hides the popup")
        tray.probe("click", "left")
        tray.wait_for("popup", True)
        tray.probe("close", "popup")
        check(not tray.wait_for("popup", False)["popup"][0], "Alt+F4 (SC_CLOSE) hides the popup")
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        check(tray.wait_for("popup", True)["popup"][0], "the popup opens again after Alt+F4")

        # Menu card: the right click replaces the popup with it.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "right")
        state = tray.wait_for("menu", True)
        check(state["menu"] == (True, MENU_AT[0], MENU_AT[1]) and not state["popup"][0],
              "right click opens the menu at %s and hides the popup: %s" % (MENU_AT, state))
        time.sleep(0.3)
        menu = tray.capture().crop(MENU_AT[0], MENU_AT[1], MENU_W, MENU_H)
        save(menu, "tray-menu.png", args.artifacts)
        check(not any_pixel(menu, (10, 6, 30, 126), greenish), "menu: no check mark while start at login is off")
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
        menu = drawn(tray, MENU_AT, (MENU_W, MENU_H), lambda m: greenish(m.pixel(22, 81)))
        tray.probe("cursor", MENU_AT[0] + 100, MENU_AT[1] + 6 + 30 + 15)
        hovered = drawn(tray, MENU_AT, (MENU_W, MENU_H), lambda m: near(m.pixel(10, 51), 0xF0F1F4))
        save(menu, "tray-menu-autostart.png", args.artifacts)
        save(hovered, "tray-menu-hover.png", args.artifacts)
        check(greenish(menu.pixel(22, 81)), "menu: check mark while start at login is on")
        check(near(hovered.pixel(10, 51), 0xF0F1F4), "menu: hover fill on the row under the pointer")

        # Esc closes the menu without an action.
        tray.probe("key", "escape")
        check(not tray.wait_for("menu", False)["menu"][0], "Esc closes the menu")
        check(tray.probe("run-value")[1] != "absent", "Esc runs no action")

        check_keyboard_and_shell(tray, args, trace)
        check_shell_sequences(tray)

        # The quit button ends the process with status 0.
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        tray.wait_for("popup", True)
        tray.probe("press", POPUP_AT[0] + 138, POPUP_AT[1] + 131)
        status = stop(bridge)
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
    for dpi in (120, 144, 192):
        check_scaling(tray, args, dpi)
    for _ in range(2):  # a start 50 ms after another lands in its start-up most, not all, of the time
        check_double_start(tray, args)
    # Last: Wine's shell may take a strip of the work area once a message box has been shown.
    check_session_end(tray, args)
    print("tray end-to-end: %d passed, %d failed" % (len(passes), len(failures)), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
