#!/usr/bin/env bash
# Checks that a Windows program loads on Windows XP SP3 and later, 32- and 64-bit:
#   - a 32-bit (i386) PE whose header asks for no system later than 5.1 (subsystem and OS version);
#   - it imports only from DLLs that XP has, and none of the functions that XP lacks, as listed in
#     packaging/windows/vista-or-later-imports.txt.
# Usage: check-windows-imports.sh <program.exe>
set -euo pipefail
exe=${1:?usage: check-windows-imports.sh <program.exe>}
list=$(dirname "$0")/../packaging/windows/vista-or-later-imports.txt
objdump=i686-w64-mingw32-objdump
fail=0
problem() { echo "FAIL: $*" >&2; fail=1; }

headers=$("$objdump" -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || problem "$exe is not a 32-bit (i386) program"
field() { awk -v name="$1" '$1 == name { print $2 }' <<<"$headers"; }
for kind in Subsystem OSystem; do
  major=$(field "Major${kind}Version")
  minor=$(field "Minor${kind}Version")
  ((major < 5 || (major == 5 && minor <= 1))) ||
    problem "header $kind version $major.$minor is later than XP's 5.1"
  echo "header: $kind version $major.$minor"
done

# "DLL function" for every import, both in lower case.
imports=$(awk '/DLL Name:/ { dll = tolower($3); next }
               dll != "" && /^\t[0-9a-f]+\t +[0-9]+  / { print dll, tolower($3) }' <<<"$headers")
[[ -n $imports ]] || problem "no imports found in $exe"

xp_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll msvcrt.dll comctl32.dll shell32.dll ole32.dll uxtheme.dll comdlg32.dll version.dll winmm.dll "
while read -r dll count; do
  echo "imports: $dll $count functions"
  [[ $xp_dlls == *" $dll "* ]] || problem "imports from $dll, which is not one of XP's system DLLs"
done < <(awk '{ n[$1]++ } END { for (d in n) print d, n[d] }' <<<"$imports" | sort)

forbidden=$(grep -v '^[[:space:]]*\(#\|$\)' "$list" | tr 'A-Z' 'a-z' | awk '{ print $1, $2 }' | sort -u)
found=$(comm -12 <(sort -u <<<"$imports") <(echo "$forbidden"))
if [[ -n $found ]]; then
  while read -r line; do problem "imports $line, which Windows XP does not have"; done <<<"$found"
else
  echo "imports: none of the $(wc -l <<<"$forbidden") functions newer than XP"
fi
exit $fail
