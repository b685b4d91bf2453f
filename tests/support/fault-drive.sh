#!/bin/bash
# Test scripts' handle on the fault drive (fault_drive.py): a FUSE mirror of a
# folder whose reads, writes, syncs ... stall or fail as CONTROL_DIR/rules says.
#
#   fault-drive.sh mount BACKING MOUNTPOINT CONTROL_DIR
#       start the drive in the background (log CONTROL_DIR/drive.log, pid
#       CONTROL_DIR/pid) and wait until it is mounted; exit 77 when FUSE
#       can't be used on this machine, so callers can skip
#   fault-drive.sh unmount MOUNTPOINT CONTROL_DIR
#       unmount (lazily if busy) and wait for the drive to end
#   fault-drive.sh wait-stall CONTROL_DIR TIMEOUT_SECONDS
#       wait until some call on the drive is stalled (exit 1 on timeout)
#   fault-drive.sh rules CONTROL_DIR [RULE...]
#       replace the rules with the arguments, one a line (stdin if none);
#       the file is swapped whole, so the drive never reads half of it
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
python=${FAULT_DRIVE_PYTHON:-/usr/bin/python3}
me=fault-drive

die() { echo "$me: $*" >&2; exit 1; }

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Seconds (may be fractional) to milliseconds.
to_ms() { awk -v s="$1" 'BEGIN { if (s !~ /^[0-9]*\.?[0-9]+$/) exit 1; printf "%d", s * 1000 }'; }

# Listed in the mount table, also when the drive died and left a dead mount
# (which 'mountpoint' can't stat).
listed() {
	awk -v mp="$1" '{ gsub(/\\040/, " ", $5) } $5 == mp { found = 1 } END { exit !found }' /proc/self/mountinfo
}

# The drive's pid from CONTROL_DIR/pid, if that process is still a live drive.
drive_pid() {
	local pid state
	pid=$(cat "$1/pid" 2>/dev/null) || return 1
	[[ $pid =~ ^[0-9]+$ ]] || return 1
	tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q fault_drive.py || return 1
	state=$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) || return 1
	[ "$state" != Z ] || return 1   # ended, not yet reaped by whoever adopted it
	echo "$pid"
}

fuse_unusable_reason() {
	[ -e /dev/fuse ] || { echo "no /dev/fuse"; return; }
	( exec 3<>/dev/fuse ) 2>/dev/null || { echo "/dev/fuse can't be opened"; return; }
	command -v fusermount3 >/dev/null || command -v fusermount >/dev/null || [ "$(id -u)" = 0 ] ||
		{ echo "no fusermount and not root"; return; }
	"$python" -c 'import fusepy' 2>/dev/null || { echo "$python can't import fusepy (python3-fusepy)"; return; }
}

cmd_mount() {
	[ $# = 3 ] || die "usage: mount BACKING MOUNTPOINT CONTROL_DIR"
	local backing mp control reason pid deadline log_start
	backing=$(realpath -e -- "$1") && [ -d "$backing" ] || die "backing folder $1 not found"
	mp=$(realpath -e -- "$2") && [ -d "$mp" ] || die "mount point $2 not found"
	mkdir -p -- "$3" && control=$(realpath -e -- "$3") || die "can't make control folder $3"
	listed "$mp" && die "$mp is mounted already"

	reason=$(fuse_unusable_reason)
	if [ -n "$reason" ]; then
		echo "$me: FUSE is unavailable on this machine: $reason" >&2
		exit 77
	fi

	# Only this start's part of the log tells why it failed.
	log_start=$(( $(stat -c %s "$control/drive.log" 2>/dev/null || echo 0) + 1 ))
	# No TTY and no stdin: test runners may have neither.
	"$python" "$here/fault_drive.py" "$backing" "$mp" "$control" \
		</dev/null >>"$control/drive.log" 2>&1 &
	pid=$!
	echo "$pid" >"$control/pid"

	deadline=$(( $(now_ms) + 10000 ))
	while [ "$(now_ms)" -lt "$deadline" ]; do
		mountpoint -q -- "$mp" && listed "$mp" && exit 0
		kill -0 "$pid" 2>/dev/null || break
		sleep 0.05
	done

	kill "$pid" 2>/dev/null
	listed "$mp" && umount -l -- "$mp" 2>/dev/null
	rm -f -- "$control/pid"
	if tail -c "+$log_start" "$control/drive.log" |
		grep -qiE 'not permitted|permission denied|fuse device|/dev/fuse'; then
		echo "$me: FUSE is unavailable on this machine (mount refused):" >&2
		tail -c "+$log_start" "$control/drive.log" | tail -n 5 >&2
		exit 77
	fi
	echo "$me: could not mount $backing at $mp; $control/drive.log says:" >&2
	tail -c "+$log_start" "$control/drive.log" | tail -n 10 >&2
	exit 1
}

cmd_unmount() {
	[ $# = 2 ] || die "usage: unmount MOUNTPOINT CONTROL_DIR"
	local mp control pid deadline
	mp=$(realpath -m -- "$1")
	control=$2
	pid=$(drive_pid "$control")

	if listed "$mp"; then
		# A program blocked in a stalled call keeps the mount busy: detach it
		# lazily then; the drive sees it gone and ends the stall.
		fusermount3 -u -- "$mp" 2>/dev/null || fusermount3 -u -z -- "$mp" 2>/dev/null ||
			umount -l -- "$mp" 2>/dev/null || echo "$me: can't unmount $mp" >&2
	fi

	if [ -n "$pid" ]; then
		deadline=$(( $(now_ms) + 10000 ))
		while drive_pid "$control" >/dev/null && [ "$(now_ms)" -lt "$deadline" ]; do
			sleep 0.05
		done
		if drive_pid "$control" >/dev/null; then
			echo "$me: drive $pid did not end after the unmount; killing it" >&2
			kill -TERM "$pid" 2>/dev/null; sleep 1
			drive_pid "$control" >/dev/null && kill -KILL "$pid" 2>/dev/null
			sleep 0.2
		fi
	fi
	# A killed drive leaves a dead mount behind.
	listed "$mp" && umount -l -- "$mp" 2>/dev/null
	rm -f -- "$control/pid"
	! listed "$mp" && ! drive_pid "$control" >/dev/null
}

cmd_wait_stall() {
	[ $# = 2 ] || die "usage: wait-stall CONTROL_DIR TIMEOUT_SECONDS"
	local ms deadline
	ms=$(to_ms "$2") || die "bad timeout $2"
	deadline=$(( $(now_ms) + ms ))
	until [ -e "$1/stalling" ]; do
		if [ "$(now_ms)" -ge "$deadline" ]; then
			echo "$me: no call stalled within $2 s" >&2
			exit 1
		fi
		sleep 0.02
	done
}

cmd_rules() {
	[ $# -ge 1 ] || die "usage: rules CONTROL_DIR [RULE...]"
	local control=$1 tmp
	shift
	tmp="$control/.rules.$$"
	if [ $# -gt 0 ]; then
		printf '%s\n' "$@" >"$tmp"
	else
		cat >"$tmp"
	fi || die "can't write $tmp"
	mv -f -- "$tmp" "$control/rules"
}

case "${1:-}" in
	mount) shift; cmd_mount "$@" ;;
	unmount) shift; cmd_unmount "$@" ;;
	wait-stall) shift; cmd_wait_stall "$@" ;;
	rules) shift; cmd_rules "$@" ;;
	*) sed -n '2,16s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
