#!/usr/bin/env bash
# The session ends while the real Windows program copies, under Wine: the install CD is a FUSE
# drive (R:) whose every read of the video is slow, and once the video's copy is under way a
# second program asks the program's window WM_QUERYENDSESSION (refused) and sends it
# WM_ENDSESSION(TRUE). Once with the copy window, Execute clicked; once unattended (/silent),
# where a hidden window hears of the session's end; and once more unattended, stopped by taskkill
# (without /F), whose close request the hidden window takes. The program has to end within 5 s
# with the code of a stopped run, leave no partial copy and keep its record of the copy under
# way; the next run (--silent) completes it.
# Usage: wine_session_end_test.sh <velmora-cdcopy.exe> <session_end_probe.exe> [folder for screenshots]
# (DISPLAY and WINEPREFIX set.) Exits 77 when FUSE cannot be used here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/completion-box.sh"
source "$here/wine-drive.sh"
program=$1
probe=$2
shots=${3:-}
fail() { echo "FAIL: $*" >&2; exit 1; }
shot() { [[ -z $shots ]] || import -window root "$shots/$1.png"; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

work=$(mktemp -d /tmp/velmora-session-end.XXXXXX)
dest_windows='C:\VelmoraSessionEndTest'
dest=$WINEPREFIX/drive_c/VelmoraSessionEndTest
pid=
cleanup() {
  [[ -z $pid ]] || kill "$pid" 2>/dev/null || true
  wine_drive_cleanup
  rm -rf "$work" "$dest"
}
trap cleanup EXIT

cd_files "$work/cd" 4
wine_drive_mount r "$work/cd" "$work/cd-mount" "$work/cd-control" || exit $?
# ShutdownBlockReasonCreate(window, reason) with the reason in UTF-16 escapes.
reason='\30a4\30f3\30b9\30c8\30fc\30eb\ff23\ff24\304b\3089\306e\30b3\30d4\30fc\304c\9032\884c\4e2d\3067\3059\3002'

# mode: window, silent or taskkill.
session_ends_during_copy() {
  local mode=$1 window_class=VelmoraCopyWindow query_answer=0
  rm -rf "$dest"
  installer_records 'R:\' "$dest_windows\\System"
  # Every read of the video takes a second and a half: a CD that can hardly read it.
  "$fault_drive" rules "$work/cd-control" 'stall read Help/video/*.avi 1.5'
  # Wine says which functions it only pretends to have: the block reason is one, and the line
  # shows the reason the program gave.
  if [[ $mode == window ]]; then
    WINEDEBUG=-all,fixme+all wine "$program" >"$work/program.out" 2>"$work/program.err" &
    pid=$!
    window=$(find_copy_window) || fail "the copy window did not appear"
    click_execute "$window"
  else
    # Wine's ShutdownBlockReasonCreate only pretends (it returns FALSE). Without its reason taken,
    # an unattended run lets the session's end come, as Vista would end outright a program with
    # no visible window that refused it without a reason, and stops its run when it comes.
    window_class=VelmoraSilentRun
    query_answer=1
    WINEDEBUG=-all,fixme+all wine "$program" /silent >"$work/program.out" 2>"$work/program.err" &
    pid=$!
  fi
  "$fault_drive" wait-stall "$work/cd-control" 30 || fail "$mode: the video's copy did not start"
  sleep 2
  partial=$(find "$dest" -name '*.velmora-partial' 2>/dev/null | head -n 1)
  [[ -n $partial ]] || fail "$mode: no partial copy while the video is being copied"
  shot "session-end-during-copy-$mode"

  if [[ $mode == taskkill ]]; then
    local asked
    asked=$(now_ms)
    wine taskkill /im "$(basename "$program")" >/dev/null 2>&1 || fail "taskkill: it found no program to end"
  else
    # As Windows ends the session.
    report=$(wine "$probe" "$window_class" "$query_answer" | tr -d '\r') ||
      { echo "$report"; fail "$mode: the session's end was not taken as it should be"; }
    echo "$mode: session end: $report"
  fi
  status=0
  wait "$pid" || status=$?
  [[ $mode != taskkill ]] || echo "taskkill: the program ended $(($(now_ms) - asked)) ms after"
  pid=
  [[ $status == 5 ]] || fail "$mode: the program's exit code was $status, not 5 (stopped)"

  leftovers=$(find "$dest" -name '*velmora-partial*')
  [[ -z $leftovers ]] || fail "$mode: partial copies left behind: $leftovers"
  [[ -f $dest/.velmora-cdcopy-under-way ]] || fail "$mode: the record of the copy under way is gone"
  [[ ! -e $dest/Help/video/clip.avi ]] ||
    fail "$mode: the video stands under its name although its copy was stopped"
  grep -qF "ShutdownBlockReasonCreate" "$work/program.err" ||
    fail "$mode: the program did not give Windows a reason to hold the session"
  grep -F "ShutdownBlockReasonCreate" "$work/program.err" | grep -qF "L\"$reason\"" ||
    fail "$mode: the block reason is not the Japanese text: $(grep -F ShutdownBlockReasonCreate "$work/program.err")"
  if [[ $mode != window ]]; then
    # The run ended as a run ends: its line (in the ANSI code page, 932 here) and its log entry.
    said=$(iconv -f CP932 -t UTF-8 "$work/program.out" | tr -d '\r')
    [[ $said == *コピーを中断しました* ]] || fail "$mode: the line does not say the copy was stopped: $said"
    log=$(find "$WINEPREFIX/drive_c/users" -path '*/Velmora/cdcopy.log' | head -n 1)
    [[ -n $log ]] && tr -d '\r' <"$log" | grep '^exit code:' | tail -n 1 | grep -qx 'exit code: 5' ||
      fail "$mode: the log's last entry does not end with exit code 5"
  fi

  # The next start of the program completes the copy.
  "$fault_drive" rules "$work/cd-control" '# none'
  status=0
  line=$(wine "$program" --silent | tr -d '\r') || status=$?
  echo "$mode: next run: exit $status: $line"
  [[ $status == 0 ]] || fail "$mode: the next run did not complete the copy (exit $status)"
  cmp -s "$work/cd/Help/video/clip.avi" "$dest/Help/video/clip.avi" ||
    fail "$mode: the video was not copied whole"
  [[ ! -e $dest/.velmora-cdcopy-under-way ]] || fail "$mode: the record stayed after the completed copy"
  echo "$mode: the stop came through, and the next run completed the copy"
}

session_ends_during_copy window
session_ends_during_copy silent
session_ends_during_copy taskkill
