#!/usr/bin/env bash
# The real Linux program as the administrator of a room of PCs runs it: `--silent` from a shell
# without a display (as over ssh or from cron: a bare environment, DISPLAY and WAYLAND_DISPLAY
# unset), its exit codes and its one line on standard output, its log, and the in-progress record
# that any account's next run completes. The installer's records are the demo's stand-ins.
# Usage: silent_run_test.sh <program> <make-demo-cd.sh> <fault-drive.sh> <group>
#   exit-codes      0 1 2 3 4, --help, --version (exit 3 needs FUSE)
#   log             where the log goes, its entries, rotation, an unwritable log folder
#                   (needs root, for two accounts)
#   machine-record  a run cut off by one account is completed by another; a destination where
#                   the record cannot be written (needs root for the accounts, and FUSE)
# Exits 77 (skipped) when a part could not run here, after running every other part.
set -euo pipefail
program=$(realpath "$1")
make_demo=$2
fault_drive=$3
group=$4

readonly account_a=velmora-e2e-a account_b=velmora-e2e-b shared_group=velmora-e2e
work=$(mktemp -d /tmp/velmora-silent.XXXXXX)
chmod 755 "$work"  # the test accounts read the CD and the records in it
mounted=()  # "mount point:control folder" of each fault drive
background=
skipped=()
cleanup() {
  [[ -z $background ]] || kill -KILL "$background" 2>/dev/null || true
  local drive
  for drive in "${mounted[@]}"; do
    [[ -n $drive ]] || continue
    "$fault_drive" unmount "${drive%%:*}" "${drive#*:}" >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL [$group]: $*" >&2; exit 1; }
skip_part() { echo "SKIP [$group]: $*" >&2; skipped+=("$*"); }

demo=$("$make_demo" "$work/demo")
cd_dir=$demo/cd
# A CD's files are read-only, and their copies arrive so.
cd_read_only() { find "$cd_dir" -type f -exec chmod a-w {} +; }
cd_read_only
# The files a run copies from the demo CD: not setup.exe, not the other maker's, not hidden ones.
copied_files=$(find "$cd_dir/System" "$cd_dir/PCMaster" "$cd_dir/M" "$cd_dir/Help" -type f \
  ! -name '.*' | wc -l)

readonly completed='　インストールＣＤからファイルのコピーが終了しました。'
readonly already=' 　既にインストールＣＤからコピー済みです。　'
readonly access_denied='アクセスが拒否されました。'
failure_line() {  # failure_line <files not copied, full width> <first path> <reason>
  printf ' 　ファイル%s個をコピーできませんでした。（最初：%s　%s）もう一度「実 行」を押して下さい。　' "$1" "$2" "$3"
}
not_writable_line() {  # not_writable_line <folder> <reason>
  printf ' 　コピー先のフォルダに書き込めません。（%s　%s）　' "$1" "$2"
}

# The machine's record of the installation (VELMORA_MACHINE_REG): SetupDir and SystemDir, each
# left out when empty. records <file> <SetupDir> <SystemDir>
records() {
  {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n'
    [[ -z $2 ]] || printf '"SetupDir"="%s"\n' "$2"
    [[ -z $3 ]] || printf '"SystemDir"="%s"\n' "$3"
  } >"$1"
  chmod 644 "$1"
}

# One run, as cron starts it: a bare environment. After it $rc, $ms (wall time), and the output
# in $work/out and $work/err.
#   run [--as ACCOUNT] [VAR=value...] -- [argument...]
# As root, HOME is $work/home-root and XDG_CONFIG_HOME the demo's; as an account, its own HOME
# with its own settings.
run() {
  local as=
  if [[ $1 == --as ]]; then as=$2; shift 2; fi
  local environment=(PATH=/usr/bin:/bin SHELL=/bin/sh LANG=C.UTF-8)
  if [[ -n $as ]]; then
    environment+=(HOME="$(account_home "$as")" LOGNAME="$as" USER="$as")
  else
    environment+=(HOME="$work/home-root" LOGNAME=root XDG_CONFIG_HOME="$demo/config")
  fi
  while [[ $1 != -- ]]; do environment+=("$1"); shift; done
  shift
  local start command=(env -i "${environment[@]}" timeout -s KILL 30 "$program" "$@")
  [[ -z $as ]] || command=(setpriv --reuid="$as" --regid="$as" --init-groups -- "${command[@]}")
  start=$(date +%s%N)
  rc=0
  (umask 002 && cd / && "${command[@]}") >"$work/out" 2>"$work/err" || rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))
}
mkdir -p "$work/home-root"
# The installer's maker mark in root's settings, which a completed run resets to "Null".
maker_mark() { printf '[Info]\nSetupMk=%s\n' "$1" >"$demo/config/Velmora/Velmora.ini"; }

