// The controller's side of the desktop notifications: texts, the archive
// batch, and clicks that play the announced track.
#include "base/Log.h"
#include "app/ImportPipeline.h"
#include "app/Rivulet_AppDelegate.h"
#include "library/ITunesManager.h"

#include <QThreadPool>
#include <mutex>

namespace {
const QString kTitle = QStringLiteral("Rivulet Found New Music");
const QString kNotificationName = QStringLiteral("addedFile");
const QString kIcon = QStringLiteral("rivulet");
// An archive's notification names at most this many lines of files: a big one
// names its first files and how many more.
constexpr qsizetype kListedLines = 10;

// The click context: the track id, and the library file it named when it was
// handed out, so that a click after an MPD restart never plays another song.
QVariant contextFor(TrackId id)
{
    if (!id)
        return {};
    return QVariantMap{{QStringLiteral("trackId"), *id},
                       {QStringLiteral("file"), ITunesManager::sharedManager()->uriForTrack(*id).value_or(QByteArray())}};
}
}

QString Rivulet_AppDelegate::applicationNameForGrowl()
{
    return QStringLiteral("Rivulet");
}

QVariantMap Rivulet_AppDelegate::registrationDictionaryForGrowl()
{
    return {{QStringLiteral("TicketVersion"), 1},
            {QStringLiteral("AllNotifications"), QStringList{kNotificationName}},
            {QStringLiteral("DefaultNotifications"), QStringList{kNotificationName}}};
}

void Rivulet_AppDelegate::growlNotificationWasClicked(const QVariant &clickContext)
{
    const QVariantMap context = clickContext.toMap();
    const TrackId id = context.contains(QStringLiteral("trackId")) ? TrackId(context.value(QStringLiteral("trackId")).toUInt()) : std::nullopt;
    Log::f("Growl notification clicked for track with ID: %@", id ? QString::number(*id) : QStringLiteral("(null)"));
    // Played off the main thread: MPD may be starting or busy with an
    // import's update, and the interface must answer meanwhile.
    const QByteArray file = context.value(QStringLiteral("file")).toByteArray();
    QThreadPool::globalInstance()->start([id, file] {
        static std::mutex oneAtATime; // clicks play in the order they came
        std::lock_guard lock(oneAtATime);
        ITunesManager *library = ITunesManager::sharedManager();
        library->run();
        library->playTrackWithId(id, "Rivulet", file);
    });
}

void Rivulet_AppDelegate::growlNotificationTimedOut(const QVariant &) {}

void Rivulet_AppDelegate::postNotification(const QString &description, TrackId trackId)
{
    if (m_notifications)
        m_notifications->notifyWithTitle(kTitle, description, kNotificationName, kIcon, 0, false, contextFor(trackId));
}

void ImportPipeline::announce(const QString &text, TrackId trackId)
{
    if (m_host.announce)
        m_host.announce(text, trackId);
}

void ImportPipeline::startGrowlQueue(const QByteArray &archiveName)
{
    m_growlQueue = GrowlQueue{archiveName, {}};
}

void ImportPipeline::activateGrowlQueue()
{
    if (m_growlQueue && !m_growlQueue->entries.isEmpty()) {
        QString text = Log::format("Rivulet added the contents of %@ to %@:", {m_growlQueue->archiveName, kMusicLibraryName});
        text += QLatin1String("\n\n");
        const QList<GrowlEntry> &entries = m_growlQueue->entries;
        const qsizetype listed = entries.size() <= kListedLines ? entries.size() : kListedLines - 1;
        for (qsizetype i = 0; i < listed; ++i)
            text += QString::fromUtf8(entries[i].name) + QLatin1Char('\n');
        if (listed < entries.size())
            text += QStringLiteral("and %1 more\n").arg(entries.size() - listed);
        text += QLatin1String("\nClick here to play.");
        if (Settings::growlNotifications())
            announce(text, m_growlQueue->entries.first().trackId);
    }
    m_growlQueue.reset();
}
