"""A screen reader's view of the real program under Wine, run by tray_e2e.sh: each card's IAccessible
read through AccessibleObjectFromWindow at 96 and 144 DPI, a row run by accDoDefaultAction, the
events a screen reader hears while keys move the highlight, then both cards drawn in a contrast
theme set in the prefix's registry, captured from the screen."""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "support")]
import harness  # noqa: E402
import tray_e2e as tray_test  # noqa: E402
from tray_e2e import CURSOR, WINE, card_at, check, near, save, scale  # noqa: E402

ROLE_PANE, ROLE_MENUPOPUP, ROLE_MENUITEM, ROLE_STATICTEXT, ROLE_PUSHBUTTON = 0x10, 0x0B, 0x0C, 0x29, 0x2B
STATE_CHECKED, STATE_FOCUSED, STATE_INVISIBLE = 0x10, 0x4, 0x8000
MENUPOPUPSTART, MENUPOPUPEND, FOCUS, SELECTION, NAMECHANGE = 0x6, 0x7, 0x8005, 0x8006, 0x800C
OBJID_CLIENT = -4
MENU_LABELS = ["打开状态面板", "打开Nerova主站", "开机自启", "退出助手"]
# Windows 11's "Desert" contrast theme, as Control Panel\Colors holds it: its window colour is
# neither the cards' white nor the black screen behind them.
CONTRAST = {"Window": (255, 250, 239), "WindowText": (61, 61, 61), "Hilight": (144, 57, 9),
            "HilightText": (255, 245, 227), "ButtonFace": (255, 250, 239), "ButtonText": (32, 32, 32),
            "GrayText": (109, 109, 109)}


class Access:
    def __init__(self, args):
        self.probe = args.access_probe

    def run(self, *words):
        result = subprocess.run([WINE, self.probe, *map(str, words)], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=60)
        return result.stdout.decode("utf-8", "replace")

    def tree(self, card):
        """[(id, role, state, (left, top, width, height), name, description, action)], the card first."""
        items = []
        for line in self.run("tree", card).splitlines():
            fields = line.split("\t")
            if len(fields) != 10:
                check(False, "%s: a line the probe could not read: %r" % (card, line))
                continue
            items.append((int(fields[0]), int(fields[1]), int(fields[2], 16), tuple(map(int, fields[3:7])),
                          fields[7], fields[8], fields[9]))
        return items


