#pragma once
// How many bytes an archive unpacks to, as its own table of contents says
// (zipinfo for zip, lsar for rar), and whether that fits: an archive that
// would fill the disk is not unpacked.
#include <QByteArray>
#include <optional>

namespace ArchiveSize {
// None when the listing tool cannot tell (a damaged archive, or a format
// that does not record sizes): the unpacking is then bounded while it runs.
std::optional<quint64> unpackedSize(const QByteArray &archive, const QByteArray &type);
// Free space where the archive is unpacked, less a margin (256 MiB, or a
// tenth of a smaller file system), and at most the
// limit ($RIVULET_UNPACK_LIMIT bytes, 16 GiB by default).
quint64 room(const QByteArray &scratchParent);
}
