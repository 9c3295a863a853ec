"""The Windows installer under Wine, run by tests/wine-run --with-prefix inside a network namespace
with a fresh prefix: silent install, silent install that starts the helper, an upgrade over the
running helper, and silent uninstall, checking files, shortcut, registry and the served port.

An older build is made here: the same executable with bytes appended (Windows ignores them), so the
upgrade can tell the files apart, packed by the same script with an older version number."""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

WINE = "/usr/lib/wine/wine64"
OLD_VERSION = "0.0.1"
AS_INVOKER = b'<requestedExecutionLevel level="asInvoker"'
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\NerovaBridge"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"

DIRECT = urllib.request.build_opener(urllib.request.ProxyHandler({}))
failures = []


def check(condition, message):
    print(("ok    " if condition else "FAIL  ") + message, flush=True)
    if not condition:
        failures.append(message)
    return condition


def wine(*args, timeout=60, stderr=subprocess.DEVNULL, env=None):
    # The helper an installer starts would hold a pipe open: no output goes to a pipe.
    return subprocess.run([WINE, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=stderr, timeout=timeout, env=env).returncode


def asked_tray_to_quit(relay_log):
    """Whether Wine's relay log shows the tray host found among the message-only windows
    (FindWindowExW with HWND_MESSAGE) and sent WM_CLOSE: Windows' FindWindow without that parent
    never finds it, while Wine's does, so the call itself is checked."""
    found = set()
    lines = open(relay_log, errors="replace").read().splitlines()
    for call, result in zip(lines, lines[1:]):
        if "Call user32.FindWindowExW(fffffffffffffffd,00000000," in call and 'L"ORVATrayHidden"' in call:
            found.add(re.search(r"retval=([0-9a-f]+)", result).group(1))
    return any(re.search(r"Call user32.SendMessageTimeoutW\(%s,00000010," % window, line)
               for window in found - {"00000000"} for line in lines)


def reg_values(key):
    """The values of a registry key as {name: text}, or None when the key is missing."""
    with tempfile.TemporaryDirectory() as folder:
        exported = os.path.join(folder, "key.reg")
        if wine("reg", "export", key, exported, "/y") != 0:
            return None
        text = open(exported, encoding="utf-16").read()
    values = {}
    for line in text.splitlines():
        if line.startswith('"') and '"=' in line:
            name, _, data = line.partition('"=')
            if data.startswith('"'):
                data = re.sub(r"\\(.)", r"\1", data[1:-1])
            values[name[1:]] = data
    return values


def reg_has_value(key, name):
    return wine("reg", "query", key, "/v", name) == 0


def bridge_processes(prefix):
    """{pid: program path} of the live NerovaBridge.exe processes of this prefix's wineserver."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % entry, "rb") as handle:
                if ("WINEPREFIX=" + prefix).encode() not in handle.read().split(b"\0"):
                    continue
            with open("/proc/%s/stat" % entry) as handle:
                if handle.read().rpartition(")")[2].split()[0] == "Z":
                    continue
            with open("/proc/%s/cmdline" % entry, "rb") as handle:
                program = handle.read().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        # Wine shows a Windows process's own command line, its program first.
        if re.split(r"[\\/]", program)[-1].lower() == "nerovabridge.exe":
            found[int(entry)] = program
    return found


def heartbeat():
    try:
        with DIRECT.open("http://127.0.0.1:17668/heartbeat", timeout=2) as answer:
            return answer.status == 200 and b'"ok":true' in answer.read()
    except OSError:
        return False


def port_closed():
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", 17668)) != 0


def wait_until(condition, seconds=15.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def make_older_installer(args, work):
    older_exe = os.path.join(work, "NerovaBridge.exe")
    shutil.copyfile(args.exe, older_exe)
    with open(older_exe, "ab") as handle:
        handle.write(b"older build\0")
    installer = os.path.join(work, "older-setup.exe")
    # A copy that does not quit is given 1 s here, not 10 s.
    subprocess.run([args.makensis, "-V1", "-INPUTCHARSET", "UTF8", "-DVERSION=" + OLD_VERSION,
                    "-DQUIT_WAIT_MS=1000", "-DBRIDGE_EXE=" + older_exe, "-DOUT_FILE=" + installer, args.nsi],
                   check=True)
    return installer, older_exe


def same_bytes(first, second):
    with open(first, "rb") as a, open(second, "rb") as b:
        return a.read() == b.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--makensis", required=True)
    parser.add_argument("--nsi", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    prefix = os.environ["WINEPREFIX"]
    # Creating shortcuts must not make desktop entries in the Linux user's home.
    os.environ["WINEDLLOVERRIDES"] = "winemenubuilder.exe=d"
    started = time.monotonic()

    work = tempfile.mkdtemp(prefix="nerova-installer.")
    try:
        older_installer, older_exe = make_older_installer(args, work)
        users = os.path.join(prefix, "drive_c", "users")
        (user,) = [os.path.join(users, name) for name in os.listdir(users) if name != "Public"]
        windows_user = "C:\\users\\" + os.path.basename(user)
        install_dir = os.path.join(user, "AppData", "Local", "Programs", "NerovaBridge")
        windows_dir = windows_user + r"\AppData\Local\Programs\NerovaBridge"
        windows_exe = windows_dir + r"\NerovaBridge.exe"
        installed_exe = os.path.join(install_dir, "NerovaBridge.exe")
        shortcut = os.path.join(user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                                "Nerova桥.lnk")
        data_folder = os.path.join(user, "AppData", "Roaming", "NerovaBridge")

        # A silent install puts everything in place and starts nothing.
        installed_at = time.time()
        check(wine(older_installer, "/S") == 0, "silent install: exit status 0")
        check(os.path.isfile(installed_exe) and same_bytes(installed_exe, older_exe),
              "silent install: NerovaBridge.exe in %LOCALAPPDATA%\\Programs\\NerovaBridge")
        # Windows raises no administrator prompt for a program whose manifest asks for none.
        uninstaller = os.path.join(install_dir, "uninstall.exe")
        check(all(os.path.isfile(path) and AS_INVOKER in open(path, "rb").read()
                  for path in (args.installer, uninstaller)),
              "silent install: uninstall.exe; the installer and it ask for no administrator rights")
        link = open(shortcut, "rb").read() if os.path.isfile(shortcut) else b""
        check(link[:4] == b"L\0\0\0" and (link[20] & 0x40) != 0 and windows_exe.encode("utf-16-le") in link,
              "Start-menu shortcut Nerova桥.lnk to the installed exe, with an icon")
        entry = reg_values(UNINSTALL_KEY) or {}
        expected = {"DisplayName": "Nerova桥", "DisplayVersion": OLD_VERSION, "Publisher": "Nerova",
                    "DisplayIcon": windows_exe + ",0", "InstallLocation": windows_dir,
                    "UninstallString": '"%s\\uninstall.exe"' % windows_dir,
                    "QuietUninstallString": '"%s\\uninstall.exe" /S' % windows_dir}
        check(all(entry.get(name) == value for name, value in expected.items()),
              "uninstall entry: %s" % {name: entry.get(name) for name in expected})
        today = {time.strftime("%Y%m%d", time.localtime(moment)) for moment in (installed_at, time.time())}
        check(entry.get("InstallDate") in today, "uninstall entry: InstallDate %s, today %s"
              % (entry.get("InstallDate"), sorted(today)))
        check(not reg_has_value(RUN_KEY, "NerovaBridge"), "a silent install leaves start at login off")
        time.sleep(1.0)
        check(not bridge_processes(prefix) and port_closed(), "silent install without /START starts nothing")

        # /START starts the installed helper.
        check(wine(older_installer, "/S", "/START") == 0, "silent install with /START: exit status 0")
        check(wait_until(heartbeat), "the installed helper serves /heartbeat")
        running = bridge_processes(prefix)
        if not check(len(running) == 1 and windows_exe.lower() in next(iter(running.values()), "").lower(),
                     "one helper runs, from the installed path: %s" % running):
            return 1

        # A copy that does not answer is not killed: a silent install stops and changes nothing.
        (hung,) = running
        os.kill(hung, signal.SIGSTOP)
        try:
            status = wine(older_installer, "/S")
            check(status != 0 and hung in bridge_processes(prefix) and same_bytes(installed_exe, older_exe),
                  "a running copy that does not quit stops a silent install (exit status %d)" % status)
        finally:
            os.kill(hung, signal.SIGCONT)
        check(wine(older_installer, "/S", "/START") == 0 and wait_until(heartbeat), "install again with /START")
        running = bridge_processes(prefix)

        # A newer build over the running one: the old copy quits, the new one starts and serves.
        wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d",
             "user32.FindWindowExW;user32.SendMessageTimeoutW", "/f")
        relay_log = os.path.join(work, "relay.log")
        with open(relay_log, "w") as log:
            status = wine(args.installer, "/S", stderr=log, env=dict(os.environ, WINEDEBUG="+relay"))
        check(status == 0, "upgrade over the running helper: exit status 0")
        check(asked_tray_to_quit(relay_log), "upgrade: WM_CLOSE went to the tray host, a message-only window")
        check(same_bytes(installed_exe, args.exe), "upgrade: the new NerovaBridge.exe is installed")
        check(wait_until(heartbeat), "upgrade: /heartbeat is served")
        after = bridge_processes(prefix)
        check(len(after) == 1 and not set(after) & set(running) and
              windows_exe.lower() in next(iter(after.values()), "").lower(),
              "upgrade: the old helper ended and the new one runs from the installed path: %s -> %s"
              % (running, after))
        check((reg_values(UNINSTALL_KEY) or {}).get("DisplayVersion") == args.version,
              "upgrade: the uninstall entry shows version %s" % args.version)

        # Silent uninstall: the helper quits, everything goes but the user's data folder.
        wine("reg", "add", RUN_KEY, "/v", "NerovaBridge", "/d", '"%s"' % windows_exe, "/f")
        wine("reg", "add", APPROVED_KEY, "/v", "NerovaBridge", "/t", "REG_BINARY", "/d", "030000000000000000000000",
             "/f")
        check(os.path.isfile(os.path.join(data_folder, "token.txt")), "the helper made its token file")
        check(wine(uninstaller, "/S") == 0, "silent uninstall: exit status 0")
        # The uninstaller works from a copy of itself in the temporary folder, so it ends later.
        check(wait_until(lambda: not os.path.exists(install_dir)), "silent uninstall: the install folder is gone")
        check(wait_until(lambda: not bridge_processes(prefix) and port_closed()), "silent uninstall: the helper quit")
        check(not os.path.exists(shortcut), "silent uninstall: the shortcut is gone")
        check(reg_values(UNINSTALL_KEY) is None, "silent uninstall: the uninstall entry is gone")
        check(not reg_has_value(RUN_KEY, "NerovaBridge") and not reg_has_value(APPROVED_KEY, "NerovaBridge"),
              "silent uninstall: the start-at-login value and its record are gone")
        check(os.path.isfile(os.path.join(data_folder, "token.txt")) and
              os.path.isfile(os.path.join(data_folder, "popup.log")),
              "silent uninstall: the data folder is kept (token.txt, popup.log)")

        # /AUTOSTART turns start at login on in a silent install, clearing a record of it turned off.
        wine("reg", "add", APPROVED_KEY, "/v", "NerovaBridge", "/t", "REG_BINARY", "/d", "030000000000000000000000",
             "/f")
        check(wine(args.installer, "/S", "/AUTOSTART") == 0, "silent install with /AUTOSTART: exit status 0")
        check((reg_values(RUN_KEY) or {}).get("NerovaBridge") == '"%s"' % windows_exe and
              not reg_has_value(APPROVED_KEY, "NerovaBridge") and not bridge_processes(prefix),
              "/AUTOSTART writes the quoted program path to the Run key and starts nothing: %s"
              % (reg_values(RUN_KEY) or {}).get("NerovaBridge"))
        check(wine(uninstaller, "/S") == 0 and wait_until(lambda: not os.path.exists(install_dir)),
              "uninstall after /AUTOSTART")

        # A start-at-login value of another copy of the program is that copy's: it stays.
        check(wine(args.installer, "/S") == 0, "install again: exit status 0")
        other = r'"C:\Tools\NerovaBridge.exe"'
        wine("reg", "add", RUN_KEY, "/v", "NerovaBridge", "/d", other, "/f")
        check(wine(uninstaller, "/S") == 0, "uninstall again: exit status 0")
        check(wait_until(lambda: not os.path.exists(install_dir)), "uninstall again: the install folder is gone")
        check((reg_values(RUN_KEY) or {}).get("NerovaBridge") == other,
              "uninstall keeps a start-at-login value that starts another copy")

        print("installer test took %.1f s" % (time.monotonic() - started))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
