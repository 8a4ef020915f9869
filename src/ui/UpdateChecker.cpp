#include "ui/UpdateChecker.h"
#include "base/Log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QVersionNumber>

#ifndef RIVULET_UPDATE_FEED_URL
#define RIVULET_UPDATE_FEED_URL "https://rivulet.app/releases.json"
#endif

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent) {}

QUrl UpdateChecker::feedUrl()
{
    const QByteArray env = qgetenv("RIVULET_UPDATE_FEED");
    return QUrl(QString::fromUtf8(env.isEmpty() ? QByteArray(RIVULET_UPDATE_FEED_URL) : env));
}

QString UpdateChecker::resultText(const QByteArray &feed, const QString &error, const QString &currentVersion)
{
    if (!error.isEmpty())
        return tr("Could not check for updates: %1").arg(error);
    const QJsonObject release = QJsonDocument::fromJson(feed).object();
    const QVersionNumber latest = QVersionNumber::fromString(release.value(QStringLiteral("version")).toString());
    if (latest.isNull())
        return tr("Could not check for updates: the release feed could not be read.");
    if (latest > QVersionNumber::fromString(currentVersion))
        return tr("Rivulet %1 is available (you have %2).\n%3")
            .arg(latest.toString(), currentVersion, release.value(QStringLiteral("url")).toString());
    return tr("Rivulet %1 is the newest version.").arg(currentVersion);
}

void UpdateChecker::checkForUpdates()
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(feedUrl());
    request.setTransferTimeout(15000);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QString error = reply->error() == QNetworkReply::NoError ? QString() : reply->errorString();
        const QString text = resultText(reply->readAll(), error, QStringLiteral(RIVULET_VERSION));
        Log::f("Update check: %@", text);
        emit resultShown(text);
        auto *box = new QMessageBox(QMessageBox::Information, tr("Check for Updates"), text, QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    });
}
