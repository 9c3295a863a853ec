"""Measurements of a running program that wrk cannot make: start-up, memory, threads, the live
channel's latency while the router is asked, /status latency.

  probe.py startup PROGRAM        start-up to a bound listener
  probe.py memory                 idle, 1000 idle connections, 1000 idle live channels
  probe.py settle PID THREADS     seconds until PID is back to THREADS threads
  probe.py router LABEL           ping to pong over 10 s of pings every 50 ms, /status, 50 at once
  probe.py change LABEL           a reported network change to the channel's new document; a
                                  flapping link's router lookups

Each prints table rows; the program comes from $NEROVA_BRIDGE (the harness starts it)."""
import json
import os
import random
import resource
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "support"))
import harness  # noqa: E402

TEXT = 0x1


def percentile(samples, fraction):
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def row(label, value):
    print("| %s | %s |" % (label, value), flush=True)


def startup(program, runs=20):
    """Time from exec to a listener that accepts, median of `runs` starts."""
    samples = []
    for _ in range(runs):
        home = tempfile.mkdtemp(prefix="nerova-bench-")
        started = time.perf_counter()
        process = subprocess.Popen([program], env=dict(os.environ, APPDATA=home), stderr=subprocess.DEVNULL)
        while not harness.port_open():
            time.sleep(0.0005)
        samples.append((time.perf_counter() - started) * 1000)
        process.terminate()
        process.wait()
    row("start-up to a bound listener (median of %d)" % runs, "%.1f ms" % statistics.median(samples))


def settled_rss(process):
    time.sleep(harness.THREAD_LINGER + 1.0)  # finished connection threads have ended
    return process.rss_kib()


def memory():
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    bridge = harness.Bridge()
    try:
        process = harness.Process(bridge.process.pid)
        idle = settled_rss(process)
        row("resident memory, idle", "%d KiB (%d KiB anonymous)" % (idle, process.anonymous_kib()))
        held = [harness.connect() for _ in range(1000)]
        time.sleep(1.0)
        row("resident memory, 1000 idle connections", "%d KiB" % process.rss_kib())
        for sock in held:
            sock.close()
        idle = settled_rss(process)
        token = bridge.token()
        channels = [harness.Channel(token) for _ in range(1000)]
        for channel in channels:
            channel.next_frame(timeout=60)
        time.sleep(1.0)
        with_channels = process.rss_kib()
        row("resident memory, 1000 idle live channels", "%d KiB (%.1f KiB each)"
            % (with_channels, (with_channels - idle) / 1000.0))
        for channel in channels:
            channel.close()
    finally:
        bridge.stop()


def settle(pid, idle_threads, limit=30.0):
    process = harness.Process(pid)
    started = time.monotonic()
    harness.wait_for(lambda: process.threads() <= idle_threads, limit)
    now = process.threads()
    row("threads after the load: back to %d idle" % idle_threads,
        "after %.1f s" % (time.monotonic() - started) if now <= idle_threads
        else "not within %.0f s (%d)" % (limit, now))


def pong_while_refreshing(channel, seconds=10.0, every=0.05):
    """Round trips of "ping" sent every `every` seconds for `seconds`: the channel's own status
    refreshes (every 3 s, each asking the router) fall inside."""
    samples = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        started = time.perf_counter()
        channel.send(harness.client_frame(TEXT, b"ping"))
        while channel.next_frame(timeout=10) != (TEXT, b"pong"):
            pass
        samples.append((time.perf_counter() - started) * 1000)
        time.sleep(every)
    return samples


