#!/usr/bin/env bash
# Builds the Linux program and opens its window on a demo install CD with stand-in installer
# records, all under build/demo: the real /etc/velmora and ~/.config are never touched.
# Every start lays the demo out anew, so Execute can be tried again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux

demo=$(scripts/make-demo-cd.sh "$PWD/build/demo")
echo "Demo install CD: $demo/cd"
echo "Copies go to:    $demo/install/Velmora"

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  echo "No display: set DISPLAY (or run under xvfb-run) to open the copy window." >&2
  exit 1
fi
VELMORA_MACHINE_REG="$demo/machine.reg" XDG_CONFIG_HOME="$demo/config" \
  exec build/linux/app/velmora-cdcopy
