#!/bin/bash
# Self-test of the fault drive: mounts one over a temp folder and checks that
# its stalls and errors reach real programs (cat, ls, dd, Wine's cmd), that it
# otherwise behaves like a disk, and that teardown never waits out a stall.
# One line per case; exit 77 when FUSE can't be used here, 1 on any failure.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fd="$here/fault-drive.sh"

tmp=$(mktemp -d /tmp/fault-drive-test.XXXXXX) || exit 1
chmod 755 "$tmp"    # 'nobody' has to reach the mount
B=$tmp/backing M=$tmp/mnt C=$tmp/control
mkdir -p "$B" "$M" "$C" && chmod 755 "$B"
wine_prefix=
bg=()

cleanup() {
	local p
	for p in "${bg[@]}"; do kill -9 "$p" 2>/dev/null; done
	[ -n "$wine_prefix" ] && WINEPREFIX=$wine_prefix wineserver -k >/dev/null 2>&1
	"$fd" unmount "$M" "$C" >/dev/null 2>&1
	rm -rf --one-file-system "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

"$fd" mount "$B" "$M" "$C"
case $? in
	0) ;;
	77) echo "skip: FUSE is unavailable on this machine"; exit 77 ;;
	*) echo "FAIL - the drive did not mount"; exit 1 ;;
esac

passed=0 failed=0 skipped=0 why=
report() {
	if [ -z "$why" ]; then echo "ok   - $1"; passed=$((passed + 1))
	else echo "FAIL - $1:$why"; failed=$((failed + 1)); fi
	why=
}
skip() { echo "skip - $1"; skipped=$((skipped + 1)); }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
rules() { "$fd" rules "$C" "$@"; }

