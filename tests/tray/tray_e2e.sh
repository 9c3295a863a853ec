#!/usr/bin/env bash
# End-to-end test of the Windows tray: the real NerovaBridge.exe under Wine on a virtual X display,
# in a network namespace of its own, driven by tray_e2e.py.
#   tray_e2e.sh NerovaBridge.exe tray_probe.exe ARTIFACT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -ne 3 ]; then
  echo "usage: $0 NerovaBridge.exe tray_probe.exe ARTIFACT_DIR" >&2
  exit 2
fi
for tool in Xvfb xwd python3 /usr/lib/wine/wine64; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIPPED: $tool is missing (Debian packages xvfb, x11-apps, python3, wine64)" >&2
    exit 77
  fi
done
if [ "${NEROVA_IN_NETNS:-}" != 1 ]; then
  exec "$here/../netns-run" "$0" "$@"
fi

# The prepared prefix that tests/wine-run also copies, made under the same lock.
template=${NEROVA_WINE_TEMPLATE:-/tmp/nerova-wine-template}
(
  flock 9
  if [ ! -f "$template/.ready" ]; then
    rm -rf "$template"
    WINEPREFIX=$template WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    touch "$template/.ready"
  fi
) 9>"$template.lock"

work=$(mktemp -d /tmp/nerova-tray-e2e.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
xvfb_pid=
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp -a "$template/." "$WINEPREFIX/"

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

# Only for this throw-away prefix: no window manager runs on the virtual display, so Wine must not
# wait for one (it would hold every hidden card for 2 s); and the cards' font family, absent under
# Wine, is given an installed CJK font, as Windows would have its own.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
# WenQuanYi Micro Hei has Latin letters too; Droid Sans Fallback would show boxes for "Nerova".
cjk_font=$(fc-list :lang=zh family 2>/dev/null | cut -d, -f1 | sort | grep -v -i mono \
  | awk '/^WenQuanYi Micro Hei$/ {print "0 " $0; next} {print "1 " $0}' | sort | head -n1 | cut -c3- || true)
if [ -n "$cjk_font" ]; then
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Microsoft YaHei UI' /d "$cjk_font" /f >/dev/null
fi

python3 "$here/tray_e2e.py" --bridge "$1" --probe "$2" --artifacts "$3" --prefix "$WINEPREFIX" \
  --display "$DISPLAY" --cjk-font "$cjk_font"
