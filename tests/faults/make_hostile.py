#!/usr/bin/env python3
"""Writes crafted downloads into a folder: make_hostile.py <out folder> <music file>.
Built entry by entry, so they hold what an archiver refuses: dot names, links, fifos, devices, future dates."""
import io, os, sys, tarfile, time, zipfile

out, tone_path = sys.argv[1], sys.argv[2]
tone = open(tone_path, 'rb').read()
HOME = os.environ['HOME']
FUTURE = (2031, 1, 1, 0, 0, 0)
FUTURE_TS = time.mktime(FUTURE + (0, 0, -1))

def music(salt): return tone + salt.encode()

class RawNameInfo(zipfile.ZipInfo):
    """An entry named by raw bytes without the UTF-8 flag, as zips from old Windows systems (CP437, latin-1)."""
    raw = None

    def _encodeFilenameFlags(self):
        return super()._encodeFilenameFlags() if self.raw is None else (self.raw, self.flag_bits & ~0x800)

def zipped(name, *entries):
    """A zip of (name, data[, mode[, raw name]]) entries, all future-dated; written to out/name, or returned for None."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w') as z:
        for entry_name, data, mode, raw in (e + (0o644, None)[len(e) - 2:] for e in entries):
            info = RawNameInfo(raw.decode('cp437') if raw else entry_name, date_time=FUTURE)
            info.raw, info.external_attr, info.create_system = raw, mode << 16, 3
            z.writestr(info, data)
    if name is None:
        return buffer.getvalue()
    open(os.path.join(out.encode(), name.encode()), 'wb').write(buffer.getvalue())

# 1. A zip named "...zip" (a stem only of dots) with dot files and one song: its keep folder must never be the folder above.
zipped('...zip', ('01 dots.mp3', music('dots')), ('.bashrc', b'echo owned-by-archive\n'),
       ('.config/autostart/evil.desktop', b'[Desktop Entry]\nExec=sh -c owned\n'))

# 2. music.zip holds a future-dated "...zip" holding a "..zip": each would climb a level if its keep folder were its stem.
inner = zipped(None, ('02 inner.mp3', music('inner')), ('.bashrc', b'echo owned-by-chain\n'), ('.profile', b'echo owned-by-chain\n'))
middle = zipped(None, ('03 middle.mp3', music('middle')), ('..zip', inner))
zipped('music.zip', ('04 outer.mp3', music('outer')), ('notes.txt', b'liner notes\n'), ('...zip', middle))

# 3. A tar named .rar: future-dated links to the private key named like music, a fifo, a device, a link to /dev/zero.
with tarfile.open(os.path.join(out, 'evil.rar'), mode='w', format=tarfile.GNU_FORMAT) as t:
    for name, kind, link, data in (('album', tarfile.DIRTYPE, '', b''), ('album/05 real.mp3', tarfile.REGTYPE, '', music('real')),
                                   ('album/cover.mp3', tarfile.SYMTYPE, '../../../.ssh/id_test', b''),
                                   ('album/abs.mp3', tarfile.SYMTYPE, HOME + '/.ssh/id_test', b''),
                                   ('album/hard.mp3', tarfile.LNKTYPE, HOME + '/.ssh/id_test', b''),
                                   ('album/pipe.mp3', tarfile.FIFOTYPE, '', b''), ('album/tofifo.mp3', tarfile.SYMTYPE, 'pipe.mp3', b''),
                                   ('album/zero.mp3', tarfile.SYMTYPE, '/dev/zero', b''), ('album/dev.mp3', tarfile.CHRTYPE, '', b'')):
        info = tarfile.TarInfo(name)
        info.type, info.linkname, info.mtime, info.size = kind, link, FUTURE_TS, len(data)
        info.mode = 0o755 if kind == tarfile.DIRTYPE else 0o644
        info.devmajor, info.devminor = (1, 5) if kind == tarfile.CHRTYPE else (0, 0)  # /dev/zero
        t.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)

# 4. The same links in a zip (unzip restores symbolic links).
zipped('links.zip', ('06 real.mp3', music('real6')), ('key.mp3', HOME.encode() + b'/.ssh/id_test', 0o120777),
       ('zero.mp3', b'/dev/zero', 0o120777))

# 5. Names that are not UTF-8: entries in CP437/latin-1 bytes.
zipped('cp437.zip', ('x', music('cafe'), 0o644, b'07 caf\x82.mp3'), ('x', b'caf\x82 notes\n', 0o644, b'caf\x82.txt'),
       ('x', b'latin notes\n', 0o644, b'd\xe9j\xe0.txt'))
