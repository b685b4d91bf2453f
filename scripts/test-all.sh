#!/usr/bin/env bash
# Builds both builds and runs every test: the Linux build under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests of the run's threads under ThreadSanitizer, the libFuzzer
# targets for a bounded time, then the 32-bit Windows build under Wine in a 64-bit and a 32-bit
# Windows prefix, then both packages.
# Exits non-zero when any build or test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== Linux build and tests"
cmake --preset linux-test >/dev/null
cmake --build --preset linux-test
ctest --preset linux-test

echo "== Linux tests of the run's threads under ThreadSanitizer"
# Only the tests that run a copy on its worker thread are built; Qt's hand-over of posted calls is
# invisible to the sanitizer and suppressed (tests/tsan.supp).
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan
ctest --preset linux-tsan

echo "== Fuzzing the input parsers and path rules"
scripts/fuzz.sh "${VELMORA_FUZZ_SECONDS:-60}"

echo "== Windows build and tests under Wine"
source scripts/wine-setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
if [[ $VELMORA_WINDOWS_PRESET != windows ]]; then
  scripts/check-windows-imports.sh build/windows/app/velmora-cdcopy.exe
  cmake --preset "$VELMORA_WINDOWS_PRESET" >/dev/null
  cmake --build --preset "$VELMORA_WINDOWS_PRESET"
fi

# The Windows program in each prefix Wine can run it in (a 64-bit one with WoW64, and a 32-bit
# one), each fresh, on a private virtual display.
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
  ctest --preset "$VELMORA_WINDOWS_PRESET"
}
export -f run_windows_tests
for arch in $VELMORA_WINE_ARCHES; do
  echo "== Windows tests under Wine, $arch prefix ($VELMORA_WINDOWS_PRESET build)"
  prefix=$(mktemp -d "/tmp/velmora-wine-$arch.XXXXXX")
  prefixes+=("$prefix")
  WINEPREFIX=$prefix WINEARCH=$arch scripts/with-xvfb.sh bash -c run_windows_tests
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
done

echo "== Packages"
scripts/test-packages.sh
