#pragma once
// "Check for Updates": fetches a small feed of releases and tells the user
// whether a newer version exists. The feed is {"version": "1.2.3", "url": "..."}
// at an address fixed at build time, which RIVULET_UPDATE_FEED replaces.
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    explicit UpdateChecker(QObject *parent = nullptr);
    static QUrl feedUrl();
    void checkForUpdates();
    // The text the window shows for a feed's content (or an error).
    static QString resultText(const QByteArray &feed, const QString &error, const QString &currentVersion);

signals:
    void resultShown(const QString &text);

private:
    QNetworkAccessManager *m_network = nullptr;
};
