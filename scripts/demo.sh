#!/usr/bin/env bash
# Builds the Linux program and opens its window on a demo install CD with stand-in installer
# records, all under build/demo: the real /etc/velmora and ~/.config are never touched.
# Every start lays the demo out anew, so Execute can be tried again.
#
# Without a display the demo runs itself on a private virtual display with a window manager:
# it presses Execute as a user would, saves screenshots of the window before, during and after
# the run and of the completion box under build/demo/screenshots, prints them and the copied
# tree, and closes the window.
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/e2e/completion-box.sh

program=build/linux/app/velmora-cdcopy

# The unattended demo, on the virtual display: demo.sh --unattended <demo folder>
unattended() {
  local demo=$1 shots=$1/screenshots pid window box
  mkdir -p "$shots"
  openbox >/dev/null 2>&1 &
  local wm=$!
  pid=
  trap 'kill $wm 2>/dev/null || true; [[ -n $pid ]] && kill "$pid" 2>/dev/null || true' RETURN
  for _ in $(seq 1 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done

  mkdir -p -m 700 "$demo/runtime"  # no session here to provide one
  VELMORA_MACHINE_REG="$demo/machine.reg" XDG_CONFIG_HOME="$demo/config" \
    XDG_RUNTIME_DIR="$demo/runtime" "$program" &
  pid=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^ Velmora$' | head -n 1)
  sleep 1  # framed, placed and painted

  # The window with its frame: the frame is the client window's parent below the root.
  frame_of() {
    local id=$1 parent
    while parent=$(xwininfo -children -id "$id" | sed -n 's/^ *Parent window id: \(0x[0-9a-f]*\).*/\1/p') &&
      [[ -n $parent ]] && ! xwininfo -id "$parent" | grep -q '(the root window)'; do
      id=$parent
    done
    echo "$id"
  }
  shot() { import -window "$(frame_of "$1")" "$shots/$2.png"; echo "$shots/$2.png"; }

  shot "$window" 1-before
  # The Execute button: 1275 x 330 twips, its top at 942.5 twips; centred on the window.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --window "$window" $((WIDTH / 2)) 74 click 1

  # While the copy runs: one screenshot after another until the completion box appears.
  box=
  local n=0 frame
  for _ in $(seq 1 600); do
    box=$(completion_box "$window" 0)
    [[ -n $box ]] && break
    n=$((n + 1))
    frame=$shots/2-during-$(printf %02d $n).png
    import -window "$(frame_of "$window")" "$frame"
    box=$(completion_box "$window" 0)
    if [[ -n $box ]]; then  # the box came up while the picture was taken
      rm -f "$frame"
      break
    fi
  done
  [[ -n $box ]] || { echo "no completion box appeared" >&2; return 1; }
  ls "$shots"/2-during-*.png
  sleep 0.5
  shot "$box" 3-completion-box
  xdotool mousemove --window "$box" 10 10 key Return
  sleep 1
  shot "$window" 4-after

  echo
  echo "Copied tree ($demo/install/Velmora):"
  (cd "$demo/install/Velmora" && find . -mindepth 1 -printf '%y %10s  %P\n' | sort -k3)
  echo
  echo "SetupMk now: $(grep '^SetupMk=' "$demo/config/Velmora/Velmora.ini")"

  # The user closes the window; the program ends.
  xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4 2>/dev/null || true
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "the window did not close" >&2
    return 1
  fi
  wait "$pid"
  pid=
}

if [[ ${1:-} == --unattended ]]; then
  unattended "$2"
  exit
fi

scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  # Three lessons of 400 MiB together, so that the run can be seen under way.
  demo=$(scripts/make-demo-cd.sh "$PWD/build/demo" 400)
  echo "Demo install CD: $demo/cd"
  echo "Copies go to:    $demo/install/Velmora"
  echo "No display: running the demo on a private virtual display."
  exec scripts/with-xvfb.sh "$0" --unattended "$demo"
fi

demo=$(scripts/make-demo-cd.sh "$PWD/build/demo")
echo "Demo install CD: $demo/cd"
echo "Copies go to:    $demo/install/Velmora"
VELMORA_MACHINE_REG="$demo/machine.reg" XDG_CONFIG_HOME="$demo/config" exec "$program"
