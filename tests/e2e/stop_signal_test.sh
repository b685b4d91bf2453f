#!/usr/bin/env bash
# The real Linux program stopped by a signal, as a session's end (SIGTERM), Ctrl+C (SIGINT) or a
# dropped ssh connection (SIGHUP) stops it, in its window and in --silent: the install CD is a FUSE drive whose first read of a
# large video blocks, so a copy is surely under way when the signal comes.
#   - one signal: the run stops at its next chunk, the program ends with status 5 within 5 s (a
#     read that blocks longer is not waited for: the program ends at its 4 s deadline, and its
#     log says it ended without the run), the copy
#     under way has no name and the record of the copy stays; the next --silent run completes
#     the copy and ends with 0;
#   - a second SIGTERM or SIGINT ends the program at once, with status 128 + that signal; a
#     second SIGHUP (a lost terminal hangs up twice) changes nothing;
#   - a signal while no run is under way ends the window at once, with 128 + the signal;
#   - a SIGHUP that was ignored when the program started (nohup) leaves the run to complete.
# Usage: stop_signal_test.sh <program> <make-demo-cd.sh> <fault-drive.sh>   (DISPLAY must be set)
# Exit 77 when FUSE cannot be used here.
set -uo pipefail
# Each program in a process group of its own, with SIGINT as it is: a script's background jobs
# would otherwise start with it ignored, which the program leaves as it finds it.
set -m
program=$1
make_demo=$2
fd=$3

work=$(mktemp -d)
chmod 755 "$work"
pid=
cleanup() {
  [[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null
  "$fd" unmount "$work/demo/cd" "$work/control" >/dev/null 2>&1
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
now_ms() { echo $(($(date +%s%N) / 1000000)); }

demo=$("$make_demo" "$work/demo" 24) || exit 1
mv "$demo/cd" "$work/cd"
mkdir "$demo/cd"
"$fd" mount "$work/cd" "$demo/cd" "$work/control"
case $? in
  0) ;;
  77) echo "skip: FUSE is unavailable here"; exit 77 ;;
  *) echo "FAIL: the CD drive did not mount"; exit 1 ;;
esac
dest=$demo/install/Velmora
marker=$dest/.velmora-cdcopy-under-way
export VELMORA_MACHINE_REG=$demo/machine.reg XDG_CONFIG_HOME=$demo/config
export XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

source "$(dirname "$0")/checks.sh"
status=
took=

# The installation as the installer left it: nothing copied yet.
fresh_install() {
  rm -rf "$dest"
  printf '[Info]\nSetupMk=M\n' >"$demo/config/Velmora/Velmora.ini"
  "$fd" rules "$work/control" </dev/null
}

# Starts the program in the background ($pid): `silent` with no display, or `window` on the
# display with Execute pressed.
start() {
  if [[ $1 == silent ]]; then
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --silent >"$work/stdout" 2>&1 &
    pid=$!
    return 0
  fi
  if [[ $1 == nohup ]]; then
    (trap '' HUP && exec env -u DISPLAY "$program" --silent >"$work/stdout" 2>&1) &
    pid=$!
    return 0
  fi
  "$program" >"$work/stdout" 2>&1 &
  pid=$!
  local window
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name '^ Velmora$' |
    head -n 1) || return 1
  [[ $2 == idle ]] && return 0
  # The Execute button: 1275 x 330 twips, its top at 942.5 twips; centred on the window.
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --window "$window" $((WIDTH / 2)) 74 click 1
}

# Waits at most $1 ms for the program to end; sets $status (124: it had not ended).
wait_end() {
  local until=$(($(now_ms) + $1))
  while [[ $(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) != Z && -e /proc/$pid ]]; do
    if (($(now_ms) >= until)); then
      status=124
      return
    fi
    sleep 0.02
  done
  wait "$pid"
  status=$?
  pid=
}

last_logged_exit() { grep '^exit code:' "$XDG_STATE_HOME/velmora/cdcopy.log" | tail -n 1; }
# Whether the log's last entry is that of a run the program ended without.
given_up() { awk '/^== /{ g = 0 } /^given up:/{ g = 1 } END { exit !g }' "$XDG_STATE_HOME/velmora/cdcopy.log"; }
not_given_up() { ! given_up; }
no_temporaries() { [[ -z $(find "$dest" -name '.velmora-partial*' -print -quit) ]]; }

