"""A screen reader's view of the real program under Wine, run by tray_e2e.sh: each card's IAccessible
read through AccessibleObjectFromWindow at 96 and 144 DPI; each card driven as NVDA drives it (object
navigation by accNavigate, focus by accSelect, keys and the pointer), one table row per action with
the focus and the events it must give and what NVDA's rules speak; then the cards drawn in a
contrast theme set in the prefix's registry, captured from the screen."""
import argparse
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "support")]
import harness  # noqa: E402
import tray_e2e as tray_test  # noqa: E402
from tray_e2e import CURSOR, ICON_ANCHOR, WINE, card_at, check, near, save, scale  # noqa: E402

ROLE_DIALOG, ROLE_MENUPOPUP, ROLE_MENUITEM, ROLE_STATICTEXT, ROLE_PUSHBUTTON = 0x12, 0x0B, 0x0C, 0x29, 0x2B
STATE_SELECTED, STATE_FOCUSED, STATE_CHECKED, STATE_HOTTRACKED = 0x2, 0x4, 0x10, 0x80
MENUPOPUPSTART, MENUPOPUPEND, FOCUS, SELECTION, SELECTIONREMOVE, NAMECHANGE, DESCRIPTIONCHANGE = (
    0x6, 0x7, 0x8005, 0x8006, 0x8008, 0x800C, 0x800D)
