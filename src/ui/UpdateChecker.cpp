#include "ui/UpdateChecker.h"
#include "base/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QVersionNumber>

#ifndef RIVULET_UPDATE_FEED_URL
#define RIVULET_UPDATE_FEED_URL ""
#endif

namespace {
constexpr int kTransferTimeoutMs = 15000;
}

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent) {}

QMessageBox *UpdateChecker::window() const
{
    return m_window;
}

QUrl UpdateChecker::feedUrl()
{
    const QByteArray env = qgetenv("RIVULET_UPDATE_FEED");
    return QUrl(QString::fromUtf8(env.isEmpty() ? QByteArray(RIVULET_UPDATE_FEED_URL) : env));
}

namespace {
// The package whose file list names the program, if any.
QString packageOf(const QStringList &paths, const QString &packageDatabase)
{
    const QDir database(packageDatabase);
    for (const QString &list : database.entryList({QStringLiteral("rivulet*.list")}, QDir::Files)) {
        QFile file(database.filePath(list));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (paths.contains(QFile::decodeName(line)))
                return list.section(QLatin1Char('.'), 0, 0).section(QLatin1Char(':'), 0, 0);
    }
    return {};
}

// The CMake build folder the program lies in, if any.
QString buildFolderOf(const QString &program)
{
    for (QDir dir = QFileInfo(program).absoluteDir();; ) {
        if (dir.exists(QStringLiteral("CMakeCache.txt")))
            return dir.path();
        if (!dir.cdUp())
            return {};
    }
}
}

QString UpdateChecker::installedText(const QString &currentVersion, const QString &programPath, const QString &packageDatabase)
{
    QStringList paths{programPath};
    if (const QString canonical = QFileInfo(programPath).canonicalFilePath(); !canonical.isEmpty())
        paths << canonical;
    if (const QString package = packageOf(paths, packageDatabase); !package.isEmpty())
        return tr("This is Rivulet %1, installed from the package “%2”: your system's software updates bring new versions.")
            .arg(currentVersion, package);
    if (const QString build = buildFolderOf(paths.last()); !build.isEmpty())
        return tr("This is Rivulet %1, built from source in %2: new versions come with newer sources, built again "
                  "(scripts/run.sh builds and starts it).")
            .arg(currentVersion, build);
    return tr("This is Rivulet %1 at %2, installed by no package: new versions come from where this copy came from.")
        .arg(currentVersion, programPath);
}

UpdateChecker::Result UpdateChecker::result(const QByteArray &feed, const QString &error, const QString &currentVersion)
{
    if (!error.isEmpty())
        return {tr("Could not check for updates: %1").arg(error), {}};
    const QJsonObject release = QJsonDocument::fromJson(feed).object();
    const QVersionNumber latest = QVersionNumber::fromString(release.value(QStringLiteral("version")).toString());
    if (latest.isNull())
        return {tr("Could not check for updates: the release feed could not be read."), {}};
    if (latest <= QVersionNumber::fromString(currentVersion))
        return {tr("Rivulet %1 is the newest version.").arg(currentVersion), {}};
    const QString text = tr("Rivulet %1 is available (you have %2).").arg(latest.toString(), currentVersion);
    // Whatever else the feed names (another scheme, a broken address) is not offered.
    const QUrl link(release.value(QStringLiteral("url")).toString());
    if (!link.isValid() || link.scheme() != QLatin1String("https") || link.host().isEmpty())
        return {text + QLatin1Char(' ') + tr("The release feed gives no https address to get it from."), {}};
    return {text, link};
}

QString UpdateChecker::resultText(const QByteArray &feed, const QString &error, const QString &currentVersion)
{
    const Result r = result(feed, error, currentVersion);
    return r.link.isEmpty() ? r.text : r.text + QLatin1Char('\n') + r.link.toString(QUrl::FullyEncoded);
}

void UpdateChecker::checkForUpdates()
{
    const QUrl feed = feedUrl();
    if (feed.isEmpty()) {
        // No feed: nothing is fetched, the package manager brings updates.
        show({installedText(QStringLiteral(RIVULET_VERSION), QCoreApplication::applicationFilePath()), {}});
        return;
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(feed);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QString error = reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
        show(result(reply->readAll(), error, QStringLiteral(RIVULET_VERSION)));
    });
}

void UpdateChecker::show(const Result &result)
{
    const QString text = result.link.isEmpty() ? result.text : result.text + QLatin1Char('\n') + result.link.toString(QUrl::FullyEncoded);
    Log::f("Update check: %@", text);
    if (m_window)
        m_window->close();
    auto *box = new QMessageBox(QMessageBox::Information, tr("Check for Updates"), result.text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!result.link.isEmpty()) {
        const QString address = result.link.toString(QUrl::FullyEncoded).toHtmlEscaped();
        box->setTextFormat(Qt::RichText);
        box->setText(result.text.toHtmlEscaped() + QStringLiteral("<br><a href=\"%1\">%1</a>").arg(address));
        // A click on the link opens it in the browser.
        box->setTextInteractionFlags(Qt::TextBrowserInteraction);
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            label->setOpenExternalLinks(true);
    } else {
        box->setTextFormat(Qt::PlainText);
    }
    box->addButton(tr("Dismiss"), QMessageBox::AcceptRole);
    m_window = box;
    box->show();
    box->raise();
    box->activateWindow();
    emit resultShown(text);
}
