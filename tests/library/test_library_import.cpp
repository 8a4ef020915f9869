// Files copied into the music library's folder: names it can take, no second copy, never a link or
// special file, and permissions within the umask.
#include "TestSupport.h"
#include "support/Bytes.h"
#include "library/LibraryImport.h"
#include <future>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
qsizetype filesIn(const QByteArray &folder)
{
    return QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden | QDir::System).size();
}
}

class TestLibraryImport : public QObject {
    Q_OBJECT
    LogCapture log; // keeps the program's lines out of the test output
    QTemporaryDir tmp;
    QByteArray base, music;
    std::optional<QByteArray> copy(const QByteArray &path, bool *made = nullptr) { return copyIntoLibrary(path, music, "Rivulet", made); }

private slots:
    void init()
    {
        base = QFile::encodeName(tmp.path()) + '/' + QTest::currentTestFunction();
        music = base + "/music";
        QVERIFY(QDir().mkpath(QFile::decodeName(base)));
    }

    void namesTheLibraryCanTake_data()
    {
        QTest::addColumn<QByteArray>("leaf");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("quotes and dash") << QByteArray("-\"it's\".mp3") << QByteArray("-\"it's\".mp3");
        QTest::newRow("newline") << QByteArray("a\nb.mp3") << QByteArray("a_b.mp3");
        QTest::newRow("non-UTF-8") << QByteArray("caf\xe9.mp3") << QByteArray("caf\xef\xbf\xbd.mp3");
        QTest::newRow("hidden") << QByteArray(".song.mp3") << QByteArray("_.song.mp3");
        // 255 bytes, none valid UTF-8: cut to the limit between whole characters.
        QTest::newRow("long") << QByteArray(251, '\xe9') + ".mp3" << QByteArray("\xef\xbf\xbd").repeated(83) + ".mp3";
    }
    void namesTheLibraryCanTake()
    {
        QFETCH(QByteArray, leaf);
        QTEST(libraryFileName(leaf), "expected");
    }

    // Its folder is watched: the library's own copy handed in again is no new import. The same content under a
    // non-UTF-8 name (opened by its bytes) is not copied twice; other content under that name is a second file.
    void theLibraryCopyIsNotCopiedOntoItself()
    {
        const QByteArray source = base + "/caf\xe9 \xff.mp3";
        bool made = false;
        QVERIFY(writeBytes(source, "one"));
        const auto first = copy(source, &made);
        QVERIFY(first && made && isInLibraryCopyFolder(music + '/' + *first));
        QCOMPARE(copy(music + '/' + *first), std::nullopt);
        QCOMPARE(copy(source, &made), first);
        QVERIFY(!made);
        QVERIFY(writeBytes(source, "two"));
        const auto other = copy(source);
        QVERIFY(other && other != first);
        QCOMPARE(filesIn(music + "/Rivulet"), 2);
        QCOMPARE(readBytes(music + '/' + *first), QByteArray("one"));
        QCOMPARE(copy(base + "/gone.mp3"), std::nullopt);
        ::unlink(source.constData()); // the temporary folder's clean-up goes by decoded names
    }

    // Downloads are hostile: links and special files named *.mp3 are never followed or read.
    void linksAndSpecialFilesAreNotCopied()
    {
        QVERIFY(writeBytes(base + "/id_test", "PRIVATE KEY"));
        QCOMPARE(::chmod((base + "/id_test").constData(), 0600), 0);
        QCOMPARE(::symlink((base + "/id_test").constData(), (base + "/cover.mp3").constData()), 0);
        QCOMPARE(::mkfifo((base + "/fifo").constData(), 0644), 0);
        QCOMPARE(::symlink((base + "/fifo").constData(), (base + "/fifo.mp3").constData()), 0);
        QCOMPARE(::symlink("/dev/zero", (base + "/zero.mp3").constData()), 0);
        for (const QByteArray &source : {base + "/cover.mp3", base + "/fifo.mp3", base + "/zero.mp3", base + "/fifo", QByteArray("/dev/zero")}) {
            // Run aside: a copy that waits on the fifo must not hang the test.
            auto copied = std::async(std::launch::async, [&] { return copy(source); });
            if (copied.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                ::close(::open((base + "/fifo").constData(), O_WRONLY | O_NONBLOCK));
                QFAIL(qPrintable(QStringLiteral("the copy of %1 waits").arg(QFile::decodeName(source))));
            }
            QCOMPARE(copied.get(), std::nullopt);
        }
        QCOMPARE(filesIn(music + "/Rivulet"), 0);
    }

    void copiesKeepTheSourcesPermissionsWithinTheUmask()
    {
        struct stat st;
        for (const auto &[mode, copied] : {std::pair{0600, 0600}, {04777, 0750}}) {
            const QByteArray source = base + '/' + QByteArray::number(mode) + ".mp3";
            QVERIFY(writeBytes(source, source) && ::chmod(source.constData(), mode_t(mode)) == 0);
            const mode_t old = ::umask(027);
            const auto made = copy(source);
            ::umask(old);
            QVERIFY(made && ::lstat((music + '/' + *made).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 07777, mode_t(copied));
        }
    }
};

QTEST_GUILESS_MAIN(TestLibraryImport)
#include "test_library_import.moc"
