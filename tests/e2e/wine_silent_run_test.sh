#!/usr/bin/env bash
# The real Windows program under Wine, run unattended as the administrator of a room of PCs runs
# it: `/silent` from a shell, the exit code the Windows process ends with, its one line on
# standard output, its log under %LOCALAPPDATA%, and the in-progress record that a run finds
# after the per-user settings went. The installer's values are in the registry view the program
# reads; the install CD is drive R:, on a FUSE drive whose reads fail or stall when told.
#
# What Wine does with the standard output of this program, which has a window and so no console
# of its own: started from a Unix shell with stdout a pipe or a file, it has no console to attach
# to and its standard handles are the shell's descriptors, so the line arrives in the ANSI code
# page, 932 under a Japanese locale as on Japanese Windows (elsewhere 1252, where the Japanese
# characters become '?'). On a terminal Wine gives it a console, and the line is written as text
# that the terminal shows in its own encoding. Started from cmd.exe it writes to cmd's console,
# or, redirected there, in the console's code page; Wine's `cmd /c` waits for it, as a batch
# file does on Windows.
#
# Usage: wine_silent_run_test.sh <velmora-cdcopy.exe> <make-demo-cd.sh> <fault-drive.sh>
# (WINEPREFIX set.) Exits 77 (skipped) when the parts that need FUSE could not run, after the rest.
set -euo pipefail
program=$(realpath "$1")
make_demo=$2
fault_drive=$3
export LC_ALL=ja_JP.UTF-8  # Japanese Windows: the ANSI and console code pages are 932
export WINEDEBUG=${WINEDEBUG:--all}
prefix=${WINEPREFIX:?WINEPREFIX must be set}
drive_c=$prefix/drive_c

work=$(mktemp -d /tmp/velmora-wine-silent.XXXXXX)
dest=$drive_c/VelmoraSilentTest
mounted=
background=
skipped=()
fail() { echo "FAIL: $*" >&2; exit 1; }
skip_part() { echo "SKIP: $*" >&2; skipped+=("$*"); }

# The view the program reads: the 32-bit one for the 32-bit product, the 64-bit one for the
# 64-bit build that machines without 32-bit support test instead.
view=32
command file "$program" | grep -q 'x86-64' && view=64
reg_machine() { wine reg "$@" /reg:$view >/dev/null 2>&1; }
readonly machine_key='HKLM\Software\Velmora' user_key='HKCU\Software\VB and VBA Program Settings\Velmora'

previous_r=$(readlink "$prefix/dosdevices/r:" || true)
cleanup() {
  [[ -z $background ]] || kill -KILL "$background" 2>/dev/null || true
  [[ -z $mounted ]] || "$fault_drive" unmount "$mounted" "$work/drive" >/dev/null 2>&1 || true
  # Drive R: as the other tests left it.
  if [[ -n $previous_r ]]; then ln -sfn "$previous_r" "$prefix/dosdevices/r:"; else rm -f "$prefix/dosdevices/r:"; fi
  rm -f "$prefix/dosdevices/q:"
  reg_machine delete "$machine_key" /f || true
  wine reg delete 'HKLM\Software\Wine\Drives' /v 'q:' /f >/dev/null 2>&1 || true
  rm -rf "$work" "$dest"
}
trap cleanup EXIT

# The install CD, as the demo lays it out, with three videos of 2 MiB.
cd_dir=$work/cd
"$make_demo" "$work/demo" 6 >/dev/null
mv "$work/demo/cd" "$cd_dir"
# The files a run copies: not setup.exe, not the other maker's, not hidden ones.
copied_files=$(find "$cd_dir/System" "$cd_dir/PCMaster" "$cd_dir/M" "$cd_dir/Help" -type f ! -name '.*' | wc -l)

set_records() {  # set_records <SetupDir or -> <SystemDir or ->: the installer's values
  reg_machine delete "$machine_key" /f || true
  [[ $1 == - ]] || reg_machine add "$machine_key\\Info" /v SetupDir /t REG_SZ /d "$1" /f ||
    fail "reg add SetupDir"
  [[ $2 == - ]] || reg_machine add "$machine_key\\Info" /v SystemDir /t REG_SZ /d "$2" /f ||
    fail "reg add SystemDir"
}
fresh_user_settings() {  # the per-user key as the installer leaves it: maker M
  wine reg delete "$user_key" /f >/dev/null 2>&1 || true
  wine reg add "$user_key\\Info" /v SetupMk /t REG_SZ /d M /f >/dev/null 2>&1 || fail "reg add SetupMk"
}
set_records 'R:\' 'C:\VelmoraSilentTest\System'
fresh_user_settings
# The CD on drive R:, on the fault drive where FUSE can be used, else as a plain folder.
mkdir -p "$work/cdrom"
status=0
"$fault_drive" mount "$cd_dir" "$work/cdrom" "$work/drive" || status=$?
if ((status == 0)); then
  mounted=$work/cdrom
  ln -sfn "$work/cdrom" "$prefix/dosdevices/r:"
