# Sourced by the scripts that drive the real Windows program under Wine on FUSE drives.
# (DISPLAY and WINEPREFIX set; the caller defines fail.)
fault_drive=$(cd "$(dirname "${BASH_SOURCE[0]}")/../support" && pwd)/fault-drive.sh
wine_drive_mounts=()

# cd_files <folder> <MiB>: an install CD whose one video is <MiB> MiB.
cd_files() {
  local cd=$1 folder
  put() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; }
  put "$cd/setup.exe" "installer"
  for i in 1 2 3; do put "$cd/System/sys$i.dat" "system $i"; done
  put "$cd/PCMaster/master.pcm" "master"
  for folder in 解説回路 基本回路 組込回路; do put "$cd/M/$folder/$folder.lad" "$folder"; done
  put "$cd/Help/index.htm" "manual"
  mkdir -p "$cd/Help/video"
  head -c $(($2 << 20)) /dev/urandom >"$cd/Help/video/clip.avi"
}

# wine_drive_mount <letter> <backing> <mount point> <control folder>: the fault drive mounted and
# linked as drive <letter>: in the prefix. Returns 77 when FUSE cannot be used here.
wine_drive_mount() {
  local status=0
  mkdir -p "$2" "$3"
  "$fault_drive" mount "$2" "$3" "$4" || status=$?
  [[ $status == 0 ]] || return "$status"
  wine_drive_mounts+=("$1|$3|$4")
  ln -sfn "$3" "$WINEPREFIX/dosdevices/$1:"
}

# Unmounts the drives and takes their letters away, and the installer's records.
wine_drive_cleanup() {
  local entry letter mount control
  for entry in "${wine_drive_mounts[@]}"; do
    IFS='|' read -r letter mount control <<<"$entry"
    rm -f "$WINEPREFIX/dosdevices/$letter:"
    "$fault_drive" unmount "$mount" "$control" || true
  done
  wine_drive_mounts=()
  wine reg delete 'HKLM\Software\Velmora' /f /reg:"$(registry_view)" >/dev/null 2>&1 || true
}

# The registry view the program reads: the 32-bit one for the 32-bit product, the 64-bit one for
# the 64-bit build that machines without 32-bit support test instead.
registry_view() {
  if command file "$program" | grep -q 'x86-64'; then echo 64; else echo 32; fi
}

# installer_records <SetupDir> <SystemDir>
installer_records() {
  local view
  view=$(registry_view)
  wine reg delete 'HKLM\Software\Velmora' /f /reg:"$view" >/dev/null 2>&1 || true
  wine reg delete 'HKCU\Software\VB and VBA Program Settings\Velmora' /f >/dev/null 2>&1 || true
  wine reg add 'HKLM\Software\Velmora\Info' /v SetupDir /t REG_SZ /d "$1" /f /reg:"$view" \
    >/dev/null 2>&1 || fail "reg add SetupDir"
  wine reg add 'HKLM\Software\Velmora\Info' /v SystemDir /t REG_SZ /d "$2" /f /reg:"$view" \
    >/dev/null 2>&1 || fail "reg add SystemDir"
}

# Prints the copy window's X id once it is shown.
find_copy_window() {
  local window
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^ Velmora$' | head -n 1) || return 1
  sleep 1
  echo "$window"
}

# click_execute <window>: the Execute button, 942.5 twips down and 330 high, mid-window across.
click_execute() {
  local dpi WIDTH HEIGHT X Y SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  dpi=$(wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null |
    awk '/LogPixels/ { print $3 }' | tr -d '\r')
  dpi=$((${dpi:-96}))  # reg prints it in hexadecimal
  xdotool mousemove --window "$1" $((WIDTH / 2)) $(((942 + 165) * dpi / 1440)) click 1
}

# The prefix's wineserver, which holds every file and folder its programs have open.
wine_server_pid() {
  local server pid
  server=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  for pid in $(pgrep -x wineserver64; pgrep -x wineserver); do
    [[ $(readlink "/proc/$pid/cwd") == */"$server" ]] && { echo "$pid"; return 0; }
  done
  return 1
}

# held_below <folder>: what the prefix's programs hold open below <folder>, one a line.
held_below() {
  local pid fd target
  pid=$(wine_server_pid) || return 0
  for fd in /proc/"$pid"/fd/*; do
    target=$(readlink "$fd" 2>/dev/null) || continue
    [[ $target == "$1" || $target == "$1"/* ]] && echo "$target"
  done
  return 0
}
