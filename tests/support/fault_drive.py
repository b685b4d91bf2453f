#!/usr/bin/python3
"""Mirror BACKING at MOUNTPOINT through FUSE, making chosen calls stall or fail.

Usage: fault_drive.py BACKING MOUNTPOINT CONTROL_DIR

Tests mount it to make a real drive behave like worn media or a stuck USB
stick, so the copy back-ends (native, and the Windows build under Wine) meet
slow and failing I/O through the ordinary system calls.

CONTROL_DIR/rules holds one rule a line; '#' starts a comment and paths with
spaces take shell quoting.  The drive re-reads the file when it changes.

    stall OP GLOB SECONDS [once]   the call blocks SECONDS, then goes on
    ERROR OP GLOB [once]           the call fails: eio, enospc or any other
                                   errno name (eacces, erofs, enoent, ...)

OP is one of: read write fsync flush create open readdir mkdir rmdir unlink
rename truncate getattr utimens chmod.  GLOB (fnmatch, '*' also crosses '/')
is matched against the path from the drive root, e.g. Help/video/*.avi; the
root itself is '.'; rename matches either name.  All matching rules apply, in
file order, so a stall followed by an error is a slow failure.  'once' fires
for the first matching call after the drive read this version of the rules
file: every change of the file arms all its rules afresh.

While a call stalls CONTROL_DIR/stalling exists, listing "OP PATH" for each
stalled call.  CONTROL_DIR/events.log gets a line per stall start and end and
per injected error; the line is written before 'stalling' changes.

A stall gives up (the call fails with EIO) once the drive is unmounted or told
to exit, or once the stalled process is being killed, so teardown never waits
out a long stall and a stuck test program can still be killed.

Caching: a file that read rules match when it is opened is opened with
direct_io, so every read() the program makes reaches the drive.  Other files
keep the page cache, which libfuse drops at each open (no kernel_cache), so
mmap and exec work as on a disk.  Writes always reach the drive during the
write() call (libfuse 2 has no write-back cache).  Hence: write read rules
before the program opens the file.
"""

import ctypes
import errno
import fnmatch
import itertools
import logging
import os
import re
import shlex
import signal
import stat
import sys
import threading
import time

import fusepy
from fusepy import FUSE, FuseOSError, Operations

OPS = frozenset('read write fsync flush create open readdir mkdir rmdir unlink '
                'rename truncate getattr utimens chmod'.split())
UTIME_NOW = (1 << 30) - 1
UTIME_OMIT = (1 << 30) - 2
SLICE = 0.05          # a stall sleeps in slices this long ...
CHECK_EVERY = 0.25    # ... and looks this often whether it should give up

log = logging.getLogger('fault-drive')


class Rule:
    def __init__(self, number, op, glob, seconds=None, err=None, once=False):
        self.number, self.op, self.glob = number, op, glob
        self.seconds, self.err, self.once = seconds, err, once
        self.fired = False


def parse_rule(number, text):
    """One line of the rules file; None for blank or comment lines."""
    words = shlex.split(text, comments=True)
    if not words:
        return None
    stall = words[0] == 'stall'
    err = None if stall else getattr(errno, words[0].upper(), None)
    if not stall and not (words[0].islower() and isinstance(err, int)):
        raise ValueError('unknown action %r (stall or an errno name)' % words[0])
    want = 4 if stall else 3
    once = len(words) == want + 1 and words[-1] == 'once'
    if once:
        words.pop()
    if len(words) != want:
        raise ValueError('want "stall OP GLOB SECONDS [once]" or "ERROR OP GLOB [once]"')
    if words[1] not in OPS:
        raise ValueError('unknown OP %r' % words[1])
    seconds = None
    if stall:
        try:
            seconds = float(words[3])
        except ValueError:
            seconds = -1
        if not 0 <= seconds < 1e9:
            raise ValueError('bad SECONDS %r' % words[3])
    return Rule(number, words[1], words[2], seconds=seconds, err=err, once=once)