elif ((status == 77)); then
  skip_part "failures and a run cut off (no FUSE here)"
  ln -sfn "$cd_dir" "$prefix/dosdevices/r:"
else
  fail "the fault drive did not mount"
fi
rm -rf "$dest"
for log in "$drive_c"/users/*/AppData/Local/Velmora "$drive_c"/users/*/"Local Settings/Application Data/Velmora"; do
  rm -rf "$log"
done

# One run: `wine program arguments`, bounded so that a box waiting for a click fails the test.
# After it $rc and $ms; stdout in $work/out (the bytes) and $work/text (decoded from code page
# 932, CR LF as LF), stderr in $work/err.
run() {
  local start
  start=$(date +%s%N)
  rc=0
  timeout -s KILL 30 wine "$program" "$@" >"$work/out" 2>"$work/err" </dev/null || rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))
  ((rc != 137)) || fail "'$*' did not end within 30 s (a box waiting for a click?)"
  iconv -f CP932 -t UTF-8 "$work/out" | tr -d '\r' >"$work/text" ||
    fail "'$*': stdout is not in code page 932: $(od -c "$work/out" | head -n 5)"
}
expect() {  # expect <what> <exit code> <line>: the exit code and the one line, CR LF ended
  [[ $rc == "$2" ]] || fail "$1: exit code $rc, not $2; stdout: $(cat "$work/text")"
  printf '%s\n' "$3" | cmp -s - "$work/text" || fail "$1: stdout is not the one line '$3' but '$(cat "$work/text")'"
  [[ $(tail -c 2 "$work/out" | od -An -c | tr -d ' ') == '\r\n' ]] || fail "$1: the line does not end in CR LF"
}
readonly completed='　インストールＣＤからファイルのコピーが終了しました。'
readonly already=' 　既にインストールＣＤからコピー済みです。　'

expect_tree() {  # expect_tree <what>: every file copied, nothing of a run under way left
  local f
  for f in System/system01.dat System/system12.dat System/trw/trw3.dat PCMaster/master4.pcm \
    M/基本回路/M_基本回路_2.lad M/組込回路/M_組込回路_1.lad M/解説回路/M_解説回路_2.lad \
    Help/index.htm Help/image/figure1.png Help/video/lesson1.avi Help/video/lesson3.avi; do
    local target=$f
    case $f in
      PCMaster/* | M/基本回路/* | M/組込回路/*) target=Folder_1/${f##*/} ;;
      M/解説回路/*) target=Folder_2/${f##*/} ;;
    esac
    cmp -s "$cd_dir/$f" "$dest/$target" || fail "$1: $f was not copied to $target"
  done
  [[ -d $dest/BackUp ]] || fail "$1: BackUp missing"
  [[ ! -e $dest/.velmora-cdcopy-under-way ]] || fail "$1: the in-progress record is still there"
  [[ -z $(find "$dest" -name '*.velmora-partial*') ]] ||
    fail "$1: partial copies left: $(find "$dest" -name '*.velmora-partial*' | head -n 3)"
  wine reg query "$user_key\\Info" /v SetupMk 2>/dev/null | grep -q 'REG_SZ *Null' ||
    fail "$1: SetupMk is not Null"
}

# --- Exit codes, and the line on standard output --------------------------------------------
run /silent
expect "a first run (/silent)" 0 "$completed"
expect_tree "a first run"
run /SILENT
expect "a second run (/SILENT)" 1 "$already"
run --silent
expect "a third run (--silent)" 1 "$already"

# Started from cmd.exe, as a batch file starts it: cmd waits for the program, and
# %ERRORLEVEL% is the exit code; the line goes to cmd's console, or to the file it redirects to.
rc=0
timeout -s KILL 30 wine cmd /c "$(winepath -w "$program") /silent > C:\\velmora-silent.txt & exit /b %ERRORLEVEL%" \
  >/dev/null 2>&1 </dev/null || rc=$?
