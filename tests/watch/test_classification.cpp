// Entry names as music, archive or neither, and paths inside folders of
// unfinished downloads.
#include "TestSupport.h"
#include "watch/FileClassification.h"

class TestClassification : public QObject {
    Q_OBJECT

private slots:
    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("music");
        QTest::addColumn<bool>("musicOrArchive");
        QTest::addColumn<bool>("musicOrFolder");
        QTest::newRow("song.mp3") << QByteArray("song.mp3") << 8 << true << true << true;
        QTest::newRow("a.b.MP3") << QByteArray("a.b.MP3") << 8 << true << true << true;
        QTest::newRow("._song.mp3") << QByteArray("._song.mp3") << 8 << true << true << true;
        QTest::newRow("Song.Mp3") << QByteArray("Song.Mp3") << 8 << false << false << false;
        QTest::newRow("song.mP3") << QByteArray("song.mP3") << 8 << false << false << false;
        QTest::newRow("song.mpeg") << QByteArray("song.mpeg") << 8 << false << false << false;
        QTest::newRow("trailing blank") << QByteArray("song.mp3 ") << 8 << false << false << false;
        QTest::newRow(".mp3") << QByteArray(".mp3") << 8 << false << false << false;
        QTest::newRow("mp3") << QByteArray("mp3") << 8 << false << false << false;
        QTest::newRow("song.") << QByteArray("song.") << 8 << false << false << false;
        QTest::newRow("one byte") << QByteArray("a") << 8 << false << false << false;
        QTest::newRow("album.zip") << QByteArray("album.zip") << 8 << false << true << false;
        QTest::newRow("ALBUM.RAR") << QByteArray("ALBUM.RAR") << 8 << false << true << false;
        QTest::newRow("album.Zip") << QByteArray("album.Zip") << 8 << false << false << false;
        QTest::newRow("tune.m4a") << QByteArray("tune.m4a") << 8 << true << true << true;
        QTest::newRow("tune.AIFF") << QByteArray("tune.AIFF") << 8 << true << true << true;
        // One row per extension in each case.
        QTest::newRow("tune.aiff") << QByteArray("tune.aiff") << 8 << true << true << true;
        QTest::newRow("tune.M4A") << QByteArray("tune.M4A") << 8 << true << true << true;
        QTest::newRow("SONG.MP3") << QByteArray("SONG.MP3") << 8 << true << true << true;
        QTest::newRow("album.rar") << QByteArray("album.rar") << 8 << false << true << false;
        QTest::newRow("ALBUM.ZIP") << QByteArray("ALBUM.ZIP") << 8 << false << true << false;
        QTest::newRow("folder tunes.mp3") << QByteArray("tunes.mp3") << 4 << true << true << true;
        QTest::newRow("folder") << QByteArray("Albums") << 4 << false << false << true;
        QTest::newRow("dot") << QByteArray(".") << 4 << false << false << false;
        QTest::newRow("dotdot") << QByteArray("..") << 4 << false << false << false;
        QTest::newRow("link named mp3") << QByteArray("x.mp3") << 10 << true << true << true;
        QTest::newRow("non-UTF-8") << QByteArray("\xff\xfe.mp3") << 8 << true << true << true;
    }

    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, type);
        const DirectoryEntry e{name, type};
        QTEST(bool(musicFileTester(e)), "music");
        QTEST(bool(musicFileOrArchiveTester(e)), "musicOrArchive");
        QTEST(bool(musicFileOrDirectoryTester(e)), "musicOrFolder");
        QCOMPARE(bool(fileTester(e)), type == 8);
    }

    // FLAC, Ogg, Opus and WAV are music only while the user chose them.
    void moreFormatsOnlyWhenChosen_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("whenChosen");
        for (const char *name : {"a.flac", "A.FLAC", "a.ogg", "A.OGG", "a.opus", "A.OPUS", "a.wav", "A.WAV"})
            QTest::newRow(name) << QByteArray(name) << true;
        for (const char *name : {"a.Flac", "a.oga", "a.wave", "a.flac.part"})
            QTest::newRow(name) << QByteArray(name) << false;
    }
    void moreFormatsOnlyWhenChosen()
    {
        QFETCH(QByteArray, name);
        const DirectoryEntry e{name, kEntryTypeFile};
        for (bool chosen : {false, true}) {
            setImportMoreFormats(chosen);
            QFETCH(bool, whenChosen);
            QCOMPARE(bool(musicFileTester(e)), chosen && whenChosen);
            QCOMPARE(bool(musicFileOrArchiveTester(e)), chosen && whenChosen);
            QCOMPARE(bool(musicFileTester({"a.mp3", kEntryTypeFile})), true);
        }
        setImportMoreFormats(false);
    }

    void unfinishedDownloadFolders_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("Incomplete Downloads") << QByteArray("/Users/u/Downloads/Incomplete Downloads/x") << true;
        QTest::newRow("file system trash") << QByteArray("/mnt/dl/.Trash-1000/files/a.mp3") << true;
        QTest::newRow("shared trash") << QByteArray("/mnt/dl/.Trash/1000/files/a.mp3") << true;
        QTest::newRow("trash-like name") << QByteArray("/mnt/dl/.Trashy/a.mp3") << false;
        QTest::newRow("page.download") << QByteArray("/u/Downloads/page.download/song.mp3") << true;
        QTest::newRow("x.crdownload") << QByteArray("/u/Downloads/x.crdownload") << true;
        QTest::newRow("last component") << QByteArray("/u/download") << true;
        QTest::newRow("lower case") << QByteArray("/u/incomplete downloads/x") << false;
        QTest::newRow("Download") << QByteArray("/u/Download/x") << false;
        QTest::newRow("downloads") << QByteArray("/u/downloads/x") << false;
        QTest::newRow("plain") << QByteArray("/home/u/Downloads") << false;
    }

    void unfinishedDownloadFolders()
    {
        QFETCH(QByteArray, path);
        QTEST(pathIsInExcludedDirType(path), "excluded");
    }
};

QTEST_GUILESS_MAIN(TestClassification)
#include "test_classification.moc"
