// Import benchmarks against a private MPD started by the program:
//  1. 100 music files imported one after another: our time per file and MPD
//     exchanges per import;
//  2. a zip of 100 music files: the whole archive import through the
//     pipeline, and unzip plus one library batch of its files, against a
//     floor of the work that must be done anyway, measured in the same run:
//     a bare unzip, a plain copy of the unpacked files into the music folder
//     and one bare MPD update of them.
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "library/ITunesManager.h"
#include "library/MpdClient.h"
#include <algorithm>
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
        const auto run = [](const QString &dir, const QString &program, const QStringList &args) {
            QDir().mkpath(dir);
            QProcess p;
            p.setWorkingDirectory(dir);
            p.start(program, args);
            p.waitForFinished(60000);
        };
        const QString zipPath = home + QStringLiteral("/album.zip");
        const QByteArray music = QByteArray(qgetenv("HOME")) + "/Music";
        // The floor: bare unzip, plain copy into the music folder, one bare update.
        const QString bare = home + QStringLiteral("/bare");
        t.restart();
        run(bare, QStringLiteral("/usr/bin/unzip"), {QStringLiteral("-q"), zipPath});
        const double unzipMs = double(t.nsecsElapsed()) / 1e6;
        QDir().mkpath(QString::fromUtf8(music + "/floor"));
        t.restart();
        for (const QString &name : QDir(bare).entryList(QDir::Files)) {
            // A plain copy: read and write, nothing more.
            QFile in(bare + QLatin1Char('/') + name), out(QString::fromUtf8(music + "/floor/") + name);
            if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly))
                out.write(in.readAll());
        }
        const double copyMs = double(t.nsecsElapsed()) / 1e6;
        MpdClient bareMpd({QByteArray(qgetenv("HOME")) + "/.local/share/Rivulet/mpd/socket"});
        t.restart();
        bareMpd.updateAndWait("floor", 60000);
        const double updateMs = double(t.nsecsElapsed()) / 1e6;
        const double floor = unzipMs + copyMs + updateMs;

        // Different content again, so the archive's files are new to the library.
        QDir(QString::fromUtf8(music + "/Rivulet")).removeRecursively();
        t.restart();
        app.directoryDifferFileAddedOrUpdated(nullptr, QFile::encodeName(zipPath));
        const double whole = double(t.nsecsElapsed()) / 1e6;

        // The same through the library's batch: unzip, then one batch of the files in name order.
        QDir(QString::fromUtf8(music + "/Rivulet")).removeRecursively();
        const QString unpacked = home + QStringLiteral("/batch");
        t.restart();
        run(unpacked, QStringLiteral("/usr/bin/unzip"), {QStringLiteral("-q"), zipPath});
        QList<QByteArray> paths;
        for (const QString &name : QDir(unpacked).entryList(QDir::Files, QDir::Name))
            paths << QFile::encodeName(unpacked + QLatin1Char('/') + name);
        const QList<TrackId> ids = library->sendFilesToITunes(paths, "Rivulet", false, false);
        const double batch = double(t.nsecsElapsed()) / 1e6;
        const auto taken = std::count_if(ids.begin(), ids.end(), [](const TrackId &id) { return bool(id); });

        printf("zip of 100 music files: floor %.0f ms (bare unzip %.0f + plain copy %.0f + one MPD update %.0f)\n", floor, unzipMs, copyMs,
               updateMs);
        printf("  archive import through the pipeline %.0f ms: %.1fx the floor, %.1fx bare unzip (goal 1.5x the floor)\n", whole,
               whole / floor, whole / unzipMs);
        printf("  unzip + one library batch %.0f ms (%lld of %lld taken): %.1fx the floor, %.1fx bare unzip\n", batch, (long long)taken,
               (long long)ids.size(), batch / floor, batch / unzipMs);
        printf("TABLE|zip of 100 music files, pipeline|%.0f ms|%.0f ms floor (unzip %.0f)|%.1fx floor, %.1fx unzip|1.5x floor\n", whole, floor,
               unzipMs, whole / floor, whole / unzipMs);
        printf("TABLE|zip of 100 music files, unzip + library batch|%.0f ms|%.0f ms floor (unzip %.0f)|%.1fx floor, %.1fx unzip|1.5x floor\n",
               batch, floor, unzipMs, batch / floor, batch / unzipMs);
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
