// The object store and its file: relationships, every field and name read back, earlier
// versions' files, what a save leaves out and a load refuses, unreadable stores left alone.
#include "StoreFixture.h"
#include "TestSupport.h"
#include <unistd.h>

namespace {
using Records = QList<QList<std::pair<QString, QString>>>;

// Each record of a store file as Qt's XML reader sees it: the attributes in order.
Records recordsAsQtReadsThem(const QByteArray &bytes)
{
    Records records;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("record"))
            continue;
        records.emplaceBack();
        for (const QXmlStreamAttribute &a : xml.attributes())
            records.last().append({a.name().toString(), a.value().toString()});
    }
    if (xml.hasError())
        QTest::qFail(qPrintable(xml.errorString()), __FILE__, __LINE__);
    return records;
}

QList<QByteArray> names(const std::vector<Directory *> &dirs)
{
    QList<QByteArray> result;
    for (Directory *d : dirs)
        result << d->name();
    std::sort(result.begin(), result.end());
    return result;
}

const Date kWhen = dateFromNanos(1796544254580315066LL);
}

class TestStore : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString storePath() const { return tmp.path() + QStringLiteral("/storedata"); }
    LogCapture log; // keeps the program's lines out of the test output

    // A store with a tree top, one watched folder of the given name and one file in it, every field set.
    void saveFolderNamed(const QByteArray &name)
    {
        OpenStore s(storePath());
        QVERIFY(s.ok() && !s.context->hasChanges());
        auto *dir = newDirectory(s.context.get(), name, newTop(s.context.get()));
        dir->setLastScanTime(kWhen);
        dir->setFilenames(QList<QByteArray>{"a.mp3"});
        dir->setRecentNames({name.mid(name.lastIndexOf('/') + 1), "a.mp3"});
        newDirectory(s.context.get(), name + "/sub", dir)->setRecentNames({}); // none recent: not the same as not known
        File *file = newFile(s.context.get(), name + "/track.mp3", dir);
        file->setSize(0xFFFFFFFFFFULL);
        file->setModified(kWhen);
        QVERIFY(s.context->hasChanges());
        QVERIFY2(s.save(), qPrintable(s.error.text()));
        QVERIFY(!s.context->hasChanges());
    }

