#pragma once
// What an archive declares it unpacks to, as its own table of contents says
// (zipinfo for zip, lsar for rar), the bounds every archive is held to, and
// whether that fits: an archive that would fill the disk is not unpacked.
#include "base/ByteFiles.h"
#include <QByteArray>
#include <optional>

namespace ArchiveSize {
// What an archive's listing declares. bytes is none when the listing tool
// cannot tell (a damaged archive, or a format that does not record sizes):
// the unpacking is then bounded only while it runs.
struct Declared {
    std::optional<quint64> bytes;
    ByteFiles::TreeShape shape; // its entries, folders and depth; bytes unused
    bool listed = false;
};
Declared declared(const QByteArray &archive, const QByteArray &type);
// The bytes of declared().
std::optional<quint64> unpackedSize(const QByteArray &archive, const QByteArray &type);

// The most an archive may hold, whatever room there is: deeper or larger
// trees only cost descriptors, inotify watches and time, and no album needs them.
ByteFiles::TreeShape mostAnArchiveHolds();

// How long a tool may take on an archive of this many bytes: a listing
// gets 10 seconds and one more per 10 MiB, an unpacking 30 and one more per MiB.
qint64 timeLimitMs(quint64 archiveBytes, bool listing);

// Free space where the archive is unpacked, less a margin (256 MiB, or a
// tenth of a smaller file system), and at most the
// limit ($RIVULET_UNPACK_LIMIT bytes, 16 GiB by default).
quint64 room(const QByteArray &scratchParent);
}
