#!/usr/bin/env bash
# Signing of the release with a throwaway certificate made here: scripts/release signs the
# executable, the plug-ins, the uninstaller and the installer, and `osslsigncode verify` passes on
# the executable, the installer and the uninstaller the installer writes (installed under Wine);
# their program name is ASCII; SHA256SUMS covers the signed files; a signature that does not verify
# or a missing required time-stamp fails the release. Without a certificate it is unsigned and says so.
# Run by tests/wine-run --with-prefix (no time-stamp server: nothing leaves the machine).
#   signing_test.sh NerovaBridge.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
exe=$1
unset NEROVA_SIGN_TIMESTAMP_URL NEROVA_SIGN_REQUIRE_TIMESTAMP NEROVA_SIGN_CAFILE
for tool in osslsigncode openssl makensis; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/install-deps --all)" >&2; exit 77; }
done
work=$(mktemp -d /tmp/nerova-signing.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check MESSAGE COMMAND...
  local message=$1
  shift
  if "$@" >>"$work/checks.log" 2>&1; then echo "ok    $message"; else echo "FAIL  $message"; failures=$((failures + 1)); fi
}
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1"; }
unsigned() { ! osslsigncode verify -CAfile "$work/cert.pem" -in "$1"; }
# fails PATTERN [VAR=VALUE...]: a signed release with these settings fails, saying PATTERN.
fails() {
  ! env NEROVA_SIGN_PKCS12="$work/cert.p12" NEROVA_SIGN_PASSWORD='throw away' NEROVA_SIGN_CAFILE="$work/cert.pem" "${@:2}" \
    "$root/scripts/release" "$exe" 9.9.9 https://nerova.example.com "$work/failed" >/dev/null 2>"$work/failed.err" \
    && grep -q "$1" "$work/failed.err"
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Nerova test signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:'throw away' \
  -out "$work/cert.p12" 2>/dev/null
openssl req -x509 -key "$work/key.pem" -days 2 -subj "/CN=Another root" -out "$work/other-root.pem" 2>/dev/null

env -u NEROVA_SIGN_PKCS12 -u NEROVA_SIGN_PASSWORD "$root/scripts/release" "$exe" 9.9.9 https://nerova.example.com \
  "$work/unsigned" 2>"$work/unsigned.err" >/dev/null
check "without a certificate the release says it is unsigned" grep -q "unsigned release" "$work/unsigned.err"
check "without a certificate the executable is unsigned" unsigned "$work/unsigned/NerovaBridge-9.9.9.exe"
check "without a certificate the installer is unsigned" unsigned "$work/unsigned/NerovaBridge-9.9.9-setup.exe"

NEROVA_SIGN_PKCS12=$work/cert.p12 NEROVA_SIGN_PASSWORD='throw away' NEROVA_SIGN_CAFILE=$work/cert.pem \
  "$root/scripts/release" "$exe" 9.9.9 https://nerova.example.com "$work/dist" >"$work/signed.out" 2>"$work/signed.err" \
  || { cat "$work/signed.err" >&2; exit 1; }
check "a release without a time-stamp says so" grep -q "no time-stamp" "$work/signed.err"
check "the signature names the program in ASCII" grep -qx $'\tText description: Nerova Bridge' <(verify "$work/dist/NerovaBridge-9.9.9.exe")
check "the installer's plug-ins are the signed copies" grep -qx "signed plug-in: System.dll" "$work/signed.out"
check "the executable verifies" verify "$work/dist/NerovaBridge-9.9.9.exe"
check "the installer verifies" verify "$work/dist/NerovaBridge-9.9.9-setup.exe"
check "SHA256SUMS covers the signed files" sh -c "cd '$work/dist' && sha256sum -c SHA256SUMS && [ \$(wc -l <SHA256SUMS) = 2 ]"
check "a wrong password signs nothing" fails . NEROVA_SIGN_PASSWORD=wrong
check "a signature that does not verify fails the release" fails "does not verify" NEROVA_SIGN_CAFILE="$work/other-root.pem"
check "the file whose signature does not verify is left unsigned" unsigned "$work/failed/NerovaBridge-9.9.9.exe"
check "a required time-stamp fails a release without one" fails NEROVA_SIGN_REQUIRE_TIMESTAMP NEROVA_SIGN_REQUIRE_TIMESTAMP=1
check "a required time-stamp fails an unsigned release" fails NEROVA_SIGN_REQUIRE_TIMESTAMP NEROVA_SIGN_REQUIRE_TIMESTAMP=1 NEROVA_SIGN_PKCS12=

export WINEDLLOVERRIDES=winemenubuilder.exe=d
/usr/lib/wine/wine64 "$work/dist/NerovaBridge-9.9.9-setup.exe" /S </dev/null >/dev/null 2>&1
installed=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Programs/NerovaBridge' -type d | head -n1)
check "the uninstaller the installer writes verifies" verify "$installed/uninstall.exe"
check "the installed executable is the signed one" cmp "$installed/NerovaBridge.exe" "$work/dist/NerovaBridge-9.9.9.exe"
if [ $failures -ne 0 ]; then
  cat "$work/checks.log"
  exit 1
fi
