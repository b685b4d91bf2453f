#!/usr/bin/env bash
# Builds both builds and runs every test: the Linux build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the libFuzzer targets for a bounded time, then the 32-bit Windows
# build under Wine in a 64-bit and a 32-bit Windows prefix, then both packages.
# Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== Linux build and tests"
cmake --preset linux-test >/dev/null
cmake --build --preset linux-test
ctest --preset linux-test

echo "== Fuzzing the input parsers and path rules"
scripts/fuzz.sh "${VELMORA_FUZZ_SECONDS:-60}"

echo "== Windows build and tests under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows

# The 32-bit program on a 64-bit Windows (WoW64) and on a 32-bit one, each in a fresh prefix on
# a private virtual display.
export WINEDEBUG=-all
prefixes=()
cleanup() {
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
  done
}
trap cleanup EXIT

run_windows_tests() {
  wineboot -i >/dev/null 2>&1
  wineserver -w
  ctest --preset windows
}
export -f run_windows_tests
for arch in win64 win32; do
  echo "== Windows tests under Wine, $arch prefix"
  prefix=$(mktemp -d "/tmp/velmora-wine-$arch.XXXXXX")
  prefixes+=("$prefix")
  WINEPREFIX=$prefix WINEARCH=$arch scripts/with-xvfb.sh bash -c run_windows_tests
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
done

echo "== Packages"
scripts/test-packages.sh
