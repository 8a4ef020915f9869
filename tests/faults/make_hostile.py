#!/usr/bin/env python3
"""Writes crafted downloads for the hostile-download suite into a folder.

Usage: make_hostile.py <out folder> <music file>
Every archive is built entry by entry, so it can hold what an ordinary
archiver would refuse: names made of dots, links, fifos, devices, dates in
the future, names in old code pages.
"""
import io
import os
import sys
import tarfile
import time
import zipfile

out, tone_path = sys.argv[1], sys.argv[2]
tone = open(tone_path, 'rb').read()
FUTURE = (2031, 1, 1, 0, 0, 0)
FUTURE_TS = time.mktime((2031, 1, 1, 0, 0, 0, 0, 0, -1))


def music(salt):
    return tone + salt.encode()


class RawNameInfo(zipfile.ZipInfo):
    """An entry whose name is written as the given bytes, without the UTF-8
    flag, as zips made on old Windows systems have them (CP437, latin-1)."""
    raw = None

    def _encodeFilenameFlags(self):
        if self.raw is None:
            return super()._encodeFilenameFlags()
        return self.raw, self.flag_bits & ~0x800


def zentry(z, name, data, date=FUTURE, mode=0o644, raw_name=None):
    info = RawNameInfo(raw_name.decode('cp437') if raw_name else name, date_time=date)
    info.raw = raw_name
    info.external_attr = mode << 16
    info.create_system = 3
    info.compress_type = z.compression
    z.writestr(info, data)


def tentry(t, name, kind=tarfile.REGTYPE, data=b'', link='', mtime=FUTURE_TS):
    info = tarfile.TarInfo(name)
    info.type = kind
    info.mtime = mtime
    info.mode = 0o755 if kind == tarfile.DIRTYPE else 0o644
    info.linkname = link
    if kind == tarfile.CHRTYPE:
        info.devmajor, info.devminor = 1, 5  # /dev/zero
    info.size = len(data) if kind == tarfile.REGTYPE else 0
    t.addfile(info, io.BytesIO(data) if kind == tarfile.REGTYPE else None)


def path(name):
    return os.path.join(out.encode(), name if isinstance(name, bytes) else name.encode())


# 1. A zip named "...zip" (its stem is made only of dots) with dot files and one
# song: its keep folder must never be the folder above.
with zipfile.ZipFile(open(path('...zip'), 'wb'), 'w') as z:
    zentry(z, '01 dots.mp3', music('dots'))
    zentry(z, '.bashrc', b'echo owned-by-archive\n')
    zentry(z, '.config/autostart/evil.desktop', b'[Desktop Entry]\nExec=sh -c owned\n')

# 2. The climbing chain: music.zip holds a future-dated "..zip" that holds
# another, each unpacking one level higher if its keep folder were its stem.
inner = io.BytesIO()
with zipfile.ZipFile(inner, 'w') as z:
    zentry(z, '02 inner.mp3', music('inner'))
    zentry(z, '.bashrc', b'echo owned-by-chain\n')
    zentry(z, '.profile', b'echo owned-by-chain\n')
middle = io.BytesIO()
with zipfile.ZipFile(middle, 'w') as z:
    zentry(z, '03 middle.mp3', music('middle'))
    zentry(z, '..zip', inner.getvalue())
with zipfile.ZipFile(open(path('music.zip'), 'wb'), 'w') as z:
    zentry(z, '04 outer.mp3', music('outer'))
    zentry(z, 'notes.txt', b'liner notes\n')
    zentry(z, '...zip', middle.getvalue())

# 3. A tar named .rar (unar unpacks it) with a future-dated link named like
# music to the user's private key, a fifo, a link to the fifo, a device and a
# link to /dev/zero, and a hard link to the key.
with tarfile.open(fileobj=open(path('evil.rar'), 'wb'), mode='w', format=tarfile.GNU_FORMAT) as t:
    tentry(t, 'album', tarfile.DIRTYPE)
    tentry(t, 'album/05 real.mp3', data=music('real'))
    tentry(t, 'album/cover.mp3', tarfile.SYMTYPE, link='../../../.ssh/id_test')
    tentry(t, 'album/abs.mp3', tarfile.SYMTYPE, link=os.environ['HOME'] + '/.ssh/id_test')
    tentry(t, 'album/hard.mp3', tarfile.LNKTYPE, link=os.environ['HOME'] + '/.ssh/id_test')
    tentry(t, 'album/pipe.mp3', tarfile.FIFOTYPE)
    tentry(t, 'album/tofifo.mp3', tarfile.SYMTYPE, link='pipe.mp3')
    tentry(t, 'album/zero.mp3', tarfile.SYMTYPE, link='/dev/zero')
    tentry(t, 'album/dev.mp3', tarfile.CHRTYPE)

# 4. The same links in a zip (unzip restores symbolic links).
with zipfile.ZipFile(open(path('links.zip'), 'wb'), 'w') as z:
    zentry(z, '06 real.mp3', music('real6'))
    zentry(z, 'key.mp3', os.environ['HOME'].encode() + b'/.ssh/id_test', mode=0o120777)
    zentry(z, 'zero.mp3', b'/dev/zero', mode=0o120777)


# 5. Names that are not UTF-8: entries in CP437/latin-1 bytes.
with zipfile.ZipFile(open(path('cp437.zip'), 'wb'), 'w') as z:
    zentry(z, 'x', music('cafe'), raw_name=b'07 caf\x82.mp3')
    zentry(z, 'x', b'caf\x82 notes\n', raw_name=b'caf\x82.txt')
    zentry(z, 'x', b'latin notes\n', raw_name=b'd\xe9j\xe0.txt')
