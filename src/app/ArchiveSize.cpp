#include "app/ArchiveSize.h"
#include "tasks/CWTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace ArchiveSize {

namespace {
constexpr quint64 kDefaultLimit = quint64(16) << 30;
constexpr quint64 kMargin = quint64(256) << 20;
}

namespace {
// The shape of a listing's names (folders end in '/'; a folder may also be
// implied by the names below it).
ByteFiles::TreeShape shapeOf(const QStringList &names)
{
    ByteFiles::TreeShape shape;
    QSet<QString> folders;
    for (QString name : names) {
        while (name.startsWith(QLatin1String("./")))
            name.remove(0, 2);
        const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        const bool folder = name.endsWith(QLatin1Char('/'));
        shape.depth = qMax(shape.depth, int(parts.size()));
        for (qsizetype i = 1; i <= parts.size() - (folder ? 0 : 1); ++i)
            folders.insert(parts.mid(0, i).join(QLatin1Char('/')));
        shape.entries += folder ? 0 : 1;
    }
    shape.folders = folders.size();
    shape.entries += shape.folders;
    return shape;
}

QString listingOf(const QString &tool, const QStringList &args, quint64 archiveBytes, int *status)
{
    CWTask::Bounds bounds;
    bounds.timeLimitMs = timeLimitMs(archiveBytes, true);
    return CWTask::performSynchronousTask(tool, args, bounds, status);
}

quint64 fileSize(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 ? quint64(st.st_size) : 0;
}
}

Declared declared(const QByteArray &archive, const QByteArray &type)
{
    // The listings run like every other tool: bounded, and the watcher's
    // events go on meanwhile. The archive's name is passed as the caller's
    // plain private name, so it is text.
    Declared result;
    const quint64 archiveBytes = fileSize(archive);
    int status = -1;
    if (type == "zip") {
        const QString names = listingOf(QStringLiteral("/usr/bin/zipinfo"), {QStringLiteral("-1"), QFile::decodeName(archive)}, archiveBytes, &status);
        if (status != 0)
            return result;
        result.listed = true;
        result.shape = shapeOf(names.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
        const QString out = listingOf(QStringLiteral("/usr/bin/zipinfo"), {QStringLiteral("-t"), QFile::decodeName(archive)}, archiveBytes, &status);
        const auto match = QRegularExpression(QStringLiteral("([0-9]+) bytes uncompressed")).match(out);
        if (match.hasMatch())
            result.bytes = match.captured(1).toULongLong();
        return result;
    }
    const QString lsar = QStandardPaths::findExecutable(QStringLiteral("lsar"));
    if (lsar.isEmpty())
        return result;
    const QString out = listingOf(lsar, {QStringLiteral("-j"), QFile::decodeName(archive)}, archiveBytes, &status);
    // The JSON object is all of standard output; anything said on standard error stands outside it.
    const qsizetype from = out.indexOf(QLatin1Char('{')), to = out.lastIndexOf(QLatin1Char('}'));
    if (status != 0 || from < 0 || to < from)
        return result;
    const QJsonObject listing = QJsonDocument::fromJson(out.mid(from, to - from + 1).toUtf8()).object();
    if (listing.contains(QStringLiteral("lsarError")) && listing.value(QStringLiteral("lsarError")).toInt() != 0)
        return result;
    const QJsonArray entries = listing.value(QStringLiteral("lsarContents")).toArray();
    quint64 total = 0;
    bool sized = true;
    QStringList names;
    for (const QJsonValue &e : entries) {
        const QJsonObject entry = e.toObject();
        const bool folder = entry.value(QStringLiteral("XADIsDirectory")).toBool();
        names << entry.value(QStringLiteral("XADFileName")).toString() + (folder ? QStringLiteral("/") : QString());
        // An entry whose size the format does not tell (a gzip stream) makes
        // the whole size unknown: it is then only checked while unpacking.
        if (!entry.contains(QStringLiteral("XADFileSize")) && !folder)
            sized = false;
        total += quint64(entry.value(QStringLiteral("XADFileSize")).toDouble());
    }
    result.listed = true;
    result.shape = shapeOf(names);
    if (sized)
        result.bytes = total;
    return result;
}

std::optional<quint64> unpackedSize(const QByteArray &archive, const QByteArray &type)
{
    return declared(archive, type).bytes;
}

ByteFiles::TreeShape mostAnArchiveHolds()
{
    ByteFiles::TreeShape most;
    most.bytes = std::numeric_limits<quint64>::max();
    most.entries = 10000;
    most.folders = 1000;
    most.depth = 32;
    return most;
}

qint64 timeLimitMs(quint64 archiveBytes, bool listing)
{
    const quint64 mib = archiveBytes >> 20;
    return listing ? 10000 + qint64(mib / 10) * 1000 : 30000 + qint64(mib) * 1000;
}

quint64 room(const QByteArray &scratchParent)
{
    quint64 limit = kDefaultLimit;
    bool ok = false;
    const quint64 configured = qEnvironmentVariable("RIVULET_UNPACK_LIMIT").toULongLong(&ok);
    if (ok)
        limit = configured;
    struct statvfs fs;
    if (::statvfs(scratchParent.constData(), &fs) == 0) {
        // The margin left free: 256 MiB, or a tenth of a small file system.
        const quint64 free = quint64(fs.f_bavail) * fs.f_frsize;
        const quint64 margin = qMin(kMargin, quint64(fs.f_blocks) * fs.f_frsize / 10);
        limit = qMin(limit, free > margin ? free - margin : 0);
    }
    return limit;
}

} // namespace ArchiveSize
