#!/usr/bin/env bash
# What `cmake --install` and CPack put on a Linux machine: the binary in bin/ and a systemd user unit
# in lib/systemd/user/ that starts it from the prefix given at install time.
#   linux_install.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/nerova-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
check() {  # check MESSAGE COMMAND...
  local message=$1
  shift
  if "$@"; then echo "ok    $message"; else echo "FAIL  $message"; status=1; fi
}
unit=lib/systemd/user/nerova-bridge.service

DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
check "DESTDIR install: bin/nerova-bridge" test -x "$work/stage/usr/bin/nerova-bridge"
check "DESTDIR install: the unit starts /usr/bin/nerova-bridge" \
  grep -qx 'ExecStart=/usr/bin/nerova-bridge' "$work/stage/usr/$unit"

# Installed where it runs, the unit can be checked whole, its binary included.
cmake --install "$build" --prefix "$work/home" >/dev/null
check "install --prefix: the unit starts the binary under that prefix" \
  grep -qx "ExecStart=$work/home/bin/nerova-bridge" "$work/home/$unit"
if command -v systemd-analyze >/dev/null; then
  # A setting it cannot parse is only warned about: any output counts as a failure.
  verify() { local said; said=$(systemd-analyze verify "$1" 2>&1) && [ -z "$said" ] || { echo "$said"; false; }; }
  check "systemd-analyze verify accepts the unit without a word" verify "$work/home/$unit"
else
  echo "skip  systemd-analyze is missing: the unit is not verified"
fi

if ! (cd "$build" && cpack -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL  cpack made no .deb"
  exit 1
fi
deb=$(ls "$work"/deb/nerova-bridge_*.deb)
dpkg-deb -c "$deb" >"$work/contents"
check "the .deb holds the binary" grep -q ' ./usr/bin/nerova-bridge$' "$work/contents"
check "the .deb holds the unit" grep -q " ./usr/$unit\$" "$work/contents"
dpkg-deb -x "$deb" "$work/unpacked"
check "the .deb's unit starts /usr/bin/nerova-bridge" \
  grep -qx 'ExecStart=/usr/bin/nerova-bridge' "$work/unpacked/usr/$unit"
check "the .deb's binary is stripped" bash -c "! readelf -S '$work/unpacked/usr/bin/nerova-bridge' | grep -q symtab"
check "the .deb depends on the libraries the binary links" \
  bash -c "dpkg-deb -f '$deb' Depends | grep -q libssl"
exit $status
