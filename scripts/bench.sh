#!/usr/bin/env bash
# Builds the Linux program and times the copy run against cp -r, and against cp -r then sync:
#   scripts/bench.sh [--work DIR] [--repeat N] [--small-files N] [--large-files N] [--large-mib N]
#                    [--huge-files N] [--huge-mib N]
# The CD trees (about 3.3 GB, 2 GiB of it the two huge files; --huge-files 0 leaves them out)
# are made once under the work folder (default build/bench-work), on the same disk as the
# destinations, which need as much again while a run is timed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target copy_bench
exec build/linux/bench/copy_bench --work build/bench-work "$@"