class Faults:
    """The rules, the stalls under way and the control folder's files."""

    def __init__(self, control_dir):
        self.rules_path = os.path.join(control_dir, 'rules')
        self.stalling_path = os.path.join(control_dir, 'stalling')
        self.events_path = os.path.join(control_dir, 'events.log')
        self.lock = threading.Lock()
        self.version = None
        self.rules = []
        self.stalls = {}
        self.tokens = itertools.count()
        try:
            os.unlink(self.stalling_path)   # left by a drive that was killed
        except FileNotFoundError:
            pass

    def current(self):
        # Stat before reading: a change during the read only costs a reload.
        try:
            st = os.stat(self.rules_path)
            version = (st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        except FileNotFoundError:
            version = None
        with self.lock:
            if version != self.version:
                self.version = version
                self.rules = self._load() if version else []
            return self.rules

    def _load(self):
        try:
            with open(self.rules_path, encoding='utf-8', errors='replace') as f:
                lines = f.read().splitlines()
        except OSError as e:
            self.event('rule-error', 'cannot read rules: %s' % e)
            return []
        rules = []
        for number, text in enumerate(lines, 1):
            try:
                rule = parse_rule(number, text)
            except ValueError as e:
                self.event('rule-error', 'line %d: %s: %s' % (number, e, text.strip()))
                continue
            if rule:
                rules.append(rule)
        return rules

    def reads_faulted(self, path):
        return any(r.op == 'read' and fnmatch.fnmatchcase(path, r.glob)
                   for r in self.current())

    def apply(self, op, paths, pid, give_up):
        for rule in self.current():
            if rule.op != op or not any(fnmatch.fnmatchcase(p, rule.glob) for p in paths):
                continue
            if rule.once:
                with self.lock:
                    if rule.fired:
                        continue
                    rule.fired = True
            if rule.err is None:
                self._stall(op, paths[0], rule.seconds, pid, give_up)
            else:
                self.event('error', errno.errorcode[rule.err], op, paths[0], 'pid=%d' % pid)
                raise FuseOSError(rule.err)

    def _stall(self, op, path, seconds, pid, give_up):
        token = next(self.tokens)
        self.event('stall-start', op, path, '%gs' % seconds, 'pid=%d' % pid)
        with self.lock:
            self.stalls[token] = '%s %s' % (op, path)
            self._write_stalling()
        reason = None
        try:
            start = time.monotonic()
            end = start + seconds
            next_check = start + CHECK_EVERY
            while True:
                now = time.monotonic()
                if now >= end:
                    break
                time.sleep(min(end - now, SLICE))
                if time.monotonic() >= next_check:
                    reason = give_up(pid)
                    if reason:
                        break
                    next_check += CHECK_EVERY
        finally:
            took = '%.2fs' % (time.monotonic() - start)
            if reason:
                self.event('stall-abort', op, path, took, reason)
            else:
                self.event('stall-end', op, path, took)
            with self.lock:
                del self.stalls[token]
                self._write_stalling()
        if reason:
            raise FuseOSError(errno.EIO)

    def _write_stalling(self):
        if not self.stalls:
            try:
                os.unlink(self.stalling_path)
            except FileNotFoundError:
                pass
            return
        # Whole-file replace, so a waiting test never sees it half written.
        tmp = self.stalling_path + '.tmp'
        with open(tmp, 'w') as f:
            f.write(''.join(s + '\n' for s in self.stalls.values()))
        os.replace(tmp, self.stalling_path)

    _events_lock = threading.Lock()

    def event(self, *words):
        line = '%.3f %s\n' % (time.time(), ' '.join(str(w) for w in words))
        with self._events_lock:
            try:
                with open(self.events_path, 'a') as f:
                    f.write(line)
            except OSError as e:
                log.warning('cannot write %s: %s', self.events_path, e)


class Handle:
    __slots__ = ('fd', 'path')

    def __init__(self, fd, path):
        self.fd, self.path = fd, path


def unescape_mountinfo(field):
    return re.sub(r'\\([0-7]{3})', lambda m: chr(int(m.group(1), 8)), field)


def being_killed(pid):
    """True if pid has gone, or a fatal signal waits for it (a task blocked in
    a FUSE request shows SIGKILL pending until the request is answered)."""
    try:
        with open('/proc/%d/status' % pid) as f:
            text = f.read()
    except OSError:
        return True
    kill_bit = 1 << (signal.SIGKILL - 1)
    for line in text.splitlines():
        key, _, value = line.partition(':')
        if key == 'State' and value.split()[:1] in (['Z'], ['X']):
            return True
        if key in ('SigPnd', 'ShdPnd') and int(value, 16) & kill_bit:
            return True
    return False


class Drive(Operations):
    use_ns = True
    # fusepy copies these into struct fuse_operations.
    flag_nullpath_ok = 1    # calls on an open file unlinked meanwhile (hard_remove) get no path
    flag_utime_omit_ok = 1  # else libfuse drops a utimensat() that sets only one of the two times

    def __init__(self, root, mountpoint, faults):
        self.root = root
        self.mountpoint = mountpoint
        self.faults = faults
        self.handles = {}
        self.fh_numbers = itertools.count(1)
        self.fuse_ptr = None
        self.exiting = False
        self.mount_seen = False

    # --- helpers -----------------------------------------------------------

    def _real(self, path):
        return os.path.join(self.root, path.lstrip('/'))

    def _fault(self, op, *paths):
        rel = [p.strip('/') or '.' for p in paths if p is not None]
        if rel:
            pid = fusepy.fuse_get_context()[2]
            self.faults.apply(op, rel, pid, self._give_up)

    def _where(self, path, fi):
        return path if path is not None else self.handles[fi.fh].path

    def _give_up(self, pid):
        if self.exiting or (self.fuse_ptr and fusepy._libfuse.fuse_exited(self.fuse_ptr)):
            return 'drive-exiting'
        if not self._mounted():
            return 'unmounted'
        if pid and being_killed(pid):
            return 'process-killed'
        return None

    def _mounted(self):
        try:
            with open('/proc/self/mountinfo') as f:
                for line in f:
                    fields = line.split(' ')
                    if len(fields) > 4 and unescape_mountinfo(fields[4]) == self.mountpoint:
                        self.mount_seen = True
                        return True
        except OSError:
            return True
        # Not listed: only believe it once it has been seen, so an odd
        # mount table can't make every stall give up at once.
        return not self.mount_seen

    def _own(self, real, fd=None):
        """The drive runs as root: give what a caller creates to the caller,
        as a disk would, or a normal user could not set its times or mode."""
        uid, gid, _ = fusepy.fuse_get_context()
        if uid == 0 and gid == 0:
            return
        if os.stat(os.path.dirname(real)).st_mode & stat.S_ISGID:
            gid = -1    # the backing file system already gave it the folder's group
        if fd is not None:
            os.fchown(fd, uid, gid)
        else:
            os.lchown(real, uid, gid)

    def _opened(self, path, fd, fi):
        fh = next(self.fh_numbers)
        self.handles[fh] = Handle(fd, path)
        fi.fh = fh
        # Reads of a file with read rules bypass the page cache: each read()
        # then reaches the drive, so a stall blocks that very call, and an
        # error is not retried by the kernel page by page (which would hide
        # a 'once' error behind a good second read).
        fi.direct_io = 1 if self.faults.reads_faulted(path.strip('/') or '.') else 0
        return 0

    @staticmethod
    def _attrs(st):
        return dict(st_mode=st.st_mode, st_ino=st.st_ino, st_nlink=st.st_nlink,
                    st_uid=st.st_uid, st_gid=st.st_gid, st_size=st.st_size,
                    st_rdev=st.st_rdev, st_blksize=st.st_blksize, st_blocks=st.st_blocks,
                    st_atime=st.st_atime_ns, st_mtime=st.st_mtime_ns, st_ctime=st.st_ctime_ns)

    # --- life cycle --------------------------------------------------------

    def init(self, path):
        self.fuse_ptr = fusepy._libfuse.fuse_get_context().contents.fuse
        self.faults.event('mounted', self.root, 'at', self.mountpoint)

    def destroy(self, path):
        self.exiting = True
        for h in list(self.handles.values()):
            os.close(h.fd)
        self.handles.clear()
        self.faults.event('unmounted', self.mountpoint)

    # --- metadata ----------------------------------------------------------

    def getattr(self, path, fi=None):
        self._fault('getattr', self._where(path, fi) if fi else path)
        if fi:
            return self._attrs(os.fstat(self.handles[fi.fh].fd))
        return self._attrs(os.lstat(self._real(path)))

    def access(self, path, amode):
        # default_permissions has the kernel check the mode bits itself.
        os.lstat(self._real(path))
        return 0

    def readdir(self, path, fh):
        self._fault('readdir', path)
        entries = ['.', '..']
        with os.scandir(self._real(path)) as it:
            for e in it:
                if e.is_symlink():
                    kind = stat.S_IFLNK
                elif e.is_dir(follow_symlinks=False):
                    kind = stat.S_IFDIR
                elif e.is_file(follow_symlinks=False):
                    kind = stat.S_IFREG
                else:
                    kind = 0
                # Inode and type let readers skip a stat per entry, as on a disk.
                entries.append((e.name, {'st_ino': e.inode(), 'st_mode': kind}, 0))
        return entries

    def chmod(self, path, mode):
        self._fault('chmod', path)
        os.chmod(self._real(path), stat.S_IMODE(mode))

    def chown(self, path, uid, gid):
        os.lchown(self._real(path), uid, gid)

    def utimens(self, path, times=None):
        self._fault('utimens', path)
        real = self._real(path)
        if times is None:
            os.utime(real, follow_symlinks=False)
            return 0
        now, old, ns = time.time_ns(), None, []
        for i, t in enumerate(times):
            if t == UTIME_NOW:
                t = now
            elif t == UTIME_OMIT:
                old = old or os.lstat(real)
                t = (old.st_atime_ns, old.st_mtime_ns)[i]
            ns.append(t)
        os.utime(real, ns=tuple(ns), follow_symlinks=False)
        return 0

    def statfs(self, path):
        sv = os.statvfs(self._real(path))
        return {k: getattr(sv, k) for k in (
            'f_bsize', 'f_frsize', 'f_blocks', 'f_bfree', 'f_bavail',
            'f_files', 'f_ffree', 'f_favail', 'f_flag', 'f_namemax')}

    def readlink(self, path):
        return os.readlink(self._real(path))

    # Wine keeps DOS attributes in user.* xattrs, as it would on a disk.
    def getxattr(self, path, name, position=0):
        return os.getxattr(self._real(path), name, follow_symlinks=False)

    def listxattr(self, path):
        return os.listxattr(self._real(path), follow_symlinks=False)

    def setxattr(self, path, name, value, options, position=0):
        os.setxattr(self._real(path), name, value, options, follow_symlinks=False)
        return 0

    def removexattr(self, path, name):
        os.removexattr(self._real(path), name, follow_symlinks=False)
        return 0

    # --- names -------------------------------------------------------------

    def mkdir(self, path, mode):
        self._fault('mkdir', path)
        real = self._real(path)
        os.mkdir(real, mode)
        self._own(real)

    def mknod(self, path, mode, dev):
        real = self._real(path)
        os.mknod(real, mode, dev)
        self._own(real)

    def rmdir(self, path):
        self._fault('rmdir', path)
        os.rmdir(self._real(path))

    def unlink(self, path):
        self._fault('unlink', path)
        os.unlink(self._real(path))

    def rename(self, old, new):
        self._fault('rename', old, new)
        os.rename(self._real(old), self._real(new))

    def link(self, target, source):
        os.link(self._real(source), self._real(target))

    def symlink(self, target, source):
        real = self._real(target)
        os.symlink(source, real)
        self._own(real)

    # --- file contents -----------------------------------------------------

    # O_APPEND is dropped because the kernel already puts appends at the end
    # and pwrite() must land where it says; O_DIRECT would need aligned buffers.
    DROP = os.O_APPEND | os.O_DIRECT

    def open(self, path, fi):
        self._fault('open', path)
        fd = os.open(self._real(path), fi.flags & ~self.DROP)
        return self._opened(path, fd, fi)

    def create(self, path, mode, fi):
        self._fault('create', path)
        real = self._real(path)
        fd = os.open(real, (fi.flags | os.O_CREAT) & ~self.DROP, mode)
        try:
            self._own(real, fd)
        except OSError:
            os.close(fd)
            raise
        return self._opened(path, fd, fi)

    def read(self, path, size, offset, fi):
        h = self.handles[fi.fh]
        self._fault('read', path if path is not None else h.path)
        return os.pread(h.fd, size, offset)

    def write(self, path, data, offset, fi):
        h = self.handles[fi.fh]
        self._fault('write', path if path is not None else h.path)
        return os.pwrite(h.fd, data, offset)

    def truncate(self, path, length, fi=None):
        if fi:
            self._fault('truncate', self._where(path, fi))
            os.ftruncate(self.handles[fi.fh].fd, length)
        else:
            self._fault('truncate', path)
            os.truncate(self._real(path), length)
        return 0

    def flush(self, path, fi):
        self._fault('flush', self._where(path, fi))
        return 0

    def fsync(self, path, datasync, fi):
        h = self.handles[fi.fh]
        self._fault('fsync', path if path is not None else h.path)
        (os.fdatasync if datasync else os.fsync)(h.fd)
        return 0

    def release(self, path, fi):
        h = self.handles.pop(fi.fh, None)
        if h:
            os.close(h.fd)
        return 0


def inside(path, folder):
    return path == folder or path.startswith(folder.rstrip('/') + '/')


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    backing, mountpoint, control = (os.path.realpath(a) for a in argv[1:])
    for what, path in (('BACKING', backing), ('MOUNTPOINT', mountpoint)):
        if not os.path.isdir(path):
            print('fault-drive: %s %s is not a folder' % (what, path), file=sys.stderr)
            return 2
    # The drive would serve its own control files, or loop through itself.
    if inside(control, mountpoint) or inside(backing, mountpoint):
        print('fault-drive: BACKING and CONTROL_DIR must lie outside MOUNTPOINT', file=sys.stderr)
        return 2
    os.makedirs(control, exist_ok=True)
    os.umask(0)     # the kernel has applied the caller's umask already
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr,
                        format='%(asctime)s %(name)s %(levelname)s %(message)s')
    fusepy._libfuse.fuse_exited.argtypes = [ctypes.c_void_p]

    drive = Drive(backing, mountpoint, Faults(control))
    try:
        FUSE(drive, mountpoint, raw_fi=True, foreground=True, nothreads=False,
             # Anyone may use it; the kernel enforces the mode bits, as on a disk.
             allow_other=True, default_permissions=True,
             # Real inode numbers, so hard links and copy loops look right.
             use_ino=True,
             # Unlinking an open file really unlinks it (no .fuse_hidden files
             # that would keep a folder from being removed).
             hard_remove=True,
             # Whole-buffer writes instead of 4 KiB pieces.
             big_writes=True,
             # Tests change BACKING directly; cached sizes or names would lie.
             attr_timeout=0, entry_timeout=0, negative_timeout=0,
             fsname='fault-drive', subtype='fault_drive')
    except RuntimeError as e:
        print('fault-drive: could not mount %s at %s (libfuse said %s)'
              % (backing, mountpoint, e), file=sys.stderr)
        return 3
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
