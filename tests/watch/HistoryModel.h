#pragma once
// What the history test expects: every content version of every path, when it began
// and ended, whether it lay where the watcher must find it; checked against the log.
#include "HistoryChild.h"
#include "base/PathContainment.h"
#include "store/File.h"
#include <QHash>
#include <QStringList>
#include <algorithm>
#include <climits>

namespace history {

struct Version {
    QByteArray path, hash;
    qint64 begin = 0, end = LLONG_MAX;
    bool watched = false, nonEmpty = false;
    bool old = false; // there before its folder was first watched: never to be imported
    int movedFrom = -1; // the version it was before its folder was renamed: the same download
    bool movedIn = false; // came with an album folder moved into a watched folder
    QList<qint64> handed = {};
};

class Model {
public:
    explicit Model(bool polling) : m_polling(polling) {}
    QList<QByteArray> roots, excluded; // where music counts
    // How long a version must stay unchanged for the watcher to be sure to find it.
    qint64 mustWindowMs() const
    {
        const DirectoryDiffer::Timings t = timings();
        return qint64((t.settleSeconds + t.latencySeconds + 3 * t.passSeconds) * 1000) + 1200 + (m_polling ? 1200 : 0);
    }

    // A part written into a file that is still being written.
    void notePiece(const QByteArray &path, qint64 t) { m_pieces[path] << t; }
    void touch(const QByteArray &path, qint64 t)
    {
        if (m_current.contains(path))
            m_versions[m_current.take(path)].end = t;
    }
    Version &begin(const QByteArray &path, const QByteArray &content, qint64 t)
    {
        return beginHash(path, QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex(), !content.isEmpty(), t);
    }
    void moveFolder(const QByteArray &from, const QByteArray &to, qint64 t)
    {
        for (const QByteArray &p : currentPaths()) {
            if (!pathIsInside(p, from))
                continue;
            const int source = m_current.value(p);
            const Version v = m_versions[source];
            touch(p, t);
            Version &moved = beginHash(to + p.mid(from.size()), v.hash, v.nonEmpty, t);
            moved.old = v.old;
            moved.movedFrom = source;
        }
    }
    void removeFolder(const QByteArray &folder, qint64 t)
    {
        for (const QByteArray &p : currentPaths())
            if (pathIsInside(p, folder))
                touch(p, t);
    }
    QList<QByteArray> currentPaths() const { return m_current.keys(); }

    void addDowntime(qint64 from, qint64 to) { m_downtimes << qMakePair(from, to); }
    void noteKill(qint64 t) { m_kills << t; }
    // The watcher ended (killed or quit): events it had not yet handled are lost.
    void noteStop(qint64 t) { m_stops << t; }
    void noteDifferRestart(qint64 t) { m_differRestarts << t; }
    void problem(const QString &p) { m_problems << p; }
    void finish(qint64 t)
    {
        for (const QByteArray &p : currentPaths())
            touch(p, t);
    }

    // The store must load after every run of the watcher, every record with its parent.
    void checkStore(const QByteArray &file)
    {
        OpenStore store(QFile::decodeName(file));
        if (!store.ok()) {
            problem(QStringLiteral("the store does not load: %1").arg(store.error.text()));
            return;
        }
        for (ManagedObject *o : store.context->fetchAll(QStringLiteral("Directory")))
            if (auto *d = static_cast<Directory *>(o); d->name() != "root" && !d->superdirectory())
                problem(QStringLiteral("a folder record without parent: %1").arg(QString::fromUtf8(d->name())));
        for (ManagedObject *o : store.context->fetchAll(QStringLiteral("File")))
            if (!static_cast<File *>(o)->directory())
                problem(QStringLiteral("a file record without folder"));
    }

