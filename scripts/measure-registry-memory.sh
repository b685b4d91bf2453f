#!/usr/bin/env bash
# Peak resident memory of the program's installer-value lookups (its own copy run through
# FileRegistry, stopping at a destination already copied) on a whole-hive registry export
# against a 1 KB one. Goal: the large export costs at most 30 MiB more.
#   scripts/measure-registry-memory.sh [--mib N] [--build DIR] [--repeat N]
# The exports are UTF-16LE, as "reg export" writes them, made once under build/registry-memory;
# the Velmora key lies near the end of the large one. Needs /usr/bin/time (Debian package time).
set -euo pipefail
cd "$(dirname "$0")/.."

mib=300
build=build/linux
repeat=3
while (($#)); do
  case $1 in
    --mib) mib=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    *) echo "usage: $0 [--mib N] [--build DIR] [--repeat N]" >&2; exit 2 ;;
  esac
done
[[ -x /usr/bin/time ]] || { echo "$0: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }

cmake --preset linux -B "$build" >/dev/null
cmake --build "$build" --target registry_memory_probe >/dev/null
probe=$build/bench/registry_memory_probe

work=$PWD/build/registry-memory
mkdir -p "$work/cd/PCMaster" "$work/dest/Velmora/System" "$work/config"
: >"$work/cd/setup.exe"

# Writes an export of about `bytes` bytes: keys of the usual shapes (strings, dwords, hex data
# continued over lines as the registry editor wraps it), the Velmora key after the first 99%.
make_export() {
  local file=$1 bytes=$2
  [[ -s $file ]] && return
  echo "making $file" >&2
  {
    printf '\xFF\xFE'
    perl -e '
      my ($target, $cd, $dest) = @ARGV;
      my $velmora = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\r\n"
                  . "\"SetupDir\"=\"$cd/\"\r\n\"SystemDir\"=\"$dest/Velmora/System\"\r\n"
                  . "\"SetupMk\"=\"M\"\r\n\r\n";
      my $hex = join(",", map { sprintf "%02x", $_ } 0 .. 24);
      my ($written, $placed, $n) = (0, 0, 0);
      print "Windows Registry Editor Version 5.00\r\n\r\n";
      while (1) {
        if (!$placed && $written * 2 >= $target * 0.99) { print $velmora; $placed = 1; }
        my $block = sprintf("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{%08X-1234-5678-9ABC-DEF012345678}\\InprocServer32]\r\n", $n)
                  . sprintf("\@=\"C:\\\\Windows\\\\System32\\\\component%d.dll\"\r\n", $n)
                  . "\"ThreadingModel\"=\"Apartment\"\r\n"
                  . sprintf("\"Version\"=dword:%08x\r\n", $n)
                  . "\"Data\"=hex:$hex,\\\r\n  $hex,\\\r\n  $hex\r\n\r\n";
        last if ($written + length $block) * 2 > $target;
        print $block;
        $written += length $block;
        ++$n;
      }
      print $velmora unless $placed;
      print "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta]\r\n\"Last\"=\"1\"\r\n";
    ' "$bytes" "$work/cd" "$work/dest" | iconv -f UTF-8 -t UTF-16LE
  } >"$file.part"
  mv "$file.part" "$file"
}

small=$work/machine-1KB.reg
large=$work/machine-${mib}MB.reg
make_export "$small" 1024
make_export "$large" $((mib * 1000 * 1000))

# Peak KiB of the probe on one export, the highest of `repeat` runs.
peak_kib() {
  local file=$1 best=0 kib
  for ((i = 0; i < repeat; i++)); do
    kib=$(VELMORA_MACHINE_REG=$file XDG_CONFIG_HOME=$work/config \
      /usr/bin/time -f %M -o "$work/time.out" "$probe" >/dev/null && cat "$work/time.out")
    ((kib > best)) && best=$kib
  done
  echo "$best"
}

small_kib=$(peak_kib "$small")
start=$EPOCHREALTIME
large_kib=$(peak_kib "$large")
seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" -v n="$repeat" 'BEGIN { print (b - a) / n }')

awk -v s="$small_kib" -v l="$large_kib" -v sb="$(stat -c %s "$small")" -v lb="$(stat -c %s "$large")" \
    -v t="$seconds" 'BEGIN {
  printf "%-28s %14s %12s\n", "export", "bytes", "peak MiB"
  printf "%-28s %14d %12.1f\n", "small (UTF-16LE)", sb, s / 1024
  printf "%-28s %14d %12.1f   (%.2f s per run)\n", "large (UTF-16LE)", lb, l / 1024, t
  d = (l - s) / 1024
  printf "\npeak memory, large - small   %.1f MiB (goal <= 30): %s\n", d, d <= 30 ? "met" : "NOT MET"
  exit d <= 30 ? 0 : 1
}'