[[ ${rc:-0} == 1 ]] || fail "started from cmd.exe: exit code ${rc:-0}, not 1"
[[ $(iconv -f CP932 -t UTF-8 "$drive_c/velmora-silent.txt" | tr -d '\r') == "$already" ]] ||
  fail "started from cmd.exe: the redirected line is '$(cat "$drive_c/velmora-silent.txt")'"
rm -f "$drive_c/velmora-silent.txt"

# On a terminal Wine gives the program a console: the line is written to it as text, which the
# terminal shows in its own encoding (UTF-8).
rc=0
timeout -s KILL 30 script -qec "wine '$program' /silent" /dev/null </dev/null >"$work/tty" 2>&1 || rc=$?
[[ $rc == 1 ]] || fail "on a terminal: exit code $rc, not 1"
sed -e 's/\x1b\[[?0-9;]*[a-zA-Z]//g' -e 's/\r//g' "$work/tty" | grep -qx -- "$already" ||
  fail "on a terminal: the line is not there: $(od -c "$work/tty" | head -n 8)"

# No CD: a CD drive without a disc, and a drive letter that is not there. At once, no box.
mkdir -p "$work/empty-drive"
ln -sfn "$work/empty-drive" "$prefix/dosdevices/q:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'q:' /t REG_SZ /d cdrom /f >/dev/null 2>&1 || fail "reg add q:"
for drive in 'Q:\ Ｑ' 'P:\ Ｐ'; do  # the letter as the message shows it: full width
  set_records "${drive% *}" 'C:\VelmoraNoCd\System'
  run /silent
  expect "no CD in ${drive% *}" 2 " ${drive#* } ドライブにインストールＣＤをセットして下さい。　"
  ((ms < 10000)) || fail "no CD in $drive: the run took $ms ms"
  [[ ! -e $drive_c/VelmoraNoCd ]] || fail "no CD in $drive: the destination was made"
done
set_records - 'C:\VelmoraSilentTest\System'
run /silent
expect "no SetupDir recorded" 2 ' 　インストールＣＤの挿入ドライブ名が不明です。　'
set_records 'R:\' -
run /silent
expect "no SystemDir recorded" 2 ' 　コピー先のパスが不明です。　'

# A destination where the record cannot be written (a folder in its place): said, nothing copied.
mkdir -p "$drive_c/VelmoraBlocked/Velmora/.velmora-cdcopy-under-way"
set_records 'R:\' 'C:\VelmoraBlocked\Velmora\System'
run /silent
mv "$drive_c/VelmoraBlocked" "$work/blocked"
[[ $rc == 2 ]] &&
  grep -qx ' 　コピー先のフォルダに書き込めません。（C:\\VelmoraBlocked\\Velmora　..*）　' "$work/text" ||
  fail "a folder in the record's place: exit code $rc, stdout '$(cat "$work/text")'"
[[ $(ls -A "$work/blocked/Velmora") == .velmora-cdcopy-under-way ]] ||
  fail "a folder in the record's place: the run left $(ls -A "$work/blocked/Velmora")"
set_records 'R:\' 'C:\VelmoraSilentTest\System'

# Usage errors: stderr says so, stdout stays empty, nothing is done.
for arguments in /bogus "/silent /bogus" "/log"; do
  # shellcheck disable=SC2086
  run $arguments
  [[ $rc == 4 && ! -s $work/out ]] || fail "'$arguments': exit code $rc, stdout '$(cat "$work/text")'"
  grep -q '^usage: velmora-cdcopy ' "$work/err" || fail "'$arguments': no usage on stderr"
done
for arguments in /? /help --help /version --version; do
  run "$arguments"
  [[ $rc == 0 && -s $work/out ]] || fail "'$arguments': exit code $rc, stdout '$(cat "$work/text")'"
done

