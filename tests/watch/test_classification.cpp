// Entry names as music, archive or neither; paths inside folders of unfinished downloads.
#include "TestSupport.h"
#include "watch/FileClassification.h"

class TestClassification : public QObject {
    Q_OBJECT

private slots:
    // takenAs: m music, a archive, f folder; M music only while more formats are chosen.
    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("takenAs");
        const struct { const char *name; int type; const char *takenAs; } rows[] = {
            {"song.mp3", 8, "m"}, {"a.b.MP3", 8, "m"}, {"._song.mp3", 8, "m"}, {"SONG.MP3", 8, "m"},
            {"tune.m4a", 8, "m"}, {"tune.M4A", 8, "m"}, {"tune.aiff", 8, "m"}, {"tune.AIFF", 8, "m"},
            {"tunes.mp3", 4, "m"}, {"x.mp3", 10, "m"}, {"\xff\xfe.mp3", 8, "m"},
            {"album.zip", 8, "a"}, {"ALBUM.RAR", 8, "a"}, {"album.rar", 8, "a"}, {"ALBUM.ZIP", 8, "a"},
            {"Albums", 4, "f"}, {".", 4, ""}, {"..", 4, ""}, {"album.Zip", 8, ""}, {"Song.Mp3", 8, ""},
            {"song.mP3", 8, ""}, {"song.mpeg", 8, ""}, {"song.mp3 ", 8, ""}, {".mp3", 8, ""}, {"mp3", 8, ""},
            {"song.", 8, ""}, {"a", 8, ""}, {"a.flac", 8, "M"}, {"A.FLAC", 8, "M"}, {"a.ogg", 8, "M"},
            {"A.OGG", 8, "M"}, {"a.opus", 8, "M"}, {"A.OPUS", 8, "M"}, {"a.wav", 8, "M"}, {"A.WAV", 8, "M"},
            {"a.Flac", 8, ""}, {"a.oga", 8, ""}, {"a.wave", 8, ""}, {"a.flac.part", 8, ""}};
        for (const auto &r : rows)
            QTest::addRow("%d '%s'", r.type, r.name) << QByteArray(r.name) << r.type << QByteArray(r.takenAs);
    }

    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, type);
        QFETCH(QByteArray, takenAs);
        const DirectoryEntry e{name, type};
        for (bool chosen : {false, true}) {
            setImportMoreFormats(chosen);
            const bool music = takenAs.contains('m') || (chosen && takenAs.contains('M'));
            QCOMPARE(bool(musicFileTester(e)), music);
            QCOMPARE(bool(musicFileOrArchiveTester(e)), music || takenAs.contains('a'));
            QCOMPARE(bool(musicFileOrDirectoryTester(e)), music || takenAs.contains('f'));
            QCOMPARE(bool(fileTester(e)), type == 8);
        }
        setImportMoreFormats(false);
    }

    void unfinishedDownloadFolders_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("excluded");
        for (const char *p : {"/Users/u/Downloads/Incomplete Downloads/x", "/mnt/dl/.Trash-1000/files/a.mp3",
                              "/mnt/dl/.Trash/1000/files/a.mp3", "/u/Downloads/page.download/song.mp3",
                              "/u/Downloads/x.crdownload", "/u/download"})
            QTest::newRow(p) << QByteArray(p) << true;
        for (const char *p : {"/mnt/dl/.Trashy/a.mp3", "/u/incomplete downloads/x", "/u/Download/x",
                              "/u/downloads/x", "/home/u/Downloads"})
            QTest::newRow(p) << QByteArray(p) << false;
    }

    void unfinishedDownloadFolders()
    {
        QFETCH(QByteArray, path);
        QTEST(pathIsInExcludedDirType(path), "excluded");
    }
};

QTEST_GUILESS_MAIN(TestClassification)
#include "test_classification.moc"
