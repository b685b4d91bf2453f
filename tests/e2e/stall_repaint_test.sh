#!/usr/bin/env bash
# The real Linux program's window while one call of its copy blocks for seconds, as on a scratched
# CD or a stuck USB stick: a read from the CD (a FUSE drive), and separately a write to the
# destination (a FUSE drive too). While the call blocks, another window is put over the copy
# window and taken away again; the X server then leaves the uncovered area to the program to
# paint. The screen must show the window as it was before: the yellow Execute button, the label
# with the file's number, and nothing of the window that covered it.
# Usage: stall_repaint_test.sh <program> <make-demo-cd.sh> <fault-drive.sh>   (DISPLAY must be set)
# Screenshots go to $VELMORA_SCREENSHOTS when it is set. Exit 77 when FUSE cannot be used here.
set -uo pipefail
program=$1
make_demo=$2
fd=$3

work=$(mktemp -d)
chmod 755 "$work"
shots=${VELMORA_SCREENSHOTS:-$work/shots}
mkdir -p "$shots"
pid='' cover='' wm='' mounted=''
cleanup() {
  [[ -n $cover ]] && kill "$cover" 2>/dev/null
  [[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null
  [[ -n $mounted ]] && "$fd" unmount "$mounted" "$work/control" >/dev/null 2>&1
  [[ -n $wm ]] && kill "$wm" 2>/dev/null
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
# shellcheck source=tests/e2e/completion-box.sh
source "$(dirname "$0")/completion-box.sh"

openbox >/dev/null 2>&1 &
wm=$!
for _ in $(seq 1 50); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
  sleep 0.1
done
export XDG_RUNTIME_DIR=$work/runtime XDG_STATE_HOME=$work/state
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The window that covers the copy window: one colour the copy window never shows.
convert -size 700x400 xc:'#ff00ff' "$work/cover.png"

source "$(dirname "$0")/checks.sh"

# Pixels of one colour in a picture.
pixels_of() {  # pixels_of <png> <colour>
  convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:round(mean*w*h)]' info:
}
at_least() { (($1 >= $2)); }
none() { (($1 == 0)); }

# The copy window's own area of the whole screen, as a picture.
snap() {  # snap <name>
  import -window root "$shots/$1-screen.png"
  convert "$shots/$1-screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$1.png"
}

# scenario <name> <drive: cd|destination> <rule>
scenario() {
  local name=$1 drive=$2 rule=$3
  local demo backing mountpoint window box
  demo=$("$make_demo" "$work/$name" 24) || return 1
  if [[ $drive == cd ]]; then
    backing=$work/$name-cd
    mv "$demo/cd" "$backing"
    mountpoint=$demo/cd
  else
    backing=$work/$name-install
    mv "$demo/install" "$backing"
    mountpoint=$demo/install
  fi
  mkdir "$mountpoint"
  "$fd" mount "$backing" "$mountpoint" "$work/control"
  case $? in
    0) mounted=$mountpoint ;;
    77) echo "skip: FUSE is unavailable here"; exit 77 ;;
    *) why+=" [the drive did not mount]"; report "$name"; return ;;
  esac
  "$fd" rules "$work/control" "$rule"

  VELMORA_MACHINE_REG=$demo/machine.reg XDG_CONFIG_HOME=$demo/config "$program" >"$work/out" 2>&1 &
  pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name '^ Velmora$' |
    head -n 1)
  if [[ -z $window ]]; then
    why+=" [no window]"
  else
    sleep 0.5  # framed, placed and painted
    # The client area's place on the screen (xdotool's own answer is off under a window manager).
    X=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left X: *//p')
    Y=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left Y: *//p')
    eval "$(xwininfo -id "$window" | sed -n 's/^ *Width: */WIDTH=/p; s/^ *Height: */HEIGHT=/p')"
    # The Execute button: 1275 x 330 twips, its top at 942.5 twips; centred on the window.
    xdotool mousemove --window "$window" $((WIDTH / 2)) 74 click 1
    if ! "$fd" wait-stall "$work/control" 30; then
      why+=" [the copy never reached the stalled call]"
    else
      local stalled=$(($(date +%s%N) / 1000000))
      sleep 0.3  # the label shows the file under way
      snap "$name-1-before"
      display -geometry "+$((X - 100))+$((Y - 100))" "$work/cover.png" &
      cover=$!
      local coverWindow
      coverWindow=$(timeout 10 xdotool search --sync --onlyvisible --name '^ImageMagick: cover' |
        head -n 1)
      [[ -n $coverWindow ]] && xdotool windowmove "$coverWindow" $((X - 100)) $((Y - 100)) \
        windowraise "$coverWindow"
      sleep 0.5
      snap "$name-2-covered"
      kill "$cover"
      wait "$cover" 2>/dev/null
      cover=
      sleep 0.5
      snap "$name-3-uncovered"
      echo "     $name: covered and uncovered $(($(date +%s%N) / 1000000 - stalled)) ms into the stall"
      # All three while the call still blocks.
      check test -e "$work/control/stalling"

      local area=$((WIDTH * HEIGHT)) yellow
      yellow=$(pixels_of "$shots/$name-1-before.png" '#ffff00')
      check at_least "$yellow" 1000  # the button's face
      check at_least "$(pixels_of "$shots/$name-2-covered.png" '#ff00ff')" $((area * 9 / 10))
      check none "$(pixels_of "$shots/$name-3-uncovered.png" '#ff00ff')"
      check test "$(pixels_of "$shots/$name-3-uncovered.png" '#ffff00')" = "$yellow"
      local differing
      differing=$(compare -metric AE "$shots/$name-1-before.png" "$shots/$name-3-uncovered.png" \
        null: 2>&1)
      check test "$differing" = 0
      echo "     $name: $yellow yellow pixels before, $differing pixels differ after uncovering"

      # The call goes on; the run ends with its completion box.
      box=$(completion_box "$window" 30)
      if [[ -z $box ]]; then
        why+=" [no completion box]"
      else
        xdotool mousemove --window "$box" 10 10 key Return
        check grep -q '^SetupMk=Null$' "$demo/config/Velmora/Velmora.ini"
        check diff -r "$demo/cd/Help/video" "$demo/install/Velmora/Help/video"
      fi
    fi
  fi
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
  "$fd" unmount "$mountpoint" "$work/control"
  mounted=
  report "$name: the window is painted again while a $drive call blocks"
}

scenario cd-read cd 'stall read Help/video/lesson2.avi 12 once'
scenario destination-write destination 'stall write Velmora/Help/video/* 12 once'

((failed == 0)) || { echo "$failed case(s) failed"; exit 1; }
echo "stall repaint test passed"