# The next run, unattended, completes the copy.
next_run_completes() {
  "$fd" rules "$work/control" </dev/null
  env -u DISPLAY "$program" --silent >"$work/next" 2>&1
  local code=$?
  check test "$code" = 0
  check diff -r "$work/cd/System" "$dest/System"
  check diff -r "$work/cd/Help/video" "$dest/Help/video"
  check test ! -e "$marker"
  check no_temporaries
  check grep -q '^SetupMk=Null$' "$demo/config/Velmora/Velmora.ini"
}

# mode signal stall-seconds [times]: a signal (sent `times` times, once unless given) while the read
# of a video blocks for stall-seconds.
one_signal() {
  local mode=$1 signal=$2 stall=$3 times=${4:-1} i
  fresh_install
  "$fd" rules "$work/control" "stall read Help/video/lesson2.avi $stall once"
  start "$mode" run || { why+=" [no window]"; report "$mode, SIG$signal"; return; }
  if ! "$fd" wait-stall "$work/control" 30; then
    why+=" [the copy never reached the video]"
    kill -KILL "$pid"
    wait_end 5000
    report "$mode, SIG$signal"
    return
  fi
  local sent
  sent=$(now_ms)
  for ((i = 0; i < times; ++i)); do kill -"$signal" "$pid"; done
  wait_end 5000
  local took=$(($(now_ms) - sent))
  [[ $status == 124 ]] && kill -KILL "$pid" && wait_end 5000 && status=124
  check test "$status" = 5
  check test ! -e "$dest/Help/video/lesson2.avi"
  check test -f "$marker"
  check test "$(last_logged_exit)" = "exit code: 5"
  if ((stall < 4)); then
    # The read came back before the deadline: the run stopped at its next chunk and ended as a
    # run ends, leaving no copy under a temporary name, and logged itself as stopped.
    check no_temporaries
    check not_given_up
    [[ $mode == silent ]] && check grep -q 'コピーを中断しました' "$work/stdout"
  else
    # The program ended without the run, and its log says so.
    check given_up
  fi
  next_run_completes
  report "$mode, SIG$signal ($times) while a read blocks ${stall} s: status $status after $took ms"
}

# mode signal: a second signal while the first one's stop waits for a read that blocks.
two_signals() {
  local mode=$1 signal=$2
  fresh_install
  "$fd" rules "$work/control" "stall read Help/video/lesson2.avi 30 once"
  start "$mode" run || { why+=" [no window]"; report "$mode, SIG$signal twice"; return; }
  check "$fd" wait-stall "$work/control" 30
  kill -"$signal" "$pid"
  sleep 0.5
  local sent
  sent=$(now_ms)
  kill -"$signal" "$pid"
  wait_end 1000
  local took=$(($(now_ms) - sent))
  [[ $status == 124 ]] && kill -KILL "$pid" && wait_end 5000 && status=124
  check test "$status" = $((128 + $(kill -l "$signal")))
  check test -f "$marker"
  next_run_completes
  report "$mode, SIG$signal twice: status $status $took ms after the second"
}

for mode in silent window; do
  for signal in TERM INT; do
    one_signal "$mode" "$signal" 2
    one_signal "$mode" "$signal" 30
  done
done
one_signal silent HUP 2 2
two_signals silent TERM
two_signals window INT

# No run under way: the window ends at once.
fresh_install
if start window idle; then
  sent=$(now_ms)
  kill -TERM "$pid"
  wait_end 2000
  took=$(($(now_ms) - sent))
  check test "$status" = 143
  check test ! -e "$dest"
else
  why+=" [no window]"
fi
report "window without a run, SIGTERM: status $status after $took ms"

# Started as nohup starts it: the hang-up is not the program's to take, and the run completes.
fresh_install
"$fd" rules "$work/control" "stall read Help/video/lesson2.avi 2 once"
start nohup run
if check "$fd" wait-stall "$work/control" 30; then
  kill -HUP "$pid"
  wait_end 30000
  check test "$status" = 0
  check diff -r "$work/cd/Help/video" "$dest/Help/video"
  check test ! -e "$marker"
fi
[[ -n $pid ]] && kill -KILL "$pid" && wait_end 5000
report "silent under nohup, SIGHUP: status $status"

((failed == 0)) || { echo "$failed case(s) failed"; exit 1; }
echo "stop signal test passed"
