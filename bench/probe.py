"""Measurements of a running program that wrk cannot make: start-up, memory, threads, the live
channel's latency while the router is asked, /status latency.

  probe.py startup PROGRAM        start-up to a bound listener
  probe.py memory                 idle, 1000 idle connections, 1000 idle live channels
  probe.py settle PID THREADS     seconds until PID is back to THREADS threads
  probe.py router LABEL           ping to pong over 10 s of pings every 50 ms, /status, 50 at once

Each prints table rows; the program comes from $NEROVA_BRIDGE (the harness starts it)."""
import os
import resource
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
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
