// Import benchmarks against a private MPD started by the program:
//  1. 100 music files imported one after another: our time per file and MPD
//     exchanges per import;
//  2. a zip of 100 music files: the whole archive import against a bare
//     unzip of the same archive in the same run.
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "library/ITunesManager.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication qapp(argc, argv);
    Log::setEcho(false);
    QTemporaryDir tmp;
    const QString home = tmp.path();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + QStringLiteral("/run")));
    qputenv("RIVULET_MPD_OUTPUT", "null");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString tone = QStringLiteral(RIVULET_SOURCE_DIR "/tests/data/tones/01 tone.mp3");
    const QString drop = home + QStringLiteral("/drop");
    QDir().mkpath(drop);

    {
        Rivulet_AppDelegate app(false);
        app.awakeFromNib();
        ITunesManager *library = ITunesManager::sharedManager();
        library->run();
        // Distinct content per file, so that none is taken for a repeat.
        for (int i = 0; i < 100; ++i) {
            QFile::copy(tone, drop + QStringLiteral("/track %1.mp3").arg(i));
            QFile f(drop + QStringLiteral("/track %1.mp3").arg(i));
            f.open(QIODevice::Append);
            f.write(QByteArray::number(i));
        }
        const int exchangesBefore = library->exchanges();
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 100; ++i)
            app.directoryDifferFileAddedOrUpdated(nullptr, QFile::encodeName(drop + QStringLiteral("/track %1.mp3").arg(i)));
        const double perFile = double(t.nsecsElapsed()) / 1e6 / 100;
        printf("100 music files: %.1f ms per file from hand-over to track in the playlist (goal 50 ms), %.1f MPD exchanges per import\n",
               perFile, double(library->exchanges() - exchangesBefore) / 100);
        printf("TABLE|import of one music file|%.1f ms, %.1f MPD exchanges|-|-|50 ms\n", perFile, double(library->exchanges() - exchangesBefore) / 100);

        // A zip of 100 music files against a bare unzip.
        QProcess zip;
        zip.setWorkingDirectory(drop);
        QStringList args{QStringLiteral("-q"), home + QStringLiteral("/album.zip")};
        for (int i = 0; i < 100; ++i)
            args << QStringLiteral("track %1.mp3").arg(i);
        zip.start(QStringLiteral("zip"), args);
        zip.waitForFinished();
        const QString bare = home + QStringLiteral("/bare");
        QDir().mkpath(bare);
        QProcess unzip;
        unzip.setWorkingDirectory(bare);
        t.restart();
        unzip.start(QStringLiteral("/usr/bin/unzip"), {QStringLiteral("-q"), home + QStringLiteral("/album.zip")});
        unzip.waitForFinished();
        const double floor = double(t.nsecsElapsed()) / 1e6;
        // Different content again, so the archive's files are new to the library.
        QDir(QString::fromUtf8(QByteArray(qgetenv("HOME")) + "/Music/Rivulet")).removeRecursively();
        t.restart();
        app.directoryDifferFileAddedOrUpdated(nullptr, QFile::encodeName(home + QStringLiteral("/album.zip")));
        const double whole = double(t.nsecsElapsed()) / 1e6;
        printf("zip of 100 music files: import %.0f ms, bare unzip %.0f ms, ratio %.1fx (goal 2x)\n", whole, floor, whole / floor);
        printf("TABLE|zip of 100 music files|%.0f ms|%.0f ms bare unzip|%.1fx|2x\n", whole, floor, whole / floor);
    }
    const QByteArray pid = [&] {
        QFile f(home + QStringLiteral("/.local/share/Rivulet/mpd/pid"));
        f.open(QIODevice::ReadOnly);
        return f.readAll().trimmed();
    }();
    if (!pid.isEmpty())
        ::kill(pid.toInt(), SIGTERM);
    return 0;
}
