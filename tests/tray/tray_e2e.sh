#!/usr/bin/env bash
# End-to-end test of the Windows tray: the real NerovaBridge.exe under Wine on a virtual X display,
# driven by tray_e2e.py, in the network namespace and fresh Wine prefix that tests/wine-run makes.
#   tests/wine-run --with-prefix tray_e2e.sh NerovaBridge.exe tray_probe.exe ARTIFACT_DIR [DRIVER ARGS...]
# NEROVA_TRAY_DRIVER names another driver in this folder (access_e2e.py); further arguments go to it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 3 ] || [ "${NEROVA_IN_NETNS:-}" != 1 ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "usage: tests/wine-run --with-prefix $0 NerovaBridge.exe tray_probe.exe ARTIFACT_DIR" >&2
  exit 2
fi
for tool in Xvfb xwd python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is missing (Debian packages xvfb, x11-apps, python3)" >&2
    exit 77
  fi
done

work=$(mktemp -d /tmp/nerova-tray-e2e.XXXXXX)
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true  # before its display goes
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to fd 3. Wine reads the screen as
# 1024 x 768, so the virtual screen has exactly that size.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "SKIPPED: Xvfb did not start: $(cat "$work/xvfb.log")" >&2
  exit 77
fi
export DISPLAY=:$(head -n1 "$work/display")

python3 "$here/${NEROVA_TRAY_DRIVER:-tray_e2e.py}" --bridge "$1" --probe "$2" --artifacts "$3" --prefix "$WINEPREFIX" \
  --display "$DISPLAY" "${@:4}"