    QStringList check(const QByteArray &logFile)
    {
        const qint64 settleMs = qint64(timings().settleSeconds * 1000);
        for (const QByteArray &line : readBytes(logFile).split('\n')) {
            const QList<QByteArray> w = line.split(' ');
            if (w[0] == "STOREFAIL")
                problem(QStringLiteral("the watcher could not load its store: %1").arg(QString::fromUtf8(QByteArray::fromHex(w.value(1)))));
            else if (w[0] == "OVERLAP")
                problem(QStringLiteral("two hand-overs at once: %1").arg(show(QByteArray::fromHex(w.value(1)))));
            else if (w[0] == "END" && w.value(1).toInt() != 0)
                problem(QStringLiteral("%1 passes ran inside a hand-over").arg(QString::fromUtf8(w[1])));
            if (w[0] != "H" || w.size() < 5)
                continue;
            ++m_handOvers;
            const qint64 t = w[1].toLongLong();
            const QByteArray path = QByteArray::fromHex(w[3]);
            if (w[2] == "nonreg")
                problem(QStringLiteral("a file that is not a regular file was handed over: %1").arg(show(path)));
            if (w[2] != "reg")
                continue; // or gone: removed after it had settled, the import finds nothing
            Version *found = nullptr;
            for (Version &v : m_versions)
                if (v.path == path && v.hash == w[4] && v.begin <= t + 50 && t <= v.end + 50)
                    found = &v;
            if (!found) {
                // Written again while the import read it: a torn read, the new content a version of its own.
                const qint64 readEnd = w.value(5).toLongLong();
                bool changedDuringRead = false;
                for (const Version &v : std::as_const(m_versions))
                    changedDuringRead = changedDuringRead || (v.path == path && v.end >= t - 50 && v.end <= readEnd + 50);
                // Or the writer paused longer than the settle time: a half-written file is rightly taken.
                qint64 lastPiece = -1;
                for (qint64 p : m_pieces.value(path))
                    lastPiece = p <= t ? p : lastPiece;
                if (!changedDuringRead && (lastPiece < 0 || t - lastPiece < settleMs * 9 / 10))
                    problem(QStringLiteral("handed over content that was no finished version (still changing?): %1").arg(show(path)));
                continue;
            }
            if (found->old)
                problem(QStringLiteral("imported music that was there before its folder was watched: %1").arg(show(path)));
            else if (!found->watched)
                problem(QStringLiteral("handed over a file where nothing counts: %1").arg(show(path)));
            // A rename is no change: the content settled from its last write.
            qint64 lastChange = found->begin;
            for (int i = found->movedFrom; i >= 0; i = m_versions[i].movedFrom)
                lastChange = m_versions[i].begin;
            if (t < lastChange + settleMs * 9 / 10)
                problem(QStringLiteral("handed over %1 ms after its last change: %2").arg(t - lastChange).arg(show(path)));
            found->handed << t;
        }
        for (const Version &v : std::as_const(m_versions)) {
            if (v.handed.size() > 1 && !killedSoonAfter(v.handed[0]))
                problem(QStringLiteral("handed over %1 times: %2").arg(v.handed.size()).arg(show(v.path)));
            // One download across the renames of its folder: handed over once, wherever it settled.
            const qint64 before = handOverBeforeItMoved(v);
            if (!v.handed.isEmpty() && before >= 0 && !killedSoonAfter(before))
                problem(QStringLiteral("handed over again after its folder was renamed: %1").arg(show(v.path)));
            if (v.watched && !v.old && v.handed.isEmpty() && mustBeFound(v) && before < 0 && !importedAfterItMoved(v))
                problem(QStringLiteral("never handed over (unchanged for %1 ms): %2").arg(v.end - v.begin).arg(show(v.path)));
        }
        return m_problems;
    }

    // Whether a file that must be handed over has not been yet, were the history to end now.
    bool stillOwed(qint64 now, const QByteArray &logFile) const
    {
        Model probe = *this;
        probe.finish(now);
        const QStringList problems = probe.check(logFile);
        return std::any_of(problems.begin(), problems.end(), [](const QString &p) { return p.startsWith(QLatin1String("never handed over")); });
    }

    QString summary() const
    {
        int must = 0;
        for (const Version &v : m_versions)
            must += v.watched && !v.old && mustBeFound(v) ? 1 : 0;
        return QStringLiteral("%1 content versions (%2 that must be handed over), %3 hand-overs, %4 kills, %5 differ restarts")
            .arg(m_versions.size()).arg(must).arg(m_handOvers).arg(m_kills.size()).arg(m_differRestarts.size());
    }

private:
    static QString show(const QByteArray &path) { return QString::fromLatin1(path.toPercentEncoding("/ ")); }

