#!/usr/bin/env bash
# Builds the Linux program and times the copy run against cp -r:
#   scripts/bench.sh [--work DIR] [--repeat N] [--small-files N] [--large-files N] [--large-mib N]
# The CD trees (about 1.1 GB) are made once under the work folder (default build/bench-work),
# on the same disk as the destinations.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target copy_bench
exec build/linux/bench/copy_bench --work build/bench-work "$@"
