#!/usr/bin/env bash
# The real Windows program under Wine repaints its window while the copy waits on a disk: once
# while a read from the install CD blocks for seconds, once while a write to the destination
# does (each a FUSE drive whose one call stalls). While the call blocks, the window is covered
# by another and uncovered again; its pixels afterwards have to be those from before the cover,
# the yellow button included. Also, once the run has ended, the program holds nothing on the CD.
# Usage: wine_repaint_test.sh <velmora-cdcopy.exe> [folder for screenshots]
# (DISPLAY and WINEPREFIX set; a window manager is started when none runs.) Exits 77 when FUSE
# cannot be used here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/completion-box.sh"
source "$here/wine-drive.sh"
program=$1
shots=${2:-}
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d /tmp/velmora-repaint.XXXXXX)
pid=
cover=
other=
wm=
cleanup() {
  [[ -z $cover ]] || kill "$cover" 2>/dev/null || true
  [[ -z $other ]] || kill "$other" 2>/dev/null || true
  [[ -z $pid ]] || kill "$pid" 2>/dev/null || true
  wine_drive_cleanup
  [[ -z $wm ]] || kill "$wm" 2>/dev/null || true
  rm -rf "$work" "$WINEPREFIX/drive_c/VelmoraRepaintTest"
}
trap cleanup EXIT
# As on a desktop: windows are framed and stacked by a window manager.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
sleep 1
kill -0 "$wm" 2>/dev/null || wm=  # one runs already

# snap <window> <file>: the window's own pixels.
snap() {
  local x y w h
  read -r x y w h < <(xwininfo -id "$1" | awk '
    /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }')
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
}
# pixels <file> <colour>: how many pixels of the picture have that colour.
pixels() {
  /usr/bin/convert "$1" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:round(mean*w*h)]' info:
}
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
shot() { [[ -z $shots ]] || import -window root "$shots/$1.png"; }

cd_files "$work/cd" 2
wine_drive_mount r "$work/cd" "$work/cd-mount" "$work/cd-control" || exit $?
mkdir -p "$work/disk"
wine_drive_mount s "$work/disk" "$work/disk-mount" "$work/disk-control" || exit $?

# <name> <drive control folder> <rule> <SystemDir> <destination as seen here>
for row in \
  "cd-read|$work/cd-control|stall read Help/video/*.avi 20 once|C:\\VelmoraRepaintTest\\System|$WINEPREFIX/drive_c/VelmoraRepaintTest" \
  "destination-write|$work/disk-control|stall write *clip.avi* 20 once|S:\\Velmora\\System|$work/disk-mount/Velmora"; do
  IFS='|' read -r name control rule system_dir dest <<<"$row"
  rm -rf "$dest"
  installer_records 'R:\' "$system_dir"
  "$fault_drive" rules "$work/cd-control" '# none'
  "$fault_drive" rules "$work/disk-control" '# none'
  "$fault_drive" rules "$control" "$rule"
  wine "$program" &
  pid=$!
  window=$(find_copy_window) || fail "$name: the copy window did not appear"
  click_execute "$window"
  "$fault_drive" wait-stall "$control" 30 || fail "$name: the call did not block"
  # Another window takes the focus, as the cover will: the copy window, disabled during the run,
  # cannot take it back, so it is seen inactive before and after.
  /usr/bin/convert -size 40x40 xc:'#00FFFF' "$work/other.png"
  display -geometry +0+0 -title other "$work/other.png" &
  other=$!
  timeout 20 xdotool search --sync --onlyvisible --name '^other$' >/dev/null ||
    fail "$name: the other window did not appear"
  sleep 1  # the label shows the video's number by now
  snap "$window" "$work/before.png"
  shot "repaint-$name-during-call"
  (( $(pixels "$work/before.png" '#FFFF00') > 500 )) || fail "$name: the button is not yellow during the run"
  # The program holds the CD folder it lists while the call blocks.
  held=$(held_below "$work/cd-mount")
  [[ $held == *"$work/cd-mount/Help/video"* ]] ||
    fail "$name: the listing of the CD's video folder is not seen open during the run: $held"

  # Covered by another window, then uncovered, while the call still blocks.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  /usr/bin/convert -size "$((WIDTH + 200))x$((HEIGHT + 200))" xc:'#FF00FF' "$work/cover.png"
  display -geometry "+$((X - 100))+$((Y - 100))" -title cover "$work/cover.png" &
  cover=$!
  cover_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^cover$' | head -n 1) ||
    fail "$name: the covering window did not appear"
  xdotool windowmove "$cover_window" $((X - 100)) $((Y - 100)) windowraise "$cover_window"
  sleep 1
  snap "$window" "$work/covered.png"
  shot "repaint-$name-covered"
  (( $(pixels "$work/covered.png" '#FF00FF') > $(pixels "$work/before.png" '#FFFF00') )) ||
    fail "$name: the covering window does not cover the copy window"
  kill "$cover" "$other"
  wait "$cover" "$other" 2>/dev/null || true
  cover=
  other=
  sleep 1
  snap "$window" "$work/after.png"
  shot "repaint-$name-uncovered"
  [[ -e $work/cd-control/stalling || -e $work/disk-control/stalling ]] ||
    fail "$name: the call ended before the window was uncovered; nothing was shown"
  changed=$(differing "$work/before.png" "$work/after.png")
  [[ $changed == 0 ]] || {
    [[ -z $shots ]] || cp "$work/before.png" "$work/after.png" "$shots/" 2>/dev/null || true
    fail "$name: the window was not repainted while the call blocked ($changed pixels differ)"
  }
  echo "$name: repainted while the call blocked"

  # The run ends once the call comes back; then nothing of it holds the CD.
  box=$(completion_box "$window" 60)
  [[ -n $box ]] || fail "$name: no completion box"
  cmp -s "$work/cd/Help/video/clip.avi" "$dest/Help/video/clip.avi" || fail "$name: the video was not copied whole"
  held=$(held_below "$work/cd-mount")
  [[ -z $held ]] || fail "$name: the run has ended but the program holds the CD: $held"
  xdotool windowactivate "$box" 2>/dev/null || true
  xdotool key Return
  sleep 1
  xdotool windowactivate "$window" 2>/dev/null || true
  xdotool key alt+F4
  wait "$pid" || true
  pid=
done
echo "the window was repainted while a read and while a write blocked, and the CD was let go"