    Version &beginHash(const QByteArray &path, const QByteArray &hash, bool nonEmpty, qint64 t)
    {
        m_current.insert(path, int(m_versions.size()));
        m_versions << Version{.path = path, .hash = hash, .begin = t, .watched = nonEmpty && counts(path),
                              .nonEmpty = nonEmpty};
        return m_versions.last();
    }

    // The model's own table of what counts, never the program's code: music and archives by
    // extension in lower or upper case, not below unfinished downloads or a trash, at most 3 folders deep.
    static bool namedLikeMusic(const QByteArray &leaf)
    {
        static const QByteArrayList exts = {"mp3", "m4a", "aiff", "zip", "rar", "MP3", "M4A", "AIFF", "ZIP", "RAR"};
        return leaf.lastIndexOf('.') > 0 && exts.contains(leaf.mid(leaf.lastIndexOf('.') + 1));
    }
    static bool unfinishedDownloads(const QByteArray &below)
    {
        for (const QByteArray &part : below.split('/'))
            if (part.endsWith(".download") || part == "Incomplete Downloads" || part == ".Trash"
                || part.startsWith(".Trash-"))
                return true;
        return false;
    }
    bool counts(const QByteArray &path) const
    {
        if (!namedLikeMusic(leafName(path)))
            return false;
        const QByteArray folder = parentPath(path);
        for (const QByteArray &e : excluded)
            if (pathIsInside(folder, e))
                return false;
        for (const QByteArray &r : roots)
            if (pathIsInside(folder, r))
                return !unfinishedDownloads(folder.mid(r.size())) && folder.mid(r.size()).count('/') <= 3;
        return false;
    }

    bool mustBeFound(const Version &v) const
    {
        qint64 window = v.end - v.begin;
        for (const auto &d : m_downtimes)
            window -= qMax<qint64>(0, qMin(d.second, v.end) - qMax(d.first, v.begin));
        for (qint64 r : m_differRestarts)
            window -= r >= v.begin && r <= v.end ? 500 : 0;
        // An album moved in just before the watcher ended, its event unhandled, may look at the
        // next start like a folder that was always there; renames of it since change nothing.
        const Version *origin = &v;
        while (origin->movedFrom >= 0)
            origin = &m_versions[origin->movedFrom];
        const qint64 late = qint64(timings().latencySeconds * 1000) + 1000 + (m_polling ? 1200 : 0);
        for (qint64 s : m_stops)
            if (origin->movedIn && s >= origin->begin && s <= origin->begin + late)
                return false;
        return window >= mustWindowMs();
    }

    // The first hand-over of the download at a place it had before its folder was renamed, or -1.
    qint64 handOverBeforeItMoved(const Version &v) const
    {
        qint64 first = -1;
        for (int i = v.movedFrom; i >= 0; i = m_versions[i].movedFrom)
            if (!m_versions[i].handed.isEmpty())
                first = m_versions[i].handed[0];
        return first;
    }

    bool importedAfterItMoved(const Version &v) const
    {
        const int self = int(&v - m_versions.constData());
        for (const Version &w : m_versions)
            for (int i = w.movedFrom; i >= 0 && !w.handed.isEmpty(); i = m_versions[i].movedFrom)
                if (i == self)
                    return true;
        return false;
    }

    bool killedSoonAfter(qint64 t) const
    {
        return std::any_of(m_kills.begin(), m_kills.end(), [t](qint64 k) { return k >= t && k <= t + 1500; });
    }

    bool m_polling;
    QList<Version> m_versions;
    QHash<QByteArray, int> m_current;
    QHash<QByteArray, QList<qint64>> m_pieces;
    QList<QPair<qint64, qint64>> m_downtimes;
    QList<qint64> m_kills, m_stops, m_differRestarts;
    QStringList m_problems;
    int m_handOvers = 0;
};

} // namespace history
