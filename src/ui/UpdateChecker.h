#pragma once
// "Check for Updates": with a release feed fixed at build time (or given in
// RIVULET_UPDATE_FEED), fetches {"version": "1.2.3", "url": "https://..."} and
// says whether a newer version exists. Without a feed nothing is fetched:
// updates then come with the package the program was installed from.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QMessageBox;
class QNetworkAccessManager;

class UpdateChecker : public QObject {
    Q_OBJECT
public:
    explicit UpdateChecker(QObject *parent = nullptr);
    // The feed to ask, or an empty URL when there is none.
    static QUrl feedUrl();
    void checkForUpdates();

    struct Result {
        QString text;
        QUrl link; // a new version's page: only ever an https address
    };
    static Result result(const QByteArray &feed, const QString &error, const QString &currentVersion);
    // The result as one plain text (the link on a line of its own).
    static QString resultText(const QByteArray &feed, const QString &error, const QString &currentVersion);
    // What the window says when no feed is configured.
    static QString packagedText(const QString &currentVersion);
    // The window showing the last result, while it is open.
    QMessageBox *window() const;

signals:
    void resultShown(const QString &text);

private:
    void show(const Result &result);

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QMessageBox> m_window;
};
