#!/usr/bin/env bash
# Lays out a demo install CD and the installer's records under one folder, so the copy window
# can be tried without an installation:
#   <root>/cd                 the install CD
#   <root>/machine.reg        HKEY_LOCAL_MACHINE\Software\Velmora\Info (SetupDir, SystemDir)
#   <root>/config/Velmora/Velmora.ini   the per-user settings (SetupMk)
#   <root>/install            where Velmora was installed; the copy goes to <root>/install/Velmora
# Usage: make-demo-cd.sh <root> [video-MiB]   (the folder is made anew)
# With video-MiB, Help/video also holds three lessons of that size together, of random data
# written past the page cache, so that a run lasts long enough to be watched.
set -euo pipefail

root=${1:?usage: make-demo-cd.sh <root> [video-MiB]}
video_mib=${2:-0}
rm -rf "$root"
mkdir -p "$root"
root=$(cd "$root" && pwd)
cd_dir=$root/cd

file() {  # file <path> <text>
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "$2" >"$1"
}

file "$cd_dir/setup.exe" "demo installer"
for i in $(seq -w 1 12); do file "$cd_dir/System/system$i.dat" "system data $i"; done
for i in 1 2 3; do file "$cd_dir/System/trw/trw$i.dat" "trw data $i"; done
for i in 1 2 3 4; do file "$cd_dir/PCMaster/master$i.pcm" "PLC master data $i"; done
for maker in M O; do
  for folder in 解説回路 基本回路 組込回路; do
    for i in 1 2; do file "$cd_dir/$maker/$folder/${maker}_${folder}_$i.lad" "$maker $folder $i"; done
  done
done
file "$cd_dir/Help/index.htm" "<html><body>Velmora manual</body></html>"
file "$cd_dir/Help/image/figure1.png" "image 1"
file "$cd_dir/Help/video/lesson1.avi" "video 1"
file "$cd_dir/Help/.hidden" "never copied"
if ((video_mib > 0)); then
  for i in 2 3 4; do
    dd if=/dev/urandom of="$cd_dir/Help/video/lesson$i.avi" bs=1M count=$((video_mib / 3)) \
      oflag=direct status=none
  done
fi

mkdir -p "$root/install" "$root/config/Velmora"

reg_string() {  # the export file's escapes: \\ and \"
  local text=${1//\\/\\\\}
  printf '%s' "${text//\"/\\\"}"
}

cat >"$root/machine.reg" <<REG
Windows Registry Editor Version 5.00

; What the Velmora installer records, as exported from the registry.
[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]
"SetupDir"="$(reg_string "$cd_dir/")"
"SystemDir"="$(reg_string "$root/install/Velmora/System")"
REG

cat >"$root/config/Velmora/Velmora.ini" <<INI
[Info]
SetupMk=M
INI

echo "$root"
