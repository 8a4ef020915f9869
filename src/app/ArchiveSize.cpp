#include "app/ArchiveSize.h"
#include "tasks/CWTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <sys/statvfs.h>

namespace ArchiveSize {

namespace {
constexpr quint64 kDefaultLimit = quint64(16) << 30;
constexpr quint64 kMargin = quint64(256) << 20;
}

std::optional<quint64> unpackedSize(const QByteArray &archive, const QByteArray &type)
{
    // Both listings run like every other tool: bounded, and the watcher's
    // events go on meanwhile. The archive's name is passed as the caller's
    // plain private name, so it is text.
    int status = -1;
    if (type == "zip") {
        const QString out = CWTask::performSynchronousTask(QStringLiteral("/usr/bin/zipinfo"), {QStringLiteral("-t"), QFile::decodeName(archive)},
                                                           std::nullopt, std::nullopt, &status);
        const auto match = QRegularExpression(QStringLiteral("([0-9]+) bytes uncompressed")).match(out);
        if (match.hasMatch())
            return match.captured(1).toULongLong();
        return std::nullopt;
    }
    const QString lsar = QStandardPaths::findExecutable(QStringLiteral("lsar"));
    if (lsar.isEmpty())
        return std::nullopt;
    const QString out = CWTask::performSynchronousTask(lsar, {QStringLiteral("-j"), QFile::decodeName(archive)}, std::nullopt, std::nullopt, &status);
    // The JSON object is all of standard output; anything said on standard error stands outside it.
    const qsizetype from = out.indexOf(QLatin1Char('{')), to = out.lastIndexOf(QLatin1Char('}'));
    if (status != 0 || from < 0 || to < from)
        return std::nullopt;
    const QJsonObject listing = QJsonDocument::fromJson(out.mid(from, to - from + 1).toUtf8()).object();
    if (listing.contains(QStringLiteral("lsarError")) && listing.value(QStringLiteral("lsarError")).toInt() != 0)
        return std::nullopt;
    const QJsonArray entries = listing.value(QStringLiteral("lsarContents")).toArray();
    quint64 total = 0;
    for (const QJsonValue &e : entries) {
        const QJsonObject entry = e.toObject();
        // An entry whose size the format does not tell (a gzip stream) makes
        // the whole size unknown: it is then only checked while unpacking.
        if (!entry.contains(QStringLiteral("XADFileSize")) && !entry.value(QStringLiteral("XADIsDirectory")).toBool())
            return std::nullopt;
        total += quint64(entry.value(QStringLiteral("XADFileSize")).toDouble());
    }
    return total;
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
