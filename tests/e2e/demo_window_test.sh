#!/usr/bin/env bash
# The real Linux program on the demo's stand-ins, on a virtual display: Execute pressed with
# xdotool, the completion box found by its title, the copied tree checked.
# Usage: demo_window_test.sh <program> <make-demo-cd.sh>   (DISPLAY must be set)
set -euo pipefail
source "$(dirname "$0")/completion-box.sh"
program=$1
make_demo=$2

work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

demo=$("$make_demo" "$work/demo")
VELMORA_MACHINE_REG="$demo/machine.reg" XDG_CONFIG_HOME="$demo/config" "$program" &
pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^ Velmora$' | head -n 1) ||
  fail "the copy window did not appear"
# The Execute button: 1275 x 330 twips, its top at 942.5 twips; centred on the window.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH / 2)) 74 click 1

box=$(completion_box "$window" 20)
[[ -n $box ]] || fail "no completion box titled ' Velmora' appeared"
kill -0 "$pid" 2>/dev/null || fail "the program ended"

dest=$demo/install/Velmora
diff -r "$demo/cd/System" "$dest/System" || fail "System differs"
for f in "$demo"/cd/PCMaster/* "$demo"/cd/M/基本回路/* "$demo"/cd/M/組込回路/*; do
  cmp "$f" "$dest/Folder_1/$(basename "$f")" || fail "$f not in Folder_1"
done
for f in "$demo"/cd/M/解説回路/*; do
  cmp "$f" "$dest/Folder_2/$(basename "$f")" || fail "$f not in Folder_2"
done
cmp "$demo/cd/Help/index.htm" "$dest/Help/index.htm" || fail "manual missing"
cmp "$demo/cd/Help/image/figure1.png" "$dest/Help/image/figure1.png" || fail "image missing"
cmp "$demo/cd/Help/video/lesson1.avi" "$dest/Help/video/lesson1.avi" || fail "video missing"
[[ ! -e $dest/Help/.hidden ]] || fail "a hidden file was copied"
[[ -d $dest/BackUp ]] || fail "BackUp missing"
grep -q '^SetupMk=Null$' "$demo/config/Velmora/Velmora.ini" || fail "SetupMk was not reset"

xdotool mousemove --window "$box" 10 10 key Return
echo "demo window test passed"
