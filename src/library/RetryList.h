#pragma once
// Files the music library did not take, to be offered again: when the
// library answers again after it did not, or after a back-off that grows
// with each try, at most kMaxTries times. Kept in a small file of its own in
// the data folder (written whole by rename), so that a restart forgets
// nothing. Safe from any thread.
//
// A try counts only when the library answered and refused: a file that
// failed while the library was silent keeps its count, so a long outage
// never uses up its tries. An offer the caller never reports back on still
// counts, so no file is offered more than kMaxTries times.
#include <QByteArray>
#include <QList>
#include <mutex>

class RetryList {
public:
    static constexpr int kMaxTries = 5;
    // Seconds to wait after the n-th refusal (1-based).
    static qint64 backOffSeconds(int tries);

    // Loads the list kept at file; an empty file name keeps it in memory only.
    void setFile(const QByteArray &file);
    // A file the library did not take (again). counted: the library
    // answered and refused it; else it was silent and the try is not spent.
    void refused(const QByteArray &path, qint64 now, bool counted = true);
    // A file the library took, or that is no longer to be offered.
    void taken(const QByteArray &path);
    // The files to offer now: those whose back-off has passed, or every one
    // when the library answers again. Each is offered once per call: it is
    // not named again until its next back-off has passed.
    QList<QByteArray> due(qint64 now, bool answersAgain);
    bool isEmpty() const;
    QList<QByteArray> paths() const;

private:
    struct Entry {
        QByteArray path;
        int tries = 0;
        qint64 dueAt = 0;
        bool offered = false; // named by due() and not reported on since
    };
    void load();
    void save();
    qsizetype find(const QByteArray &path) const;

    mutable std::mutex m_mutex;
    QByteArray m_file;
    bool m_writable = true;
    QList<Entry> m_entries;
};
