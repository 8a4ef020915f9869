// Entry names as music, archive or neither, and paths inside folders of
// unfinished downloads.
#include "TestSupport.h"
#include "watch/FileClassification.h"

class TestClassification : public QObject {
    Q_OBJECT

private slots:
    // takenAs: m music, a music or archive, f music or folder.
    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("takenAs");
        const struct { const char *name; int type; const char *takenAs; } rows[] = {
            {"song.mp3", 8, "maf"}, {"a.b.MP3", 8, "maf"}, {"._song.mp3", 8, "maf"}, {"SONG.MP3", 8, "maf"},
            {"tune.m4a", 8, "maf"}, {"tune.M4A", 8, "maf"}, {"tune.aiff", 8, "maf"}, {"tune.AIFF", 8, "maf"},
            {"tunes.mp3", 4, "maf"}, {"x.mp3", 10, "maf"}, {"\xff\xfe.mp3", 8, "maf"},
            {"album.zip", 8, "a"}, {"ALBUM.RAR", 8, "a"}, {"album.rar", 8, "a"}, {"ALBUM.ZIP", 8, "a"},
            {"Albums", 4, "f"}, {".", 4, ""}, {"..", 4, ""}, {"album.Zip", 8, ""}, {"Song.Mp3", 8, ""},
            {"song.mP3", 8, ""}, {"song.mpeg", 8, ""}, {"song.mp3 ", 8, ""}, {".mp3", 8, ""}, {"mp3", 8, ""},
            {"song.", 8, ""}, {"a", 8, ""}};
        for (const auto &r : rows)
            QTest::addRow("%d '%s'", r.type, r.name) << QByteArray(r.name) << r.type << QByteArray(r.takenAs);
    }

    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(int, type);
        QFETCH(QByteArray, takenAs);
        const DirectoryEntry e{name, type};
        QCOMPARE(bool(musicFileTester(e)), takenAs.contains('m'));
        QCOMPARE(bool(musicFileOrArchiveTester(e)), takenAs.contains('a'));
        QCOMPARE(bool(musicFileOrDirectoryTester(e)), takenAs.contains('f'));
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
