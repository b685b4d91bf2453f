#!/usr/bin/env bash
# The real Windows program under Wine, as a user meets it: the 32-bit installer's values in the
# 32-bit registry view, an install CD on drive R:, the window found on the display, Execute
# clicked, the completion box found by its title, the copied tree checked.
# Usage: wine_program_test.sh <velmora-cdcopy.exe> [folder for screenshots]
# (DISPLAY and WINEPREFIX set; Wine reports whatever Windows release the prefix is set to.)
set -euo pipefail
source "$(dirname "$0")/completion-box.sh"
program=$1
shots=${2:-}
fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { [[ -z $shots ]] || import -window root "$shots/$1.png"; }

drive_c=$WINEPREFIX/drive_c
cd_dir=$drive_c/velmora-program-cd
dest=$drive_c/VelmoraProgramTest
rm -rf "$cd_dir" "$dest"
ln -sfn ../drive_c/velmora-program-cd "$WINEPREFIX/dosdevices/r:"
file() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; }
file "$cd_dir/setup.exe" "installer"
for i in 1 2 3; do file "$cd_dir/System/sys$i.dat" "system $i"; done
file "$cd_dir/System/trw/trw1.dat" "trw"
file "$cd_dir/PCMaster/master.pcm" "master"
for folder in 解説回路 基本回路 組込回路; do file "$cd_dir/M/$folder/$folder.lad" "$folder"; done
file "$cd_dir/Help/index.htm" "manual"
file "$cd_dir/Help/image/fig.png" "image"
file "$cd_dir/Help/video/clip.avi" "video"

# The view the program reads: the 32-bit one for the 32-bit product, the 64-bit one for the
# 64-bit build that machines without 32-bit support test instead.
view=32
command file "$program" | grep -q 'x86-64' && view=64
reg32() { wine reg "$@" /reg:$view >/dev/null 2>&1; }
reg32 delete 'HKLM\Software\Velmora' /f || true
wine reg delete 'HKCU\Software\VB and VBA Program Settings\Velmora' /f >/dev/null 2>&1 || true
reg32 add 'HKLM\Software\Velmora\Info' /v SetupDir /t REG_SZ /d 'R:\' /f || fail "reg add"
reg32 add 'HKLM\Software\Velmora\Info' /v SystemDir /t REG_SZ /d 'C:\VelmoraProgramTest\System' /f ||
  fail "reg add"

wine "$program" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^ Velmora$' | head -n 1) ||
  fail "the copy window did not appear"
sleep 1
shot window-before
eval "$(xdotool getwindowgeometry --shell "$window")"
# The Execute button: 942.5 twips down, 330 high; the middle of the client area across.
dpi=$(wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null | awk '/LogPixels/ { print $3 }' | tr -d '\r')
dpi=$((${dpi:-96}))  # reg prints it in hexadecimal
xdotool mousemove --window "$window" $((WIDTH / 2)) $(((942 + 165) * dpi / 1440)) click 1

box=$(completion_box "$window" 30)
[[ -n $box ]] || { shot no-box; fail "no completion box titled ' Velmora' appeared"; }
sleep 0.5
shot completion-box

for f in System/sys1.dat System/sys3.dat System/trw/trw1.dat Folder_1/master.pcm Folder_1/基本回路.lad \
         Folder_1/組込回路.lad Folder_2/解説回路.lad Help/index.htm Help/image/fig.png Help/video/clip.avi; do
  [[ -f $dest/$f ]] || fail "$f was not copied"
done
[[ -d $dest/BackUp ]] || fail "BackUp missing"
wine reg query 'HKCU\Software\VB and VBA Program Settings\Velmora\Info' /v SetupMk 2>/dev/null |
  grep -q 'Null' || fail "SetupMk was not reset"

xdotool windowactivate "$box" 2>/dev/null || true
xdotool key Return  # the box holds the focus
sleep 1
shot window-after
# Closed as a user closes it: the program ends.
xdotool windowactivate "$window" 2>/dev/null || true
xdotool key alt+F4
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "the program did not end when its window was closed"
trap - EXIT
rm -rf "$cd_dir" "$dest"
reg32 delete 'HKLM\Software\Velmora' /f || true
echo "the Windows program copied the CD under Wine"
