#pragma once
// One file-system event: a folder whose entries changed.
#include "base/Date.h"
#include <QByteArray>
#include <QString>

// Event flags.
constexpr quint32 kFSEventStreamEventFlagMustScanSubDirs = 0x1;
constexpr quint32 kFSEventStreamEventFlagHistoryDone = 0x10;
constexpr quint32 kFSEventStreamEventFlagRootChanged = 0x20;
// The folder itself just appeared (made, or moved in from outside the watched trees).
constexpr quint32 kFSEventStreamEventFlagFolderAppeared = 0x40;
// Start from now rather than from a stored id.
constexpr quint64 kFSEventStreamEventIdSinceNow = ~quint64(0);

class SCEvent {
public:
    SCEvent() = default;
    SCEvent(quint64 eventId, Date eventDate, QByteArray eventPath, quint32 eventFlag, QByteArray renamedFrom = {})
        : m_eventId(eventId), m_eventDate(eventDate), m_eventPath(std::move(eventPath)), m_eventFlag(eventFlag),
          m_renamedFrom(std::move(renamedFrom)) {}
    static SCEvent eventWithEventId(quint64 id, Date date, const QByteArray &path, quint32 flag) { return SCEvent(id, date, path, flag); }

    quint64 eventId() const { return m_eventId; }
    Date eventDate() const { return m_eventDate; }
    QByteArray eventPath() const { return m_eventPath; }
    quint32 eventFlag() const { return m_eventFlag; }
    // The folder's path before it was renamed inside the watched trees, if it was.
    QByteArray renamedFrom() const { return m_renamedFrom; }
    QString description() const
    {
        return QStringLiteral("<SCEvent { eventId = %1, eventPath = %2, eventFlag = %3 } >")
            .arg(m_eventId).arg(QString::fromUtf8(m_eventPath)).arg(m_eventFlag);
    }

private:
    quint64 m_eventId = 0;
    Date m_eventDate{};
    QByteArray m_eventPath;
    quint32 m_eventFlag = 0;
    QByteArray m_renamedFrom;
};

class SCEvents;
class SCEventListenerProtocol {
public:
    virtual ~SCEventListenerProtocol() = default;
    virtual void pathWatcherEventOccurred(SCEvents *pathWatcher, const SCEvent &event) = 0;
    // After the last event of a batch delivered together.
    virtual void pathWatcherBatchEnded(SCEvents *) {}
};
