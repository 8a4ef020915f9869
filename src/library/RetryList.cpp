#include "library/RetryList.h"
#include "base/Log.h"

#include <QFile>
#include <QSaveFile>
#include <sys/stat.h>

namespace {
const QByteArray kHeader = "Rivulet library retries 1";
const char *const kLibrary = "MPD";
}

qint64 RetryList::backOffSeconds(int tries)
{
    static constexpr qint64 kWaits[] = {60, 5 * 60, 30 * 60, 2 * 60 * 60};
    return kWaits[qBound(1, tries, int(std::size(kWaits))) - 1];
}

void RetryList::setFile(const QByteArray &file)
{
    std::lock_guard lock(m_mutex);
    m_file = file;
    m_writable = true;
    m_entries.clear();
    if (!m_file.isEmpty())
        load();
}

// A file that cannot be read is left as it is, never overwritten: the list
// then lives in memory only.
void RetryList::load()
{
    QFile in(QFile::decodeName(m_file));
    if (!in.exists())
        return;
    if (!in.open(QIODevice::ReadOnly)) {
        Log::f("--- The retry list %@ could not be read (%@); it is left as it is", m_file, in.errorString());
        m_writable = false;
        return;
    }
    const QList<QByteArray> lines = in.readAll().split('\n');
    bool fine = lines.value(0) == kHeader;
    for (qsizetype i = 1; fine && i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].split(' ');
        bool triesOk = false, dueOk = false;
        Entry e{QByteArray::fromPercentEncoding(fields.value(2)), fields.value(0).toInt(&triesOk), fields.value(1).toLongLong(&dueOk)};
        fine = fields.size() == 3 && triesOk && dueOk && !e.path.isEmpty();
        if (fine)
            m_entries.append(e);
    }
    if (!fine) {
        Log::f("--- The retry list %@ is damaged; it is left as it is", m_file);
        m_entries.clear();
        m_writable = false;
    }
}

void RetryList::save()
{
    if (m_file.isEmpty() || !m_writable)
        return;
    QByteArray out = kHeader + '\n';
    for (const Entry &e : std::as_const(m_entries))
        out += QByteArray::number(e.tries) + ' ' + QByteArray::number(e.dueAt) + ' ' + e.path.toPercentEncoding() + '\n';
    QSaveFile file(QFile::decodeName(m_file));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
        Log::f("--- Could not save the retry list %@: %@", m_file, file.errorString());
}

qsizetype RetryList::find(const QByteArray &path) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].path == path)
            return i;
    return -1;
}

void RetryList::refused(const QByteArray &path, qint64 now, bool counted)
{
    std::lock_guard lock(m_mutex);
    qsizetype i = find(path);
    if (i < 0) {
        m_entries.append({path, counted ? 1 : 0, 0});
        i = m_entries.size() - 1;
    } else if (!counted && m_entries[i].offered && m_entries[i].tries > 0) {
        --m_entries[i].tries; // the offer met a silent library: not a try
    }
    Entry &e = m_entries[i];
    e.offered = false;
    if (e.tries >= kMaxTries) {
        Log::f("--- %@ did not take %@ in %i tries; it is not offered again", kLibrary, path, e.tries);
        m_entries.removeAt(i);
    } else {
        const qint64 wait = backOffSeconds(qMax(1, e.tries));
        e.dueAt = now + wait;
        Log::f("--- %@ is offered to %@ again in %lld s or when it answers again (try %i of %i)", path, kLibrary, wait,
               e.tries + 1, kMaxTries);
    }
    save();
}

void RetryList::taken(const QByteArray &path)
{
    std::lock_guard lock(m_mutex);
    const qsizetype i = find(path);
    if (i < 0)
        return;
    m_entries.removeAt(i);
    save();
}

QList<QByteArray> RetryList::due(qint64 now, bool answersAgain)
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> offered;
    bool changed = false;
    for (qsizetype i = 0; i < m_entries.size();) {
        Entry &e = m_entries[i];
        if (!answersAgain && e.dueAt > now) {
            ++i;
            continue;
        }
        struct stat st;
        if (::lstat(e.path.constData(), &st) != 0) {
            Log::f("--- %@ is gone; it is not offered to %@ again", e.path, kLibrary);
            m_entries.removeAt(i);
            changed = true;
            continue;
        }
        if (e.tries >= kMaxTries) {
            // Offered as often as it may be without a word back: the last offer was its last try.
            Log::f("--- %@ did not take %@ in %i tries; it is not offered again", kLibrary, e.path, e.tries);
            m_entries.removeAt(i);
            changed = true;
            continue;
        }
        ++e.tries;
        e.offered = true;
        Log::f("Offering %@ to %@ again (try %i of %i)", e.path, kLibrary, e.tries, kMaxTries);
        e.dueAt = now + backOffSeconds(e.tries);
        offered.append(e.path);
        changed = true;
        ++i;
    }
    if (changed)
        save();
    return offered;
}

bool RetryList::isEmpty() const
{
    std::lock_guard lock(m_mutex);
    return m_entries.isEmpty();
}

QList<QByteArray> RetryList::paths() const
{
    std::lock_guard lock(m_mutex);
    QList<QByteArray> list;
    for (const Entry &e : m_entries)
        list.append(e.path);
    return list;
}
