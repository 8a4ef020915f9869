#pragma once
// Shared helpers for the tests: a private HOME with its XDG folders, and a
// capture of the program's log lines.
#include "base/Log.h"
#include <QtTest> // and with it all of Qt Core

// Catches the addresses the program hands to the desktop to open (a QDesktopServices URL handler).
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

// Points HOME and the XDG folders into a new temporary folder.
class TempHome {
    QTemporaryDir m_dir; // removed with its contents

public:
    QString home = m_dir.path() + QStringLiteral("/home");
    TempHome()
    {
        QDir().mkpath(home);
        qputenv("HOME", QFile::encodeName(home));
        qputenv("XDG_CONFIG_HOME", bytes(QStringLiteral(".config")));
        qputenv("XDG_DATA_HOME", bytes(QStringLiteral(".local/share")));
        qunsetenv("XDG_DOWNLOAD_DIR");
    }
    QString path(const QString &rel) const { return home + QLatin1Char('/') + rel; }
    QByteArray bytes(const QString &rel) const { return QFile::encodeName(path(rel)); }
    QString supportDir() const { return path(QStringLiteral(".local/share/Rivulet")); }
    QString storePath() const { return supportDir() + QStringLiteral("/storedata"); }
    QString prefsPath() const { return path(QStringLiteral(".config/Rivulet/Rivulet.conf")); }
};

// Collects log lines while it lives (echoed as well when RIVULET_TEST_ECHO is set).
class LogCapture {
public:
    LogCapture()
    {
        Log::setEcho(qEnvironmentVariableIsSet("RIVULET_TEST_ECHO"));
        Log::setSink([this](const QString &line) { QMutexLocker lock(&m_mutex); m_lines << line; });
    }
    ~LogCapture()
    {
        Log::setSink(nullptr);
        Log::setEcho(true);
    }
    QStringList lines() const { QMutexLocker lock(&m_mutex); return m_lines; }
    int count(const QString &line) const { return int(lines().count(line)); }
    bool contains(const QString &needle) const { return !lines().filter(needle).isEmpty(); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