# --- Failures, the log, and the record that outlives the per-user settings ------------------
if [[ -n $mounted ]]; then
  rm -rf "$dest"
  fresh_user_settings
  "$fault_drive" rules "$work/drive" 'eio read System/system05.dat' 'eio read Help/image/figure1.png'
  run /silent
  [[ $rc == 3 ]] || fail "a run with two unreadable CD files: exit code $rc, not 3: $(cat "$work/text")"
  grep -q '^ 　ファイル２個をコピーできませんでした。（最初：C:\\VelmoraSilentTest\\System\\system05.dat　.*）もう一度「実 行」を押して下さい。　$' \
    "$work/text" || fail "a run with two unreadable CD files: stdout '$(cat "$work/text")'"
  first_reason=$(sed -n 's/^.*system05\.dat　\(.*\)）もう一度.*$/\1/p' "$work/text")

  # The log: %LOCALAPPDATA%\Velmora\cdcopy.log, UTF-8 with a byte-order mark, CR LF.
  log=$(find "$drive_c/users" -path '*/Velmora/cdcopy.log' | head -n 1)
  [[ -n $log ]] || fail "no log under %LOCALAPPDATA%\\Velmora"
  [[ $(head -c 3 "$log" | od -An -tx1 | tr -d ' ') == efbbbf ]] || fail "the log has no byte-order mark"
  iconv -f UTF-8 -t UTF-8 "$log" >/dev/null || fail "the log is not UTF-8"
  [[ -z $(grep -n $'[^\r]$' "$log" | head -n 1) && $(tail -c 2 "$log" | od -An -c | tr -d ' ') == '\r\n' ]] ||
    fail "a line of the log does not end in CR LF"
  tr -d '\r' <"$log" | sed '1s/^\xef\xbb\xbf//' >"$work/log"
  grep '^failed: ' "$work/log" >"$work/failed"
  [[ $(wc -l <"$work/failed") == 2 ]] || fail "the log does not name two failures: $(cat "$work/failed")"
  IFS=$'\t' read -r first first_why < <(sed -n 1p "$work/failed")
  IFS=$'\t' read -r second second_why < <(sed -n 2p "$work/failed")
  [[ $first == 'failed: C:\VelmoraSilentTest\System\system05.dat' &&
    $second == 'failed: C:\VelmoraSilentTest\Help\image\figure1.png' ]] ||
    fail "the log's failures are not the two, in order: $(cat "$work/failed")"
  # The system's own words for the error (FormatMessage), not the program's fallback.
  [[ -n $first_why && $first_why == "$second_why" && $first_why == "$first_reason" &&
    $first_why != エラー* ]] || fail "the failures' reasons are not the system's: $(cat "$work/failed")"
  # This run's entry: the last one.
  awk '/^== / { entry = "" } { entry = entry $0 "\n" } END { printf "%s", entry }' "$work/log" >"$work/entry"
  grep -qx '== [0-9]\{4\}-[0-9][0-9]-[0-9][0-9]T[0-9:]\{8\}[+-][0-9][0-9]:[0-9][0-9] velmora-cdcopy .*' "$work/entry" &&
    grep -qFx "files counted $copied_files, not copied 2; folders not made 0; CD folders not read 0; copies on the disk yes" "$work/entry" &&
    grep -qFx "result: $(cat "$work/text")" "$work/entry" && grep -qx 'exit code: 3' "$work/entry" &&
    grep -qx 'took: [0-9]*\.[0-9]\{3\} s' "$work/entry" ||
    fail "the log's entry lacks its start, counts, result, exit code or time: $(cat "$work/entry")"

  "$fault_drive" rules "$work/drive" </dev/null
  run /silent
  expect "the run after failures" 0 "$completed"
  expect_tree "the run after failures"

  # A run cut off while a read of a video is held; the per-user key removed; the next run
  # completes the tree all the same.
  rm -rf "$dest"
  fresh_user_settings
  "$fault_drive" rules "$work/drive" 'stall read Help/video/lesson3.avi 60 once'
  wine "$program" /silent >/dev/null 2>&1 </dev/null &
  background=$!
  "$fault_drive" wait-stall "$work/drive" 30 || fail "the run never read the stalled video"
  kill -KILL "$background"
  wait "$background" 2>/dev/null || true
  background=
  [[ -f $dest/.velmora-cdcopy-under-way ]] || fail "the cut-off run left no in-progress record"
  [[ -f $dest/Help/video/lesson3.avi.velmora-partial ]] ||
    fail "the cut-off run left no partial copy of the video it was reading (was it cut off midway?)"
  "$fault_drive" rules "$work/drive" </dev/null
  wine reg delete "$user_key" /f >/dev/null 2>&1 || fail "the per-user key could not be removed"
  run /silent
  expect "the run after one cut off, without the per-user key" 0 "$completed"
  expect_tree "the run after one cut off, without the per-user key"
  tr -d '\r' <"$log" | grep '^completes an earlier run: ' | tail -n 1 | grep -qx 'completes an earlier run: yes' ||
    fail "the log does not say the last run completed an earlier one"
fi

if ((${#skipped[@]} > 0)); then
  echo "passed what could run; skipped: ${skipped[*]}"
  exit 77
fi
echo "the Windows program ran unattended under Wine"
