"""Measurements of a running program that wrk cannot make: start-up, memory, channel latency."""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "integration"))
import harness  # noqa: E402


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as handle:
        for line in handle:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def startup_ms(program, runs=20):
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
    return statistics.median(samples)


def percentile(samples, fraction):
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def status_latency(label, runs=10):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        raw = harness.request("GET", "/status")
        times.append((time.perf_counter() - started) * 1000)
        if not raw.startswith(b"HTTP/1.1 200 OK\r\n"):
            raise SystemExit("unexpected /status answer: %r" % raw[:200])
    return ("/status latency, %s (median of %d)" % (label, runs), "%.1f ms" % statistics.median(times))


def main():
    if sys.argv[1] == "--status-only":
        print("| %s | %s |" % status_latency(sys.argv[2]))
        return
    program = sys.argv[1]
    rows = [("start-up to a bound listener (median of 20)", "%.1f ms" % startup_ms(program))]
    bridge = harness.Bridge()
    try:
        pid = bridge.process.pid
        time.sleep(0.5)
        rows.append(("resident memory, idle", "%d KiB" % rss_kib(pid)))

        idle = [harness.connect() for _ in range(1000)]
        time.sleep(1.0)
        rows.append(("resident memory, 1000 idle connections", "%d KiB" % rss_kib(pid)))
        for sock in idle:
            sock.close()
        time.sleep(1.0)

        token = bridge.token()
        channels = [harness.Channel(token) for _ in range(200)]
        for channel in channels:
            channel.next_frame(timeout=30)
        time.sleep(1.0)
        rows.append(("resident memory, 200 open live channels", "%d KiB" % rss_kib(pid)))
        for channel in channels[1:]:
            channel.close()

        channel = channels[0]
        samples = []
        for _ in range(2000):
            started = time.perf_counter()
            channel.send(harness.client_frame(0x1, b"ping"))
            while channel.next_frame(timeout=5) != (0x1, b"pong"):
                pass
            samples.append((time.perf_counter() - started) * 1e6)
        rows.append(("live channel ping to pong, p50 (2000 round trips)", "%.0f us" % percentile(samples, 0.5)))
        rows.append(("live channel ping to pong, p99", "%.0f us" % percentile(samples, 0.99)))
        channel.close()

        rows.append(status_latency("no router", runs=5))
    finally:
        bridge.stop()
    for label, value in rows:
        print("| %s | %s |" % (label, value))


if __name__ == "__main__":
    main()
