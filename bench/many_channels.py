"""How many live channels one process holds at once: opens N, waits for every first document,
then checks the service still answers. Run inside a namespace:
    tests/netns-run python3 bench/many_channels.py build/release/nerova-bridge 15000
"""
import os
import resource
import sys
import time

program, count = os.path.abspath(sys.argv[1]), int(sys.argv[2])
os.environ["NEROVA_BRIDGE"] = program
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "support"))
import harness  # noqa: E402

_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
bridge = harness.Bridge()
channels = []
started = time.monotonic()
try:
    token = bridge.token()
    for _ in range(count):
        channels.append(harness.Channel(token, timeout=30))
    for channel in channels:
        channel.next_frame(timeout=60)
    process = harness.Process(bridge.process.pid)
    print("%d channels open, each with its first document, after %.1f s; RSS %d KiB, threads %d"
          % (len(channels), time.monotonic() - started, process.rss_kib(), process.threads()))
    sent = time.monotonic()
    channels[-1].send(harness.client_frame(0x1, b"ping"))
    assert channels[-1].next_frame(timeout=10) == (0x1, b"pong")
    print("ping to pong on the newest channel meanwhile: %.1f ms" % ((time.monotonic() - sent) * 1000))
except Exception as error:  # report how far it got
    print("stopped after %d channels: %r" % (len(channels), error))
finally:
    for channel in channels:
        channel.close()
    bridge.stop()
