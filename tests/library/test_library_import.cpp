// Files copied into the music library's folder: names the library can take,
// and no second copy of a file already there.
#include "TestSupport.h"
#include "library/LibraryImport.h"

class TestLibraryImport : public QObject {
    Q_OBJECT

private slots:
    void namesTheLibraryCanTake_data()
    {
        QTest::addColumn<QByteArray>("leaf");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << QByteArray("01 song.mp3") << QByteArray("01 song.mp3");
        QTest::newRow("quotes and dash") << QByteArray("-\"it's\".mp3") << QByteArray("-\"it's\".mp3");
        QTest::newRow("newline") << QByteArray("a\nb.mp3") << QByteArray("a_b.mp3");
        QTest::newRow("non-UTF-8") << QByteArray("caf\xe9.mp3") << QByteArray("caf\xef\xbf\xbd.mp3");
        QTest::newRow("hidden") << QByteArray(".song.mp3") << QByteArray("_.song.mp3");
    }

    void namesTheLibraryCanTake()
    {
        QFETCH(QByteArray, leaf);
        QTEST(libraryFileName(leaf), "expected");
    }

    void longNamesStayWithinTheLimit()
    {
        const QByteArray leaf = QByteArray(251, '\xe9') + ".mp3"; // 255 bytes, none valid UTF-8
        const QByteArray name = libraryFileName(leaf);
        QVERIFY(name.size() <= 255);
        QVERIFY(name.endsWith(".mp3"));
        QCOMPARE(QString::fromUtf8(name).toUtf8(), name);
    }

    void identicalContentIsNotCopiedTwice()
    {
        QTemporaryDir tmp;
        const QByteArray base = QFile::encodeName(tmp.path());
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/a.mp3"), "one"));
        QCOMPARE(copyIntoLibrary(base + "/a.mp3", base + "/music", "Rivulet"), std::optional<QByteArray>("Rivulet/a.mp3"));
        QCOMPARE(copyIntoLibrary(base + "/a.mp3", base + "/music", "Rivulet"), std::optional<QByteArray>("Rivulet/a.mp3"));
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/a.mp3"), "two"));
        QCOMPARE(copyIntoLibrary(base + "/a.mp3", base + "/music", "Rivulet"), std::optional<QByteArray>("Rivulet/a (2).mp3"));
        QCOMPARE(QDir(tmp.path() + QStringLiteral("/music/Rivulet")).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QCOMPARE(readAll(tmp.path() + QStringLiteral("/music/Rivulet/a.mp3")), QByteArray("one"));
        QCOMPARE(copyIntoLibrary(base + "/gone.mp3", base + "/music", "Rivulet"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestLibraryImport)
#include "test_library_import.moc"