def router(label):
    bridge = harness.Bridge()
    try:
        channel = harness.Channel(bridge.token())
        channel.next_frame(timeout=10)
        samples = pong_while_refreshing(channel)
        row("ping to pong, %s, pings every 50 ms for 10 s: p50 / p99 / max (n=%d)" % (label, len(samples)),
            "%.2f / %.2f / %.2f ms" % (percentile(samples, 0.5), percentile(samples, 0.99), max(samples)))
        channel.close()

        times = []
        for _ in range(5):
            started = time.perf_counter()
            harness.get_status()
            times.append((time.perf_counter() - started) * 1000)
        row("/status latency, %s (median of 5)" % label, "%.1f ms" % statistics.median(times))

        at_once = []

        def ask():
            started = time.perf_counter()
            harness.get_status()
            at_once.append((time.perf_counter() - started) * 1000)

        askers = [threading.Thread(target=ask) for _ in range(50)]
        for asker in askers:
            asker.start()
        for asker in askers:
            asker.join()
        row("50 /status at once, %s: slowest answer" % label, "%.0f ms (%d answered)" % (max(at_once), len(at_once)))
    finally:
        bridge.stop()


def ip(command):
    subprocess.run("ip " + command, shell=True, check=True)


def document_after(channel, change, member, expected, limit=10.0):
    """Seconds from making `change` to a document whose `member` is `expected`."""
    started = time.perf_counter()
    ip(change)
    deadline = time.monotonic() + limit
    while True:
        opcode, payload = channel.next_frame(timeout=max(0.05, deadline - time.monotonic()))
        if opcode == TEXT and json.loads(payload)[member] == expected:
            return time.perf_counter() - started


def searches_during(seconds, action):
    """SSDP search datagrams sent while `action` runs and for `seconds` from its start."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("", 1900))
    listener.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                        socket.inet_aton("239.255.255.250") + socket.inet_aton("127.0.0.1"))
    listener.settimeout(0.05)
    started = time.monotonic()
    action()
    count = 0
    while time.monotonic() < started + seconds:
        try:
            if listener.recv(2048).startswith(b"M-SEARCH"):
                count += 1
        except socket.timeout:
            pass
    listener.close()
    return count


def change(label, rounds=10):
    # Made once and kept: with the test router's LAN made later, this link still comes first.
    if subprocess.run("ip link show lan9", shell=True, capture_output=True).returncode != 0:
        ip("link add lan9 type veth peer name lan9-peer && ip link set lan9 up && ip link set lan9-peer up")
    bridge = harness.Bridge()
    try:
        channel = harness.Channel(bridge.token())
        channel.next_frame(timeout=10)
        added, routed = [], []
        # Apart from the last change's refreshes, at no fixed phase of the channel's own timing.
        pause = lambda: time.sleep(random.uniform(0.7, 1.2))  # noqa: E731
        for _ in range(rounds):
            pause()
            added.append(document_after(channel, "addr add 10.58.0.2/24 dev lan9", "localIp", "10.58.0.2"))
            pause()
            routed.append(document_after(channel, "route add default via 10.58.0.1 dev lan9", "gatewayIp", "10.58.0.1"))
            pause()
            ip("route del default")
            ip("addr del 10.58.0.2/24 dev lan9")
            while json.loads(channel.next_frame(timeout=10)[1] or b"{}").get("localIp", "10.58.0.2") == "10.58.0.2":
                pass
        for name, samples in [("address added", added), ("default route added", routed)]:
            row("reported change to the channel's document, %s, %s: median / max (n=%d)" % (name, label, rounds),
                "%.0f / %.0f ms" % (statistics.median(samples) * 1000, max(samples) * 1000))

        time.sleep(3.5)  # the checks' own lookups are apart from the burst
        flap = "\n".join("link set lan9 %s" % ("down" if i % 2 == 0 else "up") for i in range(100))

        def burst():
            subprocess.run(["ip", "-batch", "-"], input=flap.encode(), check=True)

        sent = searches_during(1.0, burst)
        row("100 link changes in one batch, %s: router lookups in the next second" % label,
            "%d (%d search datagrams; a channel's own check may add one)" % (sent // 2, sent))
        channel.close()
    finally:
        bridge.stop()


def main():
    command = sys.argv[1]
    if command == "startup":
        startup(sys.argv[2])
    elif command == "memory":
        memory()
    elif command == "settle":
        settle(int(sys.argv[2]), int(sys.argv[3]))
    elif command == "router":
        router(sys.argv[2])
    elif command == "change":
        change(sys.argv[2])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
