#include "app/ArchiveSize.h"
#include "tasks/CWTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
    // The JSON listing is read raw: names in it may be any text.
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(lsar, {QStringLiteral("-j"), QFile::decodeName(archive)});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return std::nullopt;
    const QJsonArray entries = QJsonDocument::fromJson(p.readAllStandardOutput()).object().value(QStringLiteral("lsarContents")).toArray();
    quint64 total = 0;
    for (const QJsonValue &e : entries)
        total += quint64(e.toObject().value(QStringLiteral("XADFileSize")).toDouble());
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
        const quint64 free = quint64(fs.f_bavail) * fs.f_frsize;
        limit = qMin(limit, free > kMargin ? free - kMargin : 0);
    }
    return limit;
}

} // namespace ArchiveSize