private slots:
    void init()
    {
        QFile::remove(storePath());
        QDir(storePath()).removeRecursively();
    }

    void relationshipsKeepTheirInversesAndDeletionTakesChildren()
    {
        OpenStore s(storePath());
        auto *ctx = s.context.get();
        auto *a = newDirectory(ctx, "/h/a");
        auto *b = newDirectory(ctx, "/h/a/b", a);
        File *f = newFile(ctx, "f", b);
        // Moving a child to another parent takes it out of the first one.
        auto *c = newDirectory(ctx, "/h/c");
        c->addSubdirectoriesObject(b);
        QVERIFY(a->subdirectories().empty());
        QCOMPARE(b->superdirectory(), c);
        b->removeFilesObject(f);
        QVERIFY(f->directory() == nullptr && b->files().empty());
        for (const char *name : {"/h/b", "/h/B", "/h/a", "/h/\xc3\xa9", "/h/Z"})
            newDirectory(ctx, name, a);
        // Deleting a folder takes its children and files.
        auto *grandchild = newDirectory(ctx, "/h/c/b/g", b);
        grandchild->addFilesObject(f);
        ctx->deleteObject(c);
        QVERIFY(b->isDeleted() && grandchild->isDeleted() && f->isDeleted());
        QCOMPARE(s.count("File"), size_t(0));
        QCOMPARE(s.count("Directory"), size_t(6));
        ctx->deleteObject(a->subdirectories()[0]);
        QCOMPARE(a->subdirectories().size(), size_t(4));
    }

    void namesXmlCannotCarryRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("U+FFFF") << QByteArray("/h/odd\xef\xbf\xbfname");
        QTest::newRow("U+FFFE") << QByteArray("/h/odd\xef\xbf\xbename");
        QTest::newRow("surrogate bytes") << QByteArray("/h/odd\xed\xa0\x80name");
        QTest::newRow("overlong slash") << QByteArray("/h/odd\xc0\xafname");
        QTest::newRow("beyond U+10FFFF") << QByteArray("/h/odd\xf4\x90\x80\x80name");
        QTest::newRow("tab") << QByteArray("/h/odd\tname");
        QTest::newRow("carriage return") << QByteArray("/h/odd\rname");
        QTest::newRow("escape") << QByteArray("/h/odd\x1b[31mname");
        QTest::newRow("markup, newline, bytes") << QByteArray("/h/a&b <c> \"d\" 'e'\nnewline \xff\xfe bytes");
    }

    void namesXmlCannotCarryRoundTrip()
    {
        QFETCH(QByteArray, name);
        saveFolderNamed(name);
        recordsAsQtReadsThem(readAll(storePath())); // well-formed for Qt's reader
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        QVERIFY(!s.context->hasChanges());
        Directory *root = s.settings()->rootDirectoryRecord();
        QCOMPARE(names(root->subdirectories()), QList<QByteArray>{name});
        Directory *dir = root->subdirectories()[0];
        QCOMPARE(dir->lastScanTime(), std::optional(kWhen));
        QVERIFY(!dir->filenames()); // never persisted
        QCOMPARE(dir->recentNames(), std::optional(QList<QByteArray>{name.mid(name.lastIndexOf('/') + 1), "a.mp3"}));
        QCOMPARE(dir->subdirectories().at(0)->recentNames(), std::optional(QList<QByteArray>()));
        QCOMPARE(dir->files().size(), size_t(1));
        File *file = dir->files()[0];
        QCOMPARE(file->name(), name + "/track.mp3");
        QCOMPARE(file->size(), 0xFFFFFFFFFFULL);
        QCOMPARE(file->modified(), std::optional(kWhen));
        QCOMPARE(file->directory(), dir);
    }

    void filesOfEarlierVersionsLoadAndReadBackTheSame()
    {
        // As Qt's XML writer wrote stores before.
        const QByteArray old =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<store format=\"rivulet-store\" version=\"1\">\n"
            "    <record entity=\"Settings\" id=\"1\" RootDirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"2\" name=\"root\"/>\n"
            "    <record entity=\"Directory\" id=\"3\" name=\"/h/a&amp;b &lt;c&gt; &quot;d&quot; 'e' \xc3\xa9\xf0\x9f\x8e\xb5\" "
            "lastScanTime=\"1796544254580315066\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"4\" name64=\"" + QByteArray("/h/\xff\nx").toBase64() + "\" lastScanTime=\"-5\" superdirectory=\"2\"/>\n"
            "    <record entity=\"File\" id=\"5\" name=\"/h/\xc3\xa9.mp3\" modified=\"1796544254580315066\" size=\"18446744073709551615\" directory=\"4\"/>\n"
            "</store>\n";
        QVERIFY(writeFile(storePath(), old));
        {
            OpenStore s(storePath());
            QVERIFY2(s.ok(), qPrintable(s.error.text()));
            QCOMPARE(names(s.settings()->rootDirectoryRecord()->subdirectories()),
                     (QList<QByteArray>{"/h/a&b <c> \"d\" 'e' \xc3\xa9\xf0\x9f\x8e\xb5", "/h/\xff\nx"}));
            auto *file = static_cast<File *>(s.context->fetchAll(QStringLiteral("File")).at(0));
            QCOMPARE(file->size(), 18446744073709551615ULL);
            QCOMPARE(file->directory()->name(), QByteArray("/h/\xff\nx"));
            QCOMPARE(file->directory()->lastScanTime(), std::optional(dateFromNanos(-5)));
            // Saved again, the file reads back the same in Qt's reader, record by record.
            s.context->markChanged();
            QVERIFY(s.save());
        }
        QCOMPARE(recordsAsQtReadsThem(readAll(storePath())), recordsAsQtReadsThem(old));
    }

    void recordsUnderADeletedFolderAreLeftOutOfTheSave()
    {
        {
            OpenStore s(storePath());
            auto *ctx = s.context.get();
            auto *root = newTop(ctx);
            ctx->deleteObject(newTop(ctx, QStringLiteral("ExclusionsDirectory"))); // not written as a dangling reference
            newDirectory(ctx, "/h/kept", root);
            auto *gone = newDirectory(ctx, "/h/gone", root);
            ctx->deleteObject(gone);
            // The watcher thread may still use a record it found before the delete.
            newFile(ctx, "/h/gone/late/a.mp3", newDirectory(ctx, "/h/gone/late", gone));
            newFile(ctx, "/h/gone/b.mp3", gone);
            newFile(ctx, "/h/c.mp3", nullptr);
            QVERIFY(s.save());
        }
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        QCOMPARE(s.count("File"), size_t(0));
        QCOMPARE(s.count("Directory"), size_t(2));
        QCOMPARE(names(s.settings()->rootDirectoryRecord()->subdirectories()), QList<QByteArray>{"/h/kept"});
    }

    void aSaveRenamesANewFileOverTheOld()
    {
        saveFolderNamed("/h/first");
        const QByteArray oldBytes = readAll(storePath());
        const QString link = tmp.path() + QStringLiteral("/storedata.link");
        QCOMPARE(::link(QFile::encodeName(storePath()).constData(), QFile::encodeName(link).constData()), 0);
        {
            OpenStore s(storePath());
            newDirectory(s.context.get(), "/h/second");
            QVERIFY(s.save());
        }
        // Written in place, the link would see the new bytes or a torn mix.
        QCOMPARE(readAll(link), oldBytes);
        QVERIFY(readAll(storePath()).contains("/h/second"));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
        QFile::remove(link);
    }

    void foldersThatAreNotCleanAbsolutePathsAreDroppedOnLoad()
    {
        QByteArray stored = "<store format=\"rivulet-store\" version=\"1\">\n<record entity=\"Settings\" id=\"1\" RootDirectory=\"2\" ExclusionsDirectory=\"3\"/>\n"
                            "<record entity=\"Directory\" id=\"2\" name=\"root\"/>\n<record entity=\"Directory\" id=\"3\" name=\"root\"/>\n";
        int id = 3;
        auto record = [&](const char *entity, const QByteArray &name, const char *parent) {
            stored += "<record entity=\"" + QByteArray(entity) + "\" id=\"" + QByteArray::number(++id) + "\" name=\"" + name + '"' + parent + "/>\n";
        };
        // Under the watched tree top: only the last is clean; one under the exclusions; one under a dropped folder.
        for (const char *name : {"/home/u/../../etc", "/", "home/u/Downloads", "/home/u/Music/", "/home//u", "/home/./u", "", "root", "/home/u/Downloads"})
            record("Directory", name, " superdirectory=\"2\"");
        record("Directory", "relative", " superdirectory=\"3\"");
        record("Directory", "/home/u/..", " superdirectory=\"4\"");
        record("File", "/home/u/../../etc/passwd.mp3", " size=\"1\" directory=\"4\"");
        record("File", "/home/u/Downloads/a.mp3", " size=\"1\" directory=\"12\"");
        record("Directory", "/tmp/scratch", "");
        stored += "</store>\n";
        QVERIFY(writeFile(storePath(), stored));
        {
            OpenStore s(storePath());
            QVERIFY2(s.ok(), qPrintable(s.error.text()));
            QCOMPARE(names(s.settings()->rootDirectoryRecord()->subdirectories()), QList<QByteArray>{"/home/u/Downloads"});
            QVERIFY(s.settings()->exclusionsDirectoryRecord()->subdirectories().empty());
            QCOMPARE(s.count("File"), size_t(1));
            QCOMPARE(s.count("Directory"), size_t(4)); // two tops, Downloads, the scratch folder
            // Nothing is written until the next normal save.
            QVERIFY(!s.context->hasChanges());
            QCOMPARE(readAll(storePath()), stored);
            s.context->markChanged();
            QVERIFY(s.save());
        }
        QVERIFY(!readAll(storePath()).contains("etc"));
    }

    void unreadableStoresAreReportedAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\x00\x01 not xml at all", 17);
        QTest::newRow("foreign xml") << QByteArray("<?xml version=\"1.0\"?><plist/>");
        QTest::newRow("unknown record") << QByteArray("<store format=\"rivulet-store\"><record entity=\"Song\" id=\"1\"/></store>");
        QTest::newRow("dangling reference") << QByteArray("<store format=\"rivulet-store\"><record entity=\"File\" id=\"1\" name=\"/a\" size=\"1\" directory=\"7\"/></store>");
        QTest::newRow("repeated id") << QByteArray("<store format=\"rivulet-store\"><record entity=\"Directory\" id=\"1\" name=\"a\"/><record entity=\"Directory\" id=\"1\" name=\"b\"/></store>");
    }

    void unreadableStoresAreReportedAndLeftAlone()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(storePath(), content));
        OpenStore s(storePath());
        QVERIFY(!s.ok() && !s.error.description.isEmpty());
        QCOMPARE(readAll(storePath()), content);
    }

    // Causes every user can meet (root reads a file without read permission).
    void openErrorsNameTheirCause()
    {
        QVERIFY(QDir().mkpath(storePath()));
        QCOMPARE(::symlink("self", QFile::encodeName(storePath() + QStringLiteral("/self")).constData()), 0);
        // A folder, then a link that points at itself.
        for (const auto &[path, cause] : {std::pair{storePath(), EISDIR}, {storePath() + QStringLiteral("/self"), ELOOP}}) {
            OpenStore s(path);
            QVERIFY(!s.ok());
            QVERIFY2(!s.error.text().contains(QLatin1String("permission")), qPrintable(s.error.text()));
            QCOMPARE(s.error.failureReason, QString::fromLocal8Bit(strerror(cause)));
        }
        if (::geteuid() != 0) {
            QVERIFY(writeFile(storePath() + QStringLiteral("/closed"), "<store format=\"rivulet-store\"/>"));
            QFile(storePath() + QStringLiteral("/closed")).setPermissions(QFileDevice::WriteOwner);
            OpenStore s(storePath() + QStringLiteral("/closed"));
            QVERIFY(!s.ok() && s.error.description.contains(QLatin1String("permission")));
        }
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