# Wait at most $2 s for background job $1 and give its exit status (124 when
# it is still running: a stall the drive failed to end).
wait_job() {
	local end=$(( $(now_ms) + $2 * 1000 ))
	while [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" != Z ] && [ -e "/proc/$1" ]; do
		[ "$(now_ms)" -lt "$end" ] || return 124
		sleep 0.05
	done
	wait "$1"
}

# --- stall read, once -------------------------------------------------------
mkdir -p "$B/Help/video"
head -c 300000 /dev/urandom >"$B/Help/video/intro.avi"
echo readme >"$B/Help/readme.txt"
rules 'stall read Help/video/*.avi 2 once'
t0=$(now_ms)
cat "$M/Help/video/intro.avi" >"$tmp/out" & bg+=($!)
if "$fd" wait-stall "$C" 5; then
	[ "$(cat "$C/stalling")" = "read Help/video/intro.avi" ] || why+=" stalling says '$(cat "$C/stalling")'"
	t1=$(now_ms)
	ls "$M/Help" >/dev/null && [ "$(cat "$M/Help/readme.txt")" = readme ] || why+=" ls/cat failed"
	t2=$(now_ms)
	[ $((t2 - t1)) -le 500 ] || why+=" took $((t2 - t1)) ms"
	report "during a read stall, ls and another file answer in $((t2 - t1)) ms"
else
	why=" no stall"
fi
wait_job "${bg[-1]}" 10 || why+=" cat failed ($?)"
t3=$(now_ms)
cmp -s "$tmp/out" "$B/Help/video/intro.avi" || why+=" wrong data"
[ $((t3 - t0)) -ge 2000 ] || why+=" only $((t3 - t0)) ms"
report "stall read 2 s: cat took $((t3 - t0)) ms and got the file intact"
[ -e "$C/stalling" ] && why+=" still there"
[ "$(grep -c 'stall-end read Help/video/intro.avi' "$C/events.log")" = 1 ] || why+=" events.log lacks the end"
report "'stalling' appeared during the stall and is gone after it"
t0=$(now_ms)
timeout 10 cmp -s "$M/Help/video/intro.avi" "$B/Help/video/intro.avi" || why+=" wrong data"
t1=$(now_ms)
[ $((t1 - t0)) -lt 1000 ] || why+=" took $((t1 - t0)) ms"
report "once: the second read takes $((t1 - t0)) ms"

# --- injected errors --------------------------------------------------------
head -c 5000 /dev/urandom >"$B/bad.bin"
echo good >"$B/good.bin"
rules 'eio read bad.bin once'
cat "$M/bad.bin" >/dev/null 2>"$tmp/err" && why+=" cat succeeded"
grep -q 'Input/output error' "$tmp/err" || why+=" cat said '$(cat "$tmp/err")'"
[ "$(cat "$M/good.bin")" = good ] || why+=" good.bin unreadable"
grep -q 'error EIO read bad.bin' "$C/events.log" || why+=" not in events.log"
timeout 10 cmp -s "$M/bad.bin" "$B/bad.bin" || why+=" second read failed too"
report "eio read once: cat fails with an I/O error, then reads; other files read"

mkdir "$M/out"
rules 'stall write out/*.dat 1 once'
t0=$(now_ms)
dd if=/dev/zero of="$M/out/slow.dat" bs=64k count=4 conv=fsync status=none || why+=" dd failed"
t1=$(now_ms)
[ $((t1 - t0)) -ge 1000 ] || why+=" only $((t1 - t0)) ms"
[ "$(stat -c %s "$B/out/slow.dat")" = 262144 ] || why+=" wrong size"
report "stall write 1 s: dd took $((t1 - t0)) ms and wrote it all"

rules 'eio fsync out/*.dat'
dd if=/dev/zero of="$M/out/plain.dat" bs=64k count=2 status=none || why+=" dd without fsync failed"
dd if=/dev/zero of="$M/out/sync.dat" bs=64k count=2 conv=fsync status=none 2>"$tmp/err" && why+=" dd conv=fsync succeeded"
grep -q 'Input/output error' "$tmp/err" || why+=" dd said '$(cat "$tmp/err")'"
report "eio fsync: dd conv=fsync fails, dd without fsync succeeds"

rules 'enospc write out/full.dat'
dd if=/dev/zero of="$M/out/full.dat" bs=64k count=2 status=none 2>"$tmp/err" && why+=" dd succeeded"
grep -q 'No space left on device' "$tmp/err" || why+=" dd said '$(cat "$tmp/err")'"
report "enospc write: dd fails with 'No space left on device'"

# --- behaves like a disk ----------------------------------------------------
rules </dev/null
printf new >"$M/out/new.txt" && printf old >"$M/out/target.txt"
mv -f "$M/out/new.txt" "$M/out/target.txt" || why+=" mv failed"
[ "$(cat "$M/out/target.txt")" = new ] && [ "$(cat "$B/out/target.txt")" = new ] || why+=" target not replaced"
[ -e "$M/out/new.txt" ] && why+=" source still there"
report "rename replaces an existing file"

touch "$M/out/t"
touch -d '2001-02-03 04:05:06.123456789' "$M/out/t"
[ "$(stat -c %y "$M/out/t")" = "$(stat -c %y "$B/out/t")" ] || why+=" mount and backing differ"
[[ "$(stat -c %y "$M/out/t")" == "2001-02-03 04:05:06.123456789 "* ]] || why+=" mtime $(stat -c %y "$M/out/t")"
touch -m -d '2003-04-05 06:07:08.5' "$M/out/t"
[[ "$(stat -c %y "$B/out/t")" == "2003-04-05 06:07:08.500000000 "* ]] || why+=" mtime alone not set"
[[ "$(stat -c %x "$B/out/t")" == "2001-02-03 04:05:06.123456789 "* ]] || why+=" atime changed to $(stat -c %x "$B/out/t")"
report "utimens keeps nanoseconds; setting mtime alone leaves atime"

if command -v runuser >/dev/null && id nobody >/dev/null 2>&1; then
	mkdir "$M/ro" "$M/rw" && chmod 0555 "$M/ro" && chmod 0777 "$M/rw"
	runuser -u nobody -- sh -c "echo x >'$M/ro/f'" 2>"$tmp/err" && why+=" write into 0555 succeeded"
	grep -q 'Permission denied' "$tmp/err" || why+=" said '$(cat "$tmp/err")'"
	runuser -u nobody -- sh -c "umask 002; echo x >'$M/rw/f'" || why+=" write into 0777 failed"
	[ "$(stat -c %U:%a "$B/rw/f" 2>/dev/null)" = nobody:664 ] || why+=" new file is $(stat -c %U:%a "$B/rw/f")"
	runuser -u nobody -- touch -d '2001-01-01' "$M/rw/f" || why+=" owner can't set its times"
	report "as nobody: EACCES in a 0555 folder; in a 0777 one, files are nobody's own"
else
	skip "as nobody: runuser or user nobody unavailable"
fi

# --- Wine -------------------------------------------------------------------
# The wine wrapper runs the 32-bit loader when installed; a kernel that can't
# run 32-bit programs still runs wine64.
wine_bin='' wine_arch=''
if command -v wine >/dev/null; then
	if WINEDEBUG=-all timeout 20 wine --version >/dev/null 2>&1; then
		wine_bin=wine wine_arch=win32
	elif WINEDEBUG=-all timeout 20 /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
		wine_bin=/usr/lib/wine/wine64 wine_arch=win64
		export WINELOADER=$wine_bin
	fi
fi
if [ -n "$wine_bin" ]; then
	wine_prefix=$tmp/wine
	export WINEPREFIX=$wine_prefix WINEARCH=$wine_arch WINEDEBUG=-all
	if timeout 60 "$wine_bin" wineboot -i >"$tmp/wineboot.log" 2>&1 && wineserver -w; then
		ln -s "$M" "$WINEPREFIX/dosdevices/s:"
		printf 'hello from the drive\r\n' >"$B/wine.txt"
		rules 'stall read wine.txt 2 once'
		t0=$(now_ms)
		out=$(timeout 30 "$wine_bin" cmd /c type 's:\wine.txt' 2>"$tmp/err")
		t1=$(now_ms)
		[[ "$out" == "hello from the drive"* ]] || why+=" type gave '$out' $(head -c 300 "$tmp/err")"
		[ $((t1 - t0)) -ge 2000 ] || why+=" only $((t1 - t0)) ms"
		grep -q 'stall-end read wine.txt' "$C/events.log" || why+=" the read never stalled"
	else
		why=" wineboot failed: $(tail -n 3 "$tmp/wineboot.log")"
	fi
	report "wine ($wine_arch) cmd /c type s:\\wine.txt reads through a 2 s stall in $((t1 - t0)) ms"
	wineserver -k >/dev/null 2>&1
else
	skip "wine: not installed or can't run here"
fi

# --- a stall never outlives its program or the mount ------------------------
head -c 1000000 /dev/urandom >"$B/stuck.bin"
rules 'stall read stuck.bin 600'
cat "$M/stuck.bin" >/dev/null 2>&1 & bg+=($!)
"$fd" wait-stall "$C" 5 || why+=" no stall"
t0=$(now_ms)
exec 3>&2 2>/dev/null   # bash's "Killed" notice
kill -9 "${bg[-1]}"
wait_job "${bg[-1]}" 5
[ $? = 124 ] && why+=" cat still stuck"
t1=$(now_ms)
exec 2>&3 3>&-
report "a program killed in a 600 s stall ends after $((t1 - t0)) ms"

cat "$M/stuck.bin" >/dev/null 2>&1 & bg+=($!)
"$fd" wait-stall "$C" 5 || why+=" no stall"
t0=$(now_ms)
"$fd" unmount "$M" "$C" || why+=" unmount failed"
t1=$(now_ms)
[ $((t1 - t0)) -lt 5000 ] || why+=" took $((t1 - t0)) ms"
wait_job "${bg[-1]}" 5
case $? in 0) why+=" the stalled cat succeeded" ;; 124) why+=" cat still stuck" ;; esac
mountpoint -q "$M" && why+=" still mounted"
report "unmount during a 600 s stall took $((t1 - t0)) ms"

echo "fault_drive_test: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
