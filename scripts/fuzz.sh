#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s) from
# its committed seed corpus. Fails on any crash, leak or sanitizer report.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

found=$(mktemp -d)
trap 'rm -rf "$found"' EXIT
for target in reg_file_fuzzer path_rules_fuzzer; do
  corpus=fuzz/corpus/${target%_fuzzer}
  mkdir -p "$found/$target"
  echo "== $target for ${seconds}s"
  build/fuzz/fuzz/$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$found/$target-" "$found/$target" "$corpus" 2>&1 | tail -n 12
  status=${PIPESTATUS[0]}
  if ((status != 0)); then
    echo "$target failed; the input that did it:" >&2
    ls "$found"/$target-* >&2 2>/dev/null || true
    exit 1
  fi
done
echo "fuzzing: 2 targets, no crash, leak or sanitizer report"