class Watch:
    """access_probe watch in the background: the card events it hears."""

    def __init__(self, access, seconds):
        self.process = subprocess.Popen([WINE, access.probe, "watch", str(seconds)], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.ready = self.process.stdout.readline().strip() == b"ready"

    def events(self):
        out = self.process.communicate(timeout=90)[0].decode()
        return [(int(w[1], 16), w[2], int(w[3]), int(w[4])) for w in (line.split() for line in out.splitlines())
                if len(w) == 5 and w[0] == "event"]


def box(at, x, y, width, height, dpi):
    return (at[0] + scale(x, dpi), at[1] + scale(y, dpi), scale(x + width, dpi) - scale(x, dpi),
            scale(y + height, dpi) - scale(y, dpi))


def check_popup_tree(access, dpi, connected):
    label = "%d DPI" % dpi
    at = card_at("popup", CURSOR, dpi)
    items = access.tree("popup")
    if not check(len(items) == 3, "%s: the status card has two children: %s" % (label, items)):
        return
    card, status, quit_button = items
    check(card[1] == ROLE_PANE and card[4] == "Nerova桥" and card[3] == box(at, 0, 0, 276, 166, dpi),
          "%s: the status card is a pane named by its title over the whole card: %s" % (label, card))
    want = ("网页已连接", "通道保持中") if connected else ("网页未连接", "等待网页连接")
    check(status[1] == ROLE_STATICTEXT and status[4:6] == want and status[3] == box(at, 24, 72, 228, 34, dpi),
          "%s: the status line names the state, the detail line is its description: %s" % (label, status))
    check(quit_button[1] == ROLE_PUSHBUTTON and quit_button[4] == "退出助手" and quit_button[6] == "按下"
          and quit_button[3] == box(at, 24, 116, 228, 30, dpi),
          "%s: the quit button is a push button pressed by 按下, where it is drawn: %s" % (label, quit_button))


def check_menu_tree(access, dpi, autostart):
    label = "%d DPI" % dpi
    at = card_at("menu", CURSOR, dpi)
    items = access.tree("menu")
    if not check(len(items) == 5, "%s: the menu has four children: %s" % (label, items)):
        return
    check(items[0][1] == ROLE_MENUPOPUP and items[0][3] == box(at, 0, 0, 190, 132, dpi),
          "%s: the menu card is a menu: %s" % (label, items[0]))
    rows = items[1:]
    check([r[4] for r in rows] == MENU_LABELS and all(r[1] == ROLE_MENUITEM for r in rows),
          "%s: its children are menu items named as drawn: %s" % (label, [r[4] for r in rows]))
    check([r[3] for r in rows] == [box(at, 0, 6 + 30 * i, 190, 30, dpi) for i in range(4)],
          "%s: each row's box is where it is drawn: %s" % (label, [r[3] for r in rows]))
    check([bool(r[2] & STATE_CHECKED) for r in rows] == [False, False, autostart, False],
          "%s: 开机自启 is %s" % (label, "checked" if autostart else "not checked"))


def run_bridge(args, tray, dpi, body):
    tray.probe("reg-dpi", dpi)
    bridge = tray_test.start_bridge(args, os.path.join(args.artifacts, "access-trace-%d.txt" % dpi))
    try:
        if check(tray.probe("wait")[0] == 0, "%d DPI: the tray host window exists" % dpi):
            body()
        tray.probe("quit")
        check(tray_test.stop(bridge) == 0, "%d DPI: the program ends with status 0" % dpi)
    finally:
        if bridge.poll() is None:
            bridge.kill()


def at_96(args, tray, access):
    tray.probe("cursor", *CURSOR)
    tray.probe("click", "left")
    check(tray.wait_for("popup", True)["popup"][0], "the status card opens")
    time.sleep(0.5)
    check_popup_tree(access, 96, False)

    # Tab moves to the quit button; a live channel changes the status line's name while it is shown.
    watch = Watch(access, 12)
    check(watch.ready, "the event hook is set")
    access.run("key", "tab")
    time.sleep(0.5)
    channel = harness.Channel(tray_test.read_token(args.prefix), [("Sec-WebSocket-Protocol", "orva-local-helper")])
    deadline = time.monotonic() + 8
    while time.monotonic() < deadline and access.tree("popup")[1][4] != "网页已连接":
        time.sleep(0.3)
    check_popup_tree(access, 96, True)
    check(access.tree("popup")[2][2] & STATE_FOCUSED, "Tab leaves the quit button focused")
    events = watch.events()
    check((FOCUS, "ORVAPopupCard", OBJID_CLIENT, 2) in events, "Tab: focus moves to the quit button: %s" % events)
    check((NAMECHANGE, "ORVAPopupCard", OBJID_CLIENT, 1) in events,
          "the status line's name change is announced: %s" % events)
    channel.close()
    access.run("key", "escape")
    check(not tray.wait_for("popup", False)["popup"][0], "Esc closes the status card")

    # The menu: opening and closing it, and each key's move, are heard.
    watch = Watch(access, 14)
    tray.probe("click", "right")
    check(tray.wait_for("menu", True)["menu"][0], "the menu opens")
    time.sleep(0.5)
    check_menu_tree(access, 96, False)
    access.run("key", "down", "down", "end", "home")
    time.sleep(0.5)
    check(access.tree("menu")[1][2] & STATE_FOCUSED, "Home leaves the first row focused")
    access.run("key", "escape")
    tray.wait_for("menu", False)
    events = watch.events()
    heard = [(e, c) for e, _, _, c in events if e in (FOCUS, SELECTION, MENUPOPUPSTART, MENUPOPUPEND)]
    check(heard == [(MENUPOPUPSTART, 0), (FOCUS, 1), (SELECTION, 1), (FOCUS, 2), (SELECTION, 2), (FOCUS, 4),
                    (SELECTION, 4), (FOCUS, 1), (SELECTION, 1), (MENUPOPUPEND, 0)],
          "the menu's start, each highlight move as focus and selection, then its end: %s" % heard)

    # accDoDefaultAction on 开机自启 runs it as a click does: the menu closes, start at login turns on.
    tray.probe("click", "right")
    tray.wait_for("menu", True)
    time.sleep(0.5)
    check(access.run("do", "menu", 3).strip() == "0x0", "accDoDefaultAction on a row succeeds")
    check(not tray.wait_for("menu", False)["menu"][0], "the default action closes the menu")
    check(tray.probe("run-value")[1] != "absent", "the default action on 开机自启 turns start at login on")
    tray.probe("click", "right")
    tray.wait_for("menu", True)
    time.sleep(0.5)
    check_menu_tree(access, 96, True)
    access.run("key", "escape")
    tray.wait_for("menu", False)


def at_144(tray, access):
    tray.probe("cursor", *CURSOR)
    tray.probe("click", "left")
    tray.wait_for("popup", True)
    time.sleep(0.5)
    check_popup_tree(access, 144, False)
    tray.probe("click", "right")
    tray.wait_for("menu", True)
    time.sleep(0.5)
    check_menu_tree(access, 144, True)  # turned on at 96 DPI


def rgb_hex(rgb):
    return (rgb[0] << 16) | (rgb[1] << 8) | rgb[2]


def contrast(tray, access, args):
    for name, rgb in CONTRAST.items():
        subprocess.run([WINE, "reg", "add", r"HKCU\Control Panel\Colors", "/v", name, "/d", "%d %d %d" % rgb, "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    drawing = subprocess.Popen([WINE, access.probe, "draw", "20"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    check(drawing.stdout.readline().strip() == b"drawn", "both cards are drawn in the contrast theme")
    time.sleep(1.5)
    shot = tray.capture().crop(90, 90, 300, 360)
    save(shot, "tray-contrast.png", args.artifacts)
    drawing.kill()
    drawing.wait()
    popup = lambda x, y: shot.pixel(10 + x, 10 + y)  # noqa: E731
    menu = lambda x, y: shot.pixel(10 + x, 210 + y)  # noqa: E731
    window, text, highlight = (rgb_hex(CONTRAST[k]) for k in ("Window", "WindowText", "Hilight"))
    check(near(popup(138, 65), window, 0) and near(menu(100, 3), window, 0),
          "contrast: both cards have the window colour: %s %s" % (popup(138, 65), menu(100, 3)))
    # The menu's border pen sits half outside its first pixel row, so it may land on either.
    check(near(popup(138, 8), text, 0) and (near(menu(100, 0), text, 0) or near(menu(100, 1), text, 0)),
          "contrast: the borders have the window text colour: %s %s %s" % (popup(138, 8), menu(100, 0),
                                                                           menu(100, 1)))
    check(near(popup(28, 131), highlight, 0), "contrast: the marked quit button has the highlight colour")
    check(near(menu(10, 51), highlight, 0), "contrast: the marked row has the highlight colour")
    check(near(popup(42, 89), highlight, 0), "contrast: the live channel's dot has the highlight colour")
    check(tray_test.any_pixel(shot.crop(10 + 66, 10 + 21, 150, 20), (0, 0, 150, 20),
                              lambda p: near(p, text, 40)), "contrast: the title is in the window text colour")


def main():
    parser = argparse.ArgumentParser()
    for name in ("bridge", "probe", "artifacts", "prefix", "display", "access-probe"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    os.makedirs(args.artifacts, exist_ok=True)
    tray, access = tray_test.Tray(args), Access(args)
    run_bridge(args, tray, 96, lambda: at_96(args, tray, access))
    run_bridge(args, tray, 144, lambda: at_144(tray, access))
    contrast(tray, access, args)
    print("tray access end-to-end: %d passed, %d failed" % (len(tray_test.passes), len(tray_test.failures)),
          flush=True)
    return 1 if tray_test.failures else 0


if __name__ == "__main__":
    sys.exit(main())
