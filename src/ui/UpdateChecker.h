#pragma once
// "Check for Updates": with a release feed fixed at build time (or given in
// RIVULET_UPDATE_FEED), fetches {"version": "1.2.3", "url": "https://..."} and
// says whether a newer version exists. Without a feed nothing is fetched:
// the window says how this copy was installed, and so where updates come from.
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
    // What the window says when no feed is configured: whether the program
    // at programPath came from a Debian package (as listed in the package
    // database folder), was built from source, or neither.
    static QString installedText(const QString &currentVersion, const QString &programPath,
                                 const QString &packageDatabase = QStringLiteral("/var/lib/dpkg/info"));
    // The window showing the last result, while it is open.
    QMessageBox *window() const;

signals:
    void resultShown(const QString &text);

private:
    void show(const Result &result);

    QNetworkAccessManager *m_network = nullptr;
    QPointer<QMessageBox> m_window;
};