TAKEFOCUS, TAKESELECTION = 1, 2
S_OK, S_FALSE, E_INVALIDARG = "0x0", "0x1", "0x80070057"
OBJID_CLIENT = -4
MENU_LABELS = ["打开状态面板", "打开Nerova主站", "开机自启", "退出助手"]
# Windows 11's "Desert" contrast theme, as Control Panel\Colors holds it: its window colour is
# neither the cards' white nor the black screen behind them, and its button face is its window
# colour, so only an edge shows where the button is.
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
    """access_probe watch in the background: the card events as they arrive, each as (event, class,
    child, the card's focus then, what NVDA's rules speak)."""

    def __init__(self, access, seconds=400):
        self.process = subprocess.Popen([WINE, access.probe, "watch", str(seconds)], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.ready = self.process.stdout.readline().strip() == b"ready"
        self.events, self.taken = [], 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            fields = raw.decode("utf-8", "replace").rstrip("\r\n").split("\t")
            words = fields[0].split()
            if len(fields) == 3 and len(words) == 5 and words[0] == "event" and int(words[3]) == OBJID_CLIENT:
                self.events.append((int(words[1], 16), words[2], int(words[4]), fields[1][len("focus="):],
                                    fields[2]))

    def next(self, count, seconds=30):
        """The next `count` events, waiting for them as long as a loaded machine may need."""
        deadline = time.monotonic() + seconds
        while len(self.events) < self.taken + count and time.monotonic() < deadline:
            time.sleep(0.1)
        got = self.events[self.taken:self.taken + count]
        self.taken += len(got)
        return got

    def stop(self):
        self.process.kill()
        self.process.wait()


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
    check(card[1] == ROLE_DIALOG and card[4] == "Nerova桥" and card[3] == box(at, 8, 8, 260, 150, dpi),
          "%s: the status card is a dialog named by its title, where it is drawn: %s" % (label, card))
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


def drive(label, watch, rows):
    """Each row: (action, events [(event, child)] it must give, in order, the card's focus after
    them, and words NVDA must speak at the last of them, or None for none)."""
    for action, want, focus, words in rows:
        answer = action()
        got = watch.next(len(want)) if want else []
        heard = [(event, child) for event, _, child, _, _ in got]
        said = " | ".join(e[4] for e in got if e[4] != "-") or "-"
        check(heard == want and (not got or got[-1][3] == focus) and (words is None or all(w in said for w in words))
              and answer == getattr(action, "answer", None),
              "%s: %s gives %s, focus %s, speaking %s: got %s, focus %s, said %r%s" % (
                  label, action.__doc__, want, focus, words, heard, got[-1][3] if got else "-", said,
                  "" if answer is None else ", answered " + answer))


def walk_checks(label, access, card, count):
    """accNavigate (up, down, left, right, next, previous, first and last child) from the card, each
    child and one past the last: the children stand in one column, down is next and up previous."""
    def reach(i):
        return str(i) if 1 <= i <= count else "-"
    want = ["0 - - - - - - 1 %d" % count]
    want += ["%d %s %s - - %s %s x x" % (i, reach(i - 1), reach(i + 1), reach(i + 1), reach(i - 1))
             for i in range(1, count + 1)]
    want += ["%d x x x x x x x x" % (count + 1), "properties 1" + " 0x80020003" * 4,
             "properties %d" % (count + 1) + " " + " ".join([E_INVALIDARG] * 4)]
    got = [line.strip() for line in access.run("walk", card).splitlines()]
    check(got == want, "%s: accNavigate alone walks every child and stops at the ends; an invalid child is "
          "refused: %s" % (label, got))


def states(access, card):
    return [item[2] for item in access.tree(card)]


def not_foreground(tray, access, card, open_card):
    """Another window takes the foreground while the card is still shown: nothing in it has the
    focus. The probe waits for the card and asks within its grace time; a card that closed first
    proves nothing, so that round is taken again."""
    for _ in range(3):
        waiting = subprocess.Popen([WINE, access.probe, "unfocused", card], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        waiting.stdout.readline()
        open_card()
        answer = waiting.communicate(timeout=90)[0].decode().strip()
        tray.probe("key", "escape")
        tray.wait_for(card, False)
        if "foreground=1 visible=1" in answer:
            break
    check(answer.startswith("hr=0x1 vt=0 foreground=1 visible=1 focused=0"),
          "%s shown but not the foreground: get_accFocus gives S_FALSE and the card is not focused: %s"
          % (card, answer))


def at_96(args, tray, access):
    watch = Watch(access)
    check(watch.ready, "the event hook is set")
    popup_at = card_at("popup", CURSOR)
    menu_at = card_at("menu", CURSOR)
    channel = []

    def act(doc, run):
        def action():
            run()
        action.__doc__ = doc
        return action

    def key(name):
        return act("key " + name, lambda: access.run("key", name))

    def select(card, flags, child, answer=S_OK):
        def run():
            return access.run("select", card, flags, child).strip()
        run.__doc__, run.answer = "accSelect(%d, %d)" % (flags, child), answer
        return run

    def pointer(x, y, where):
        return act("the pointer over " + where, lambda: tray.probe("cursor", x, y))

    def open_popup():
        tray.probe("cursor", *CURSOR)
        tray.probe("click", "left")
        check(tray.wait_for("popup", True)["popup"][0], "the status card opens")

    def connect():
        channel.append(harness.Channel(tray_test.read_token(args.prefix),
                                       [("Sec-WebSocket-Protocol", "orva-local-helper")]))

    def disconnect():
        channel[0].close()

    # The status card opens with the focus on its status line; Tab and accSelect move it between the
    # line and the button; the pointer only makes the button hot; a live channel renames the focus.
    quit_x, quit_y = popup_at[0] + 60, popup_at[1] + 131
    drive("status card", watch, [
        (act("opening", open_popup), [(FOCUS, 1)], "1",
         ["Nerova桥", "本地网络桥接服务", "网页未连接", "等待网页连接"]),
        (key("tab"), [(FOCUS, 2)], "2", ["退出助手"]),
        (key("tab"), [(FOCUS, 1)], "1", ["网页未连接"]),
        (select("popup", TAKEFOCUS, 2), [(FOCUS, 2)], "2", ["退出助手"]),
        (select("popup", TAKESELECTION, 1, E_INVALIDARG), [], None, None),
        (select("popup", TAKEFOCUS, 1), [(FOCUS, 1)], "1", ["网页未连接"]),
        (pointer(quit_x, quit_y, "the quit button"), [], None, None),
        (act("a page connecting", connect), [(NAMECHANGE, 1), (DESCRIPTIONCHANGE, 1)], "1",
         ["网页已连接", "通道保持中"]),
    ])
    check_popup_tree(access, 96, True)
    popup_states = states(access, "popup")
    check(popup_states[1] & STATE_FOCUSED and not popup_states[2] & STATE_FOCUSED and
          popup_states[2] & STATE_HOTTRACKED, "the status line has the focus, the button under the pointer is "
          "hot only: %s" % ["0x%x" % state for state in popup_states])
    walk_checks("status card", access, "popup", 2)
    drive("status card", watch, [
        (act("the page leaving", disconnect), [(NAMECHANGE, 1), (DESCRIPTIONCHANGE, 1)], "1",
         ["网页未连接", "等待网页连接"]),
    ])
    tray.probe("cursor", *CURSOR)
    access.run("key", "escape")
    check(not tray.wait_for("popup", False)["popup"][0], "Esc closes the status card")

    # The menu: opening and closing it, each key's move, each row the pointer moves to and each
    # accSelect are heard, the pointer's with the same events as the keys'.
    def open_menu():
        tray.probe("click", "right")
        check(tray.wait_for("menu", True)["menu"][0], "the menu opens")

    def row(i):
        return menu_at[0] + 100, menu_at[1] + 6 + 30 * i + 15

    drive("menu", watch, [
        (act("opening", open_menu), [(MENUPOPUPSTART, 0)], "0", None),
        (key("down"), [(FOCUS, 1), (SELECTION, 1)], "1", ["打开状态面板"]),
        (key("down"), [(FOCUS, 2), (SELECTION, 2)], "2", ["打开Nerova主站"]),
        (key("end"), [(FOCUS, 4), (SELECTION, 4)], "4", ["退出助手"]),
        (key("home"), [(FOCUS, 1), (SELECTION, 1)], "1", ["打开状态面板"]),
        (pointer(*row(1), where="the second row"), [(FOCUS, 2), (SELECTION, 2)], "2", ["打开Nerova主站"]),
        (pointer(*row(2), where="the third row"), [(FOCUS, 3), (SELECTION, 3)], "3", ["开机自启"]),
        (pointer(menu_at[0] + 100, menu_at[1] + 3, "the menu's top edge"), [(FOCUS, 0), (SELECTIONREMOVE, 3)],
         "0", ["Nerova桥"]),
        (select("menu", TAKEFOCUS | TAKESELECTION, 4), [(FOCUS, 4), (SELECTION, 4)], "4", ["退出助手"]),
        (select("menu", TAKEFOCUS, 2), [(FOCUS, 2), (SELECTION, 2)], "2", ["打开Nerova主站"]),
        (select("menu", TAKESELECTION, 0, E_INVALIDARG), [], None, None),
        (key("escape"), [(MENUPOPUPEND, 0)], "none", None),
    ])
    check(tray.wait_for("menu", False)["menu"][0] is False, "Esc closes the menu")

    # The menu key opens the menu under a resting pointer: no row is chosen until the pointer moves.
    at = card_at("menu", ICON_ANCHOR)
    tray.probe("cursor", at[0] + 100, at[1] + 6 + 30 * 2 + 15)
    drive("menu from the keyboard", watch, [
        (act("opening under the pointer", lambda: tray.probe("keymenu", *ICON_ANCHOR)),
         [(MENUPOPUPSTART, 0)], "0", None),
        (key("down"), [(FOCUS, 1), (SELECTION, 1)], "1", ["打开状态面板"]),
        (key("escape"), [(MENUPOPUPEND, 0)], "none", None),
    ])
    tray.wait_for("menu", False)
    watch.stop()

    # Walking the menu; then accDoDefaultAction on 开机自启 runs it as a click does: the menu
    # closes, start at login turns on.
    tray.probe("cursor", *CURSOR)
    open_menu()
    time.sleep(0.5)
    check_menu_tree(access, 96, False)
    walk_checks("menu", access, "menu", 4)
    check(access.run("do", "menu", 3).strip() == "0x0", "accDoDefaultAction on a row succeeds")
    check(not tray.wait_for("menu", False)["menu"][0], "the default action closes the menu")
    check(tray.probe("run-value")[1] != "absent", "the default action on 开机自启 turns start at login on")
    open_menu()
    time.sleep(0.5)
    check_menu_tree(access, 96, True)
    access.run("key", "escape")
    tray.wait_for("menu", False)

    not_foreground(tray, access, "popup", open_popup)
    not_foreground(tray, access, "menu", open_menu)


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
    check(drawing.stdout.readline().strip() == b"drawn", "the cards are drawn in the contrast theme")
    time.sleep(1.5)
    shot = tray.capture().crop(90, 90, 600, 360)
    save(shot, "tray-contrast.png", args.artifacts)
    drawing.kill()
    drawing.wait()
    popup = lambda x, y: shot.pixel(10 + x, 10 + y)  # noqa: E731
    menu = lambda x, y: shot.pixel(10 + x, 210 + y)  # noqa: E731
    window, text, highlight, button_text = (rgb_hex(CONTRAST[k]) for k in ("Window", "WindowText", "Hilight",
                                                                          "ButtonText"))
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
    # The waiting card: its words in window text, its dot a ring, and its button, whose face is the
    # window's colour in this theme, shown by its edge.
    waiting = shot.crop(310, 10, 276, 166)
    check(near(waiting.pixel(28, 131), window, 0) and
          tray_test.any_pixel(waiting, (22, 129, 27, 134), lambda p: near(p, button_text, 8)),
          "contrast: the unmarked quit button has the button face and an edge in button text: %s"
          % [waiting.pixel(x, 131) for x in range(22, 27)])
    check(tray_test.any_pixel(waiting, (54, 72, 174, 106), lambda p: near(p, text, 8)),
          "contrast: 网页未连接 is in the window text colour, not the disabled one")
    check(near(waiting.pixel(42, 89), window, 0) and
          tray_test.any_pixel(waiting, (36, 83, 48, 95), lambda p: near(p, text, 8)),
          "contrast: the waiting dot is a ring of window text: %s" % [waiting.pixel(x, 89) for x in range(36, 48)])


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
