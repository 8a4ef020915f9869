// Files copied into the music library's folder: names the library can take,
// and no second copy of a file already there.
#include "TestSupport.h"
#include "support/Bytes.h"
#include "library/LibraryImport.h"
#include <future>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
mode_t modeOf(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

qsizetype filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size();
}
}

class TestLibraryImport : public QObject {
    Q_OBJECT
    LogCapture log; // keeps the program's lines out of the test output

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
        // 255 bytes, none valid UTF-8: cut to the limit between whole characters.
        QTest::newRow("long") << QByteArray(251, '\xe9') + ".mp3" << QByteArray("\xef\xbf\xbd").repeated(83) + ".mp3";
    }

    void namesTheLibraryCanTake()
    {
        QFETCH(QByteArray, leaf);
        QTEST(libraryFileName(leaf), "expected");
    }

    // Also under a name that is not UTF-8, opened by its bytes for the comparison. The
    // library's own copy handed in again (its folder is watched) is no new import either.
    void identicalContentIsNotCopiedTwice_data()
    {
        QTest::addColumn<QByteArray>("leaf");
        QTest::addColumn<QByteArray>("second");
        QTest::newRow("text") << QByteArray("a.mp3") << QByteArray("a (2).mp3");
        QTest::newRow("not utf-8") << QByteArray("caf\xe9 \xff.mp3") << QByteArray();
    }
    void identicalContentIsNotCopiedTwice()
    {
        QFETCH(QByteArray, leaf);
        QFETCH(QByteArray, second);
        QTemporaryDir tmp;
        const QByteArray base = QFile::encodeName(tmp.path());
        const QByteArray source = base + '/' + leaf;
        bool made = false;
        QVERIFY(writeBytes(source, "one"));
        const auto first = copyIntoLibrary(source, base + "/music", "Rivulet", &made);
        QVERIFY(first && made);
        QCOMPARE(copyIntoLibrary(source, base + "/music", "Rivulet", &made), first);
        QVERIFY(!made);
        QVERIFY(isInLibraryCopyFolder(base + "/music/" + *first));
        QCOMPARE(copyIntoLibrary(base + "/music/" + *first, base + "/music", "Rivulet"), std::nullopt);
        QVERIFY(writeBytes(source, "two"));
        const auto other = copyIntoLibrary(source, base + "/music", "Rivulet");
        QVERIFY(other && other != first && (second.isEmpty() || *other == "Rivulet/" + second));
        QCOMPARE(filesIn(tmp.path() + QStringLiteral("/music/Rivulet")), 2);
        QCOMPARE(readAll(QFile::decodeName(base + "/music/" + *first)), QByteArray("one"));
        QCOMPARE(copyIntoLibrary(base + "/gone.mp3", base + "/music", "Rivulet"), std::nullopt);
        ::unlink(source.constData()); // the temporary folder's clean-up goes by decoded names
    }

    // Downloads are hostile: links and special files named *.mp3 are never
    // followed or read, and a private file stays private.
    void linksAndSpecialFilesAreNotCopied()
    {
        QTemporaryDir tmp;
        const QByteArray base = QFile::encodeName(tmp.path());
        const QByteArray secret = base + "/id_test";
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/id_test"), "PRIVATE KEY"));
        QCOMPARE(::chmod(secret.constData(), 0600), 0);
        QCOMPARE(::symlink(secret.constData(), (base + "/cover.mp3").constData()), 0);
        QCOMPARE(::mkfifo((base + "/fifo").constData(), 0644), 0);
        QCOMPARE(::symlink((base + "/fifo").constData(), (base + "/fifo.mp3").constData()), 0);
        QCOMPARE(::symlink("/dev/zero", (base + "/zero.mp3").constData()), 0);
        for (const QByteArray &source : {base + "/cover.mp3", base + "/fifo.mp3", base + "/zero.mp3", base + "/fifo", QByteArray("/dev/zero")}) {
            // Run aside: a copy that waits on the fifo must not hang the test.
            auto copy = std::async(std::launch::async, [&] { return copyIntoLibrary(source, base + "/music", "Rivulet"); });
            if (copy.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                const int unblock = ::open((base + "/fifo").constData(), O_WRONLY | O_NONBLOCK);
                ::close(unblock);
                QFAIL(qPrintable(QStringLiteral("the copy of %1 waits").arg(QFile::decodeName(source))));
            }
            QCOMPARE(copy.get(), std::nullopt);
        }
        QCOMPARE(filesIn(tmp.path() + QStringLiteral("/music/Rivulet")), 0);
    }

    void copiesKeepTheSourcesPermissionsWithinTheUmask()
    {
        QTemporaryDir tmp;
        const QByteArray base = QFile::encodeName(tmp.path());
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/private.mp3"), "mine"));
        QVERIFY(writeFile(tmp.path() + QStringLiteral("/open.mp3"), "ours"));
        QCOMPARE(::chmod((base + "/private.mp3").constData(), 0600), 0);
        QCOMPARE(::chmod((base + "/open.mp3").constData(), 04777), 0);
        const mode_t old = ::umask(027);
        QCOMPARE(currentUmask(), 027u);
        const auto privateCopy = copyIntoLibrary(base + "/private.mp3", base + "/music", "Rivulet");
        const auto openCopy = copyIntoLibrary(base + "/open.mp3", base + "/music", "Rivulet");
        ::umask(old);
        QVERIFY(privateCopy && openCopy);
        QCOMPARE(modeOf(base + "/music/" + *privateCopy), mode_t(0600));
        QCOMPARE(modeOf(base + "/music/" + *openCopy), mode_t(0750));
    }
};

QTEST_GUILESS_MAIN(TestLibraryImport)
#include "test_library_import.moc"
