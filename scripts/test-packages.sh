#!/usr/bin/env bash
# Builds both packages and checks them as a user would get them: the .deb installed with apt-get
# (its dependencies with it) and the installed program started on the demo's stand-ins, Execute
# pressed; the Windows zip holding the one .exe with its version resource.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "FAIL: $*" >&2; exit 1; }
as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

cmake --preset linux >/dev/null
cmake --build --preset linux --target package >/dev/null
deb=$(ls build/linux/velmora-cdcopy_*_amd64.deb)
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  --reinstall "./$deb" >/dev/null
[[ -x /usr/bin/velmora-cdcopy ]] || fail "the package installed no program"
grep -q '^Name\[ja\]=Velmora ＣＤコピー$' /usr/share/applications/velmora-cdcopy.desktop ||
  fail "the desktop entry has no Japanese name"
scripts/with-xvfb.sh tests/e2e/demo_window_test.sh /usr/bin/velmora-cdcopy scripts/make-demo-cd.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target package >/dev/null
zip=$(ls build/windows/velmora-cdcopy-*-windows-x86_64.zip)
[[ $(unzip -Z1 "$zip") == velmora-cdcopy.exe ]] || fail "the zip holds more or less than the .exe"
unzip -p "$zip" velmora-cdcopy.exe | strings -el | grep -qx 'Velmora CD copy utility' ||
  fail "the .exe has no version resource naming the product"
echo "packages: the .deb and the zip checked"