# The run's exit code, its one line on standard output (exactly), nothing on standard error.
expect() {  # expect <what> <exit code> <line>
  [[ $rc == "$2" ]] || fail "$1: exit code $rc, not $2; stdout: $(cat "$work/out"); stderr: $(head -c 2000 "$work/err")"
  printf '%s\n' "$3" | cmp -s - "$work/out" ||
    fail "$1: stdout is not the one line '$3' but: $(od -c "$work/out" | head -n 20)"
  [[ ! -s $work/err ]] || fail "$1: stderr is not empty: $(head -c 2000 "$work/err")"
}

# The copied tree, whole, and nothing of a run under way left in it.
expect_tree() {  # expect_tree <what> <destination root>
  local what=$1 dest=$2 f
  diff -r "$cd_dir/System" "$dest/System" >/dev/null || fail "$what: System differs from the CD"
  for f in "$cd_dir"/PCMaster/* "$cd_dir"/M/基本回路/* "$cd_dir"/M/組込回路/*; do
    cmp -s "$f" "$dest/Folder_1/${f##*/}" || fail "$what: ${f#"$cd_dir"/} not in Folder_1"
  done
  for f in "$cd_dir"/M/解説回路/*; do
    cmp -s "$f" "$dest/Folder_2/${f##*/}" || fail "$what: ${f#"$cd_dir"/} not in Folder_2"
  done
  for f in "$cd_dir"/Help/index.htm "$cd_dir"/Help/image/* "$cd_dir"/Help/video/*; do
    cmp -s "$f" "$dest/Help/${f#"$cd_dir"/Help/}" || fail "$what: ${f#"$cd_dir"/} not copied"
  done
  [[ -d $dest/BackUp ]] || fail "$what: BackUp missing"
  [[ ! -e $dest/.velmora-cdcopy-under-way ]] || fail "$what: the in-progress record is still there"
  [[ -z $(find "$dest" -name '.velmora-partial.*') ]] ||
    fail "$what: temporary copies left: $(find "$dest" -name '.velmora-partial.*' | head -n 3)"
}

# A folder mirrored at <mount point> by a fault drive told what to do by <control>/rules, so that
# chosen calls fail or stall. False (with the part skipped) where FUSE cannot be used.
mount_drive() {  # mount_drive <backing> <mount point> <control> <what needs it>
  mkdir -p "$2"
  local status=0
  "$fault_drive" mount "$1" "$2" "$3" || status=$?
  if ((status == 77)); then
    skip_part "$4 (no FUSE here)"
    return 1
  fi
  ((status == 0)) || fail "the fault drive did not mount at $2"
  mounted+=("$2:$3")
}
unmount_drive() {  # unmount_drive <mount point> <control>
  "$fault_drive" unmount "$1" "$2" || fail "the fault drive at $1 did not unmount"
  mounted=("${mounted[@]/"$1:$2"/}")
}
# The CD on a fault drive, at $work/cdrom, told what to do by $work/drive/rules.
mount_cd() { mount_drive "$cd_dir" "$work/cdrom" "$work/drive" "$1"; }
unmount_cd() { unmount_drive "$work/cdrom" "$work/drive"; }

# Two real accounts with their own homes, in a group that shares the destination as a training
# room's PCs share C:\Tarnwell. False (with the part skipped) when not root.
accounts_ready() {  # accounts_ready <what needs them>
  if [[ $(id -u) != 0 ]]; then
    skip_part "$1 (not root: cannot run as other accounts)"
    return 1
  fi
  getent group "$shared_group" >/dev/null || groupadd "$shared_group"
  local account
  for account in "$account_a" "$account_b"; do
    id "$account" >/dev/null 2>&1 || useradd -m -s /bin/sh -G "$shared_group" "$account"
    id -nG "$account" | tr ' ' '\n' | grep -qx "$shared_group" ||
      usermod -a -G "$shared_group" "$account"
    # Each starts without Velmora's settings and without a log.
    rm -rf "$(account_home "$account")/.config/Velmora" "$(account_home "$account")/.local/state"
  done
}
account_home() { getent passwd "$1" | cut -d: -f6; }
shared_folder() {  # shared_folder <path>: made by root, written by the group
  mkdir -p "$1"
  chgrp "$shared_group" "$1"
  chmod 2775 "$1"
}

# ---------------------------------------------------------------------------------------------
exit_codes() {
  local install=$work/install reg=$work/machine.reg
  mkdir -p "$install"
  records "$reg" "$cd_dir/" "$install/Velmora/System"

  # 0: copied. The completion text, one line, UTF-8.
  run VELMORA_MACHINE_REG="$reg" -- --silent
  expect "a first run" 0 "$completed"
  iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null || fail "stdout is not UTF-8"
  expect_tree "a first run" "$install/Velmora"
  grep -qx 'SetupMk=Null' "$demo/config/Velmora/Velmora.ini" || fail "SetupMk was not reset"

  # 1: copied before.
  run VELMORA_MACHINE_REG="$reg" -- --silent
  expect "a second run" 1 "$already"

  # 2: no CD in the drive (an empty mount point; no mount point at all), at once, with no window:
  # also where a display is named that cannot be reached, which any window would need.
  mkdir -p "$work/media/cdrom"
  local setup_dir display
  for setup_dir in "$work/media/cdrom/" "$work/media/none/"; do
    for display in "" DISPLAY=:87; do
      records "$work/nocd.reg" "$setup_dir" "$work/nocd/Velmora/System"
      run VELMORA_MACHINE_REG="$work/nocd.reg" $display -- --silent
      expect "no CD at $setup_dir ${display:-(no display)}" 2 \
        ' ／ ドライブにインストールＣＤをセットして下さい。　'
      ((ms < 2000)) || fail "no CD at $setup_dir: the run took $ms ms, not at once"
      [[ ! -e $work/nocd ]] || fail "no CD at $setup_dir: the destination was made"
    done
  done

  # 2: nothing recorded.
  records "$work/nosetup.reg" "" "$install/Velmora/System"
  run VELMORA_MACHINE_REG="$work/nosetup.reg" -- --silent
  expect "no SetupDir recorded" 2 ' 　インストールＣＤの挿入ドライブ名が不明です。　'
  records "$work/nosystem.reg" "$cd_dir/" ""
  run VELMORA_MACHINE_REG="$work/nosystem.reg" -- --silent
  expect "no SystemDir recorded" 2 ' 　コピー先のパスが不明です。　'
  run VELMORA_MACHINE_REG="$work/no-such-file.reg" -- --silent
  [[ $rc == 2 ]] || fail "no machine record at all: exit code $rc, not 2"

  # 2: a destination where the record cannot be written (a folder in its place): nothing copied.
  local blocked=$work/blocked/Velmora
  mkdir -p "$blocked/.velmora-cdcopy-under-way"
  records "$work/blocked.reg" "$cd_dir/" "$blocked/System"
  run VELMORA_MACHINE_REG="$work/blocked.reg" -- --silent
  expect "a folder in the record's place" 2 "$(not_writable_line "$blocked" "Is a directory")"
  [[ $(ls -A "$blocked") == .velmora-cdcopy-under-way ]] ||
    fail "a folder in the record's place: the run left $(ls -A "$blocked")"

  # 4: usage errors. A usage line on stderr, nothing on stdout, nothing else: no copy, no log.
  records "$work/fresh.reg" "$cd_dir/" "$work/fresh/Velmora/System"
  local arguments
  for arguments in "--bogus" "--silent --bogus" "--silent --log" "/silent"; do
    # shellcheck disable=SC2086
    run VELMORA_MACHINE_REG="$work/fresh.reg" XDG_STATE_HOME="$work/state-usage" -- $arguments
    [[ $rc == 4 ]] || fail "'$arguments': exit code $rc, not 4"
    [[ ! -s $work/out ]] || fail "'$arguments': stdout is not empty: $(cat "$work/out")"
    grep -q '^usage: velmora-cdcopy ' "$work/err" || fail "'$arguments': no usage line on stderr"
    grep -q "^velmora-cdcopy: .*${arguments##* }" "$work/err" ||
      fail "'$arguments': stderr does not name the problem: $(head -n 1 "$work/err")"
    [[ ! -e $work/fresh && ! -e $work/state-usage ]] || fail "'$arguments': something was done"
  done

  # --help and --version.
  run -- --help
  [[ $rc == 0 ]] && grep -q '^usage: velmora-cdcopy ' "$work/out" && [[ ! -s $work/err ]] ||
    fail "--help: exit code $rc; stdout $(head -n 1 "$work/out")"
  run -- --version
  [[ $rc == 0 ]] && grep -qx 'velmora-cdcopy [0-9]*\.[0-9]*\.[0-9]*' "$work/out" &&
    [[ $(wc -l <"$work/out") == 1 && ! -s $work/err ]] ||
    fail "--version: exit code $rc; stdout $(cat "$work/out")"

  # 3: two CD files that cannot be read, then the next run completes the copy.
  if mount_cd "exit codes 3 and 5"; then
    local worn=$work/worn/Velmora
    mkdir -p "${worn%/*}"
    records "$work/worn.reg" "$work/cdrom/" "$worn/System"
    "$fault_drive" rules "$work/drive" 'eio read Help/image/figure1.png' 'eio read System/system05.dat'
    maker_mark M  # the first run reset it
    run VELMORA_MACHINE_REG="$work/worn.reg" -- --silent
    expect "a run with unreadable CD files" 3 \
      "$(failure_line ２ "$worn/System/system05.dat" "デバイスの読み取りまたは書き込みでエラーが発生しました。")"
    [[ -f $worn/.velmora-cdcopy-under-way ]] || fail "a run with failures removed its record"
    "$fault_drive" rules "$work/drive" </dev/null
    run VELMORA_MACHINE_REG="$work/worn.reg" -- --silent
    expect "the run after failures" 0 "$completed"
    expect_tree "the run after failures" "$worn"

    # 5: stopped by SIGTERM (a session's end, or the tool giving up) while a read is held: the
    # run stops at its next chunk, says so, and leaves its record for the next run.
    local stopped=$work/stopped/Velmora
    mkdir -p "${stopped%/*}"
    records "$work/stopped.reg" "$work/cdrom/" "$stopped/System"
    maker_mark M
    "$fault_drive" rules "$work/drive" 'stall read Help/video/lesson1.avi 2 once'
    env -i PATH=/usr/bin:/bin HOME="$work/home-root" XDG_CONFIG_HOME="$demo/config" \
      VELMORA_MACHINE_REG="$work/stopped.reg" "$program" --silent >"$work/out" 2>"$work/err" &
    background=$!
    "$fault_drive" wait-stall "$work/drive" 20 || fail "the run never read the stalled video"
    kill -TERM "$background"
    rc=0
    wait "$background" || rc=$?
    background=
    expect "a run stopped by SIGTERM" 5 ' 　コピーを中断しました。　'
    [[ -f $stopped/.velmora-cdcopy-under-way ]] || fail "the stopped run removed its record"
    [[ ! -e $stopped/Help/video/lesson1.avi ]] || fail "the stopped run named a copy it did not finish"
    run VELMORA_MACHINE_REG="$work/stopped.reg" -- --silent
    expect "the run after one stopped" 0 "$completed"
    expect_tree "the run after one stopped" "$stopped"
    unmount_cd
  fi
}

# ---------------------------------------------------------------------------------------------
# The entry's start as epoch seconds, checked against the local ISO 8601 form and the zone.
entry_start() {  # entry_start <log> <entry number from 1> <TZ>
  local header stamp
  header=$(grep '^== ' "$1" | sed -n "${2}p")
  stamp=$(sed -n 's/^== \([^ ]*\) velmora-cdcopy [0-9.]*$/\1/p' <<<"$header")
  [[ $stamp =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}$ ]] ||
    fail "$1: entry $2 does not start with a local ISO 8601 time: '$header'"
  [[ ${stamp:19} == "$(TZ=$3 date -d "@$(date -d "$stamp" +%s)" +%:z)" ]] ||
    fail "$1: '$stamp' does not carry the offset of $3"
  [[ ${stamp:0:19} == "$(TZ=$3 date -d "$stamp" +%Y-%m-%dT%H:%M:%S)" ]] ||
    fail "$1: '$stamp' is not the local time in $3"
  date -d "$stamp" +%s
}

entries() { grep -c '^== ' "$1" 2>/dev/null || true; }

log_checks() {
  local install=$work/install reg=$work/machine.reg log
  mkdir -p "$install"
  records "$reg" "$cd_dir/" "$install/Velmora/System"

  # Where it goes: $XDG_STATE_HOME/velmora/cdcopy.log, by default ~/.local/state/...; --log FILE
  # instead of either (its folder made when missing).
  run VELMORA_MACHINE_REG="$reg" XDG_STATE_HOME="$work/state" -- --silent
  expect "a first run" 0 "$completed"
  [[ $(entries "$work/state/velmora/cdcopy.log") == 1 ]] || fail "no entry in \$XDG_STATE_HOME/velmora/cdcopy.log"
  run VELMORA_MACHINE_REG="$reg" -- --silent
  expect "a run with XDG_STATE_HOME unset" 1 "$already"
  [[ $(entries "$work/home-root/.local/state/velmora/cdcopy.log") == 1 ]] ||
    fail "no entry in ~/.local/state/velmora/cdcopy.log"
  run VELMORA_MACHINE_REG="$reg" XDG_STATE_HOME="$work/state" -- --silent --log "$work/logs/run.log"
  expect "a run with --log" 1 "$already"
  [[ $(entries "$work/logs/run.log") == 1 ]] || fail "no entry in the --log file"
  [[ $(entries "$work/state/velmora/cdcopy.log") == 1 ]] || fail "--log wrote to the default log too"
  grep -qx "result: $already" "$work/logs/run.log" && grep -qx 'exit code: 1' "$work/logs/run.log" ||
    fail "the --log entry lacks its result: $(cat "$work/logs/run.log")"

  # Rotation: a log past 1 MiB becomes cdcopy.1.log, replacing an older one, before the entry;
  # one of exactly 1 MiB is not past it.
  local size
  for size in 1048576 1048577; do
    log=$work/rotation-$size/cdcopy.log
    mkdir -p "${log%/*}"
    { head -c $((size - 1)) /dev/zero | tr '\0' x && echo; } >"$log"
    cp "$log" "$work/before"
    echo "an older rotated log" >"${log%.log}.1.log"
    run VELMORA_MACHINE_REG="$reg" -- --silent --log "$log"
    expect "a run at $size bytes of log" 1 "$already"
    if ((size > 1048576)); then
      cmp -s "$work/before" "${log%.log}.1.log" || fail "a log of $size bytes did not become cdcopy.1.log"
      [[ $(entries "$log") == 1 && $(head -c 3 "$log") == '== ' ]] ||
        fail "after rotation cdcopy.log does not hold the new entry alone"
    else
      [[ $(cat "${log%.log}.1.log") == "an older rotated log" ]] || fail "a log of $size bytes was rotated"
      cmp -s -n "$size" "$work/before" "$log" && [[ $(entries "$log") == 1 ]] ||
        fail "a log of $size bytes did not get the entry appended"
    fi
  done

  # The start in local ISO 8601, in the zone the machine is set to.
  local zone before after started
  for zone in Asia/Tokyo UTC America/St_Johns Asia/Kolkata; do
    log=$work/zones/${zone//\//-}.log
    before=$(date +%s)
    run VELMORA_MACHINE_REG="$reg" TZ="$zone" -- --silent --log "$log"
    after=$(date +%s)
    expect "a run in $zone" 1 "$already"
    started=$(entry_start "$log" 1 "$zone")
    ((before <= started && started <= after)) ||
      fail "$zone: the entry's start $started is not the run's ($before..$after)"
  done

  accounts_ready "a run with failures, and an unwritable log folder" || return 0

  # Two failures: a normal account, with two destination folders read-only. The log names both,
  # in order, with their reasons, then the counts, the result, the exit code and the time taken.
  local shared=$work/shared dest=$work/shared/Velmora home_a
  home_a=$(account_home "$account_a")
  shared_folder "$shared"
  shared_folder "$dest"
  shared_folder "$dest/Help"
  shared_folder "$dest/Help/image"
  shared_folder "$dest/Help/video"
  chmod 555 "$dest/Help/image" "$dest/Help/video"
  records "$work/shared.reg" "$cd_dir/" "$dest/System"
  local failed
  failed=$(failure_line ２ "$dest/Help/image/figure1.png" "$access_denied")
  before=$(date +%s)
  run --as "$account_a" VELMORA_MACHINE_REG="$work/shared.reg" TZ=Asia/Tokyo -- --silent
  after=$(date +%s)
  expect "a run with two read-only folders" 3 "$failed"
  log=$home_a/.local/state/velmora/cdcopy.log
  [[ $(stat -c %U "$log" 2>/dev/null) == "$account_a" ]] || fail "the account's log is not in its home"
  started=$(entry_start "$log" 1 Asia/Tokyo)
  ((before <= started && started <= after)) || fail "the entry's start is not the run's"
  # Its lines after the heading, without the version flags; the time taken checked apart.
  local tab=$'\t' took
  diff <(sed -e '1,2d' -e '/^took: /d' "$log") - <<EOF || fail "the entry of a run with two failures differs (above)"
source: $cd_dir
destination: $dest
completes an earlier run: no
failed: $dest/Help/image/figure1.png${tab}$access_denied
failed: $dest/Help/video/lesson1.avi${tab}$access_denied
files counted $copied_files, not copied 2; folders not made 0; CD folders not read 0; copies on the disk yes
result: $failed
exit code: 3
EOF
  took=$(sed -n 's/^took: \([0-9]*\.[0-9]\{3\}\) s$/\1/p' "$log")
  [[ -n $took ]] && ((10#$(tr -d . <<<"$took") <= (after - before + 1) * 1000)) ||
    fail "the time taken is missing or longer than the run: $(grep '^took' "$log")"
  cp "$log" "$work/first-entry.log"

  # A state folder the account cannot write: the same run, the same exit code and line, no
  # pointer to a log, and no log.
  rm -rf "$home_a/.local/state"
  mkdir -p "$home_a/.local/state"
  chmod 555 "$home_a/.local/state"
  run --as "$account_a" VELMORA_MACHINE_REG="$work/shared.reg" -- --silent
  expect "the same run with an unwritable log folder" 3 "$failed"
  chmod 2775 "$dest/Help/image" "$dest/Help/video"
  run --as "$account_a" VELMORA_MACHINE_REG="$work/shared.reg" -- --silent
  expect "the run that completes it, with an unwritable log folder" 0 "$completed"
  expect_tree "the run that completes it" "$dest"
  [[ -z $(ls -A "$home_a/.local/state") ]] || fail "a log was written where it could not be"
  rm -rf "$home_a/.local/state"
}

# ---------------------------------------------------------------------------------------------
machine_record() {
  # A run cut off while it puts its record on the disk (the destination on a drive whose flush of
  # the record stalls): the next run completes the copy and leaves nothing of the record's
  # writing behind.
  mkdir -p "$work/disk"
  if mount_drive "$work/disk" "$work/hdd" "$work/disk-drive" "a run cut off while writing its record"; then
    records "$work/hdd.reg" "$cd_dir/" "$work/hdd/Velmora/System"
    maker_mark M
    "$fault_drive" rules "$work/disk-drive" 'stall fsync Velmora/.velmora-partial.*.record 60 once'
    env -i PATH=/usr/bin:/bin HOME="$work/home-root" XDG_CONFIG_HOME="$demo/config" \
      VELMORA_MACHINE_REG="$work/hdd.reg" "$program" --silent >/dev/null 2>&1 &
    background=$!
    "$fault_drive" wait-stall "$work/disk-drive" 20 || fail "the run never flushed its record"
    kill -KILL "$background"
    wait "$background" 2>/dev/null || true
    background=
    [[ -n $(find "$work/hdd/Velmora" -name '.velmora-partial.*') ]] ||
      fail "the run cut off while writing its record left nothing of it (was it cut off there?)"
    "$fault_drive" rules "$work/disk-drive" </dev/null
    run VELMORA_MACHINE_REG="$work/hdd.reg" -- --silent
    expect "the run after one cut off while writing its record" 0 "$completed"
    expect_tree "the run after one cut off while writing its record" "$work/hdd/Velmora"
    unmount_drive "$work/hdd" "$work/disk-drive"
  fi

  accounts_ready "the machine-wide record" || return 0
  local home_a home_b
  home_a=$(account_home "$account_a")
  home_b=$(account_home "$account_b")

  # A destination the account cannot write: the root there but not the account's, or missing
  # under a folder that is not the account's. Reported at once; nothing copied.
  local locked=$work/locked dest
  mkdir -p "$locked/there/Velmora"
  chmod 755 "$locked" "$locked/there" "$locked/there/Velmora"
  for dest in "$locked/there/Velmora" "$locked/missing/Velmora"; do
    [[ $dest == */missing/* ]] && mkdir -p "${dest%/*}"
    records "$work/locked.reg" "$cd_dir/" "$dest/System"
    run --as "$account_a" VELMORA_MACHINE_REG="$work/locked.reg" -- --silent
    expect "a destination $account_a cannot write ($dest)" 2 "$(not_writable_line "$dest" "$access_denied")"
    [[ ! -e $dest/System && -z $(ls -A "$dest" 2>/dev/null) ]] ||
      fail "a destination $account_a cannot write: something was made in $dest"
  done

  # A run cut off midway (killed while a read of a large file is held), then a run by another
  # account, with its own HOME and settings, completes the tree: the record is the machine's.
  # The System folder holds enough files that the first of them are named (put on the disk in
  # one batch) before the run is cut off.
  mount_cd "a run cut off, completed by another account" || return 0
  "$make_demo" "$work/demo-video" 6 >/dev/null  # three videos of 2 MiB
  cp "$work/demo-video/cd/Help/video/"lesson[234].avi "$cd_dir/Help/video/"
  # One more than a batch holds, as the back-end counts it.
  local i batch
  batch=$(sed -n 's/.*kBatchFiles = \([0-9]*\);.*/\1/p' \
    "$(dirname "$0")/../../platform/posix/posix_file_system.h")
  [[ -n $batch ]] || fail "cannot tell how many copies a batch holds"
  for i in $(seq -w 1 $((batch + 6))); do echo "bulk $i" >"$cd_dir/System/bulk$i.dat"; done
  cd_read_only
  local shared=$work/shared
  dest=$shared/Velmora
  shared_folder "$shared"
  records "$work/shared.reg" "$work/cdrom/" "$dest/System"
  "$fault_drive" rules "$work/drive" 'stall read Help/video/lesson3.avi 60 once'
  (umask 002 && exec setpriv --reuid="$account_a" --regid="$account_a" --init-groups -- \
    env -i PATH=/usr/bin:/bin HOME="$home_a" LOGNAME="$account_a" \
    VELMORA_MACHINE_REG="$work/shared.reg" "$program" --silent) >"$work/out" 2>"$work/err" &
  background=$!
  "$fault_drive" wait-stall "$work/drive" 30 || fail "the run never read the stalled video"
  kill -KILL "$background"
  wait "$background" 2>/dev/null || true
  background=
  [[ -f $dest/.velmora-cdcopy-under-way ]] || fail "the cut-off run left no in-progress record"
  [[ -n $(find "$dest" -name '.velmora-partial.*') ]] ||
    fail "the cut-off run left no temporary copies (was it cut off midway?)"
  [[ -n $(find "$dest/System" -name 'bulk*.dat' -user "$account_a" ! -perm /222) ]] ||
    fail "the cut-off run named none of its read-only copies before it was cut off"
  "$fault_drive" rules "$work/drive" </dev/null

  run --as "$account_b" VELMORA_MACHINE_REG="$work/shared.reg" -- --silent
  expect "$account_b's run after $account_a's was cut off" 0 "$completed"
  expect_tree "$account_b's run after $account_a's was cut off" "$dest"
  grep -qx 'SetupMk=Null' "$home_b/.config/Velmora/Velmora.ini" ||
    fail "SetupMk is not Null in $account_b's settings"
  if grep -qsx 'SetupMk=Null' "$home_a/.config/Velmora/Velmora.ini"; then
    fail "the cut-off run of $account_a reset its SetupMk"
  fi
  grep -qx 'completes an earlier run: yes' "$home_b/.local/state/velmora/cdcopy.log" ||
    fail "$account_b's log does not say the run completed an earlier one"
  unmount_cd
}

case $group in
  exit-codes) exit_codes ;;
  log) log_checks ;;
  machine-record) machine_record ;;
  *) fail "unknown group $group" ;;
esac
if ((${#skipped[@]} > 0)); then
  echo "[$group] passed what could run; skipped: ${skipped[*]}"
  exit 77
fi
echo "[$group] passed"
