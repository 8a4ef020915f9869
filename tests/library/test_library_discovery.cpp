// The user's own MPD, found as MPD clients find it (TCP or a configured socket): its music folder from its
// configuration or the setting, no second server, and idle connections it closed never taken for silence.
#include "LibraryFixture.h"
#include <poll.h>

namespace {
// Waits until the server has closed an idle client (connection_timeout).
bool idleClientsDropped(const QByteArray &address)
{
    MpdClient idle({address});
    pollfd closed = {idle.connect() ? idle.fd() : -1, POLLIN, 0};
    return closed.fd >= 0 && ::poll(&closed, 1, 20000) == 1;
}
}

class TestLibraryDiscovery : public QObject {
    Q_OBJECT

private slots:
    void usersOwnServerIsUsed_data()
    {
        QTest::addColumn<QByteArray>("how");
        QTest::newRow("mpd.conf port") << QByteArray("conf");
        QTest::newRow("MPD_HOST and MPD_PORT") << QByteArray("env");
        QTest::newRow("mpd.conf socket in a run folder") << QByteArray("socket");
        // Configuration nowhere to be read: the file waits, untried, until "MPD's music folder" is set.
        QTest::newRow("music folder unknown") << QByteArray("unknown");
    }
    void usersOwnServerIsUsed()
    {
        QFETCH(QByteArray, how);
        LibraryFixture f;
        const QByteArray socket = f.home.bytes(QStringLiteral("run/user-mpd/socket"));
        QVERIFY(QDir().mkpath(QFile::decodeName(socket.left(socket.lastIndexOf('/')))));
        QVERIFY(f.startUserMpd(how == "socket" ? "bind_to_address \"~/run/user-mpd/socket\"\n" : QByteArray(), how != "socket", how == "env" || how == "unknown"));
        const QByteArray address = how == "socket" ? socket : f.userAddress();
        QVERIFY(LibraryFixture::answersAt(address));
        f.configure();
        const QByteArray song = f.tone(1, "mine.mp3");
        if (how == "unknown") {
            const QByteArray elsewhere = f.home.bytes(QStringLiteral("elsewhere.conf"));
            QVERIFY(::rename(f.userConf.constData(), elsewhere.constData()) == 0);
            f.userConf = elsewhere;
            f.configure();
            LogCapture log;
            QVERIFY(f.library->run());
            QCOMPARE(f.library->sendFileToITunes(song, "Rivulet", false, false), std::nullopt);
            f.library->retryLater(song);
            QVERIFY(f.library->musicFolderNeeded());
            QVERIFY(log.contains(QStringLiteral("(try 1 of 5)"))); // no try spent
            MpdLauncherConfig config = f.config();
            config.musicFolderSetting = [music = f.music] { return music; };
            f.library->configure(config);
        }
        QVERIFY(f.library->run());
        QVERIFY(f.library->sendFileToITunes(song, "Rivulet", false, false));
        QCOMPARE(MpdClient({address}).playlistContents("Rivulet"), std::optional(QList<QByteArray>{"Rivulet/mine.mp3"}));
        QVERIFY(QFile::exists(QFile::decodeName(f.music) + QStringLiteral("/Rivulet/mine.mp3")));
        QVERIFY(!QFile::exists(QFile::decodeName(f.socket()))); // no server of ours
        QVERIFY(!f.library->musicFolderNeeded());
    }

    // Retries after idle periods keep their back-off: 60 s, then 300 s.
    void closedIdleConnectionsKeepTheBackOff()
    {
        LibraryFixture f;
        QVERIFY(f.startUserMpd("connection_timeout \"2\"\n", true, true));
        static qint64 now = 5000;
        ITunesManager::setClock([] { return now; });
        const QByteArray junk = f.junk("noise.mp3");
        for (int round = 0; round < 2; ++round) {
            QVERIFY(f.library->run());
            QCOMPARE(f.library->sendFileToITunes(junk, "Rivulet", false, false), std::nullopt);
            f.library->retryLater(junk);
            QVERIFY(idleClientsDropped(f.userAddress()));
            now += 61;
            QCOMPARE(f.library->dueRetries(), round == 0 ? QList<QByteArray>{junk} : QList<QByteArray>());
        }
    }
};

QTEST_GUILESS_MAIN(TestLibraryDiscovery)
#include "test_library_discovery.moc"
