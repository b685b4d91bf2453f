#!/usr/bin/env bash
# Builds both builds and runs every test: the Linux build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the libFuzzer targets for a bounded time, then the Windows build
# under Wine, in a fresh Wine prefix on a
# private virtual display. Exits non-zero when any build or test fails.
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

WINEPREFIX=$(mktemp -d /tmp/velmora-wine.XXXXXX)
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

run_windows_tests() {
  wineboot -i >/dev/null 2>&1
  wineserver -w
  ctest --preset windows
}
export -f run_windows_tests
scripts/with-xvfb.sh bash -c run_windows_tests

echo "== Packages"
scripts/test-packages.sh
