// The object store: relationships, deletion, persistence of every field, and
// the refusal to touch a store file it cannot read.
#include "StoreFixture.h"
#include "TestSupport.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/File.h"

class TestStore : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString storePath() const { return tmp.path() + QStringLiteral("/storedata"); }

private slots:
    void init() { QFile::remove(storePath()); }

    void relationshipsKeepTheirInverses()
    {
        OpenStore s(storePath());
        QVERIFY(s.ok());
        auto *ctx = s.context.get();
        auto *a = ctx->insertNew<Directory>();
        auto *b = ctx->insertNew<Directory>();
        auto *f = ctx->insertNew<File>();
        a->addSubdirectoriesObject(b);
        b->addFilesObject(f);
        QCOMPARE(b->superdirectory(), a);
        QCOMPARE(f->directory(), b);
        // Moving a child to another parent takes it out of the first one.
        auto *c = ctx->insertNew<Directory>();
        c->addSubdirectoriesObject(b);
        QVERIFY(a->subdirectories().empty());
        QCOMPARE(b->superdirectory(), c);
        b->removeFilesObject(f);
        QCOMPARE(f->directory(), nullptr);
        QVERIFY(b->files().empty());
    }

    void sortedSubdirectoriesUseByteOrder()
    {
        OpenStore s(storePath());
        auto *root = s.context->insertNew<Directory>();
        for (const char *name : {"/h/b", "/h/B", "/h/a", "/h/\xc3\xa9", "/h/Z"}) {
            auto *d = s.context->insertNew<Directory>();
            d->setName(name);
            root->addSubdirectoriesObject(d);
        }
        QList<QByteArray> names;
        for (Directory *d : root->sortedSubdirectories())
            names << d->name();
        QCOMPARE(names, (QList<QByteArray>{"/h/B", "/h/Z", "/h/a", "/h/b", "/h/\xc3\xa9"}));
    }

    void deletingAFolderTakesItsChildren()
    {
        OpenStore s(storePath());
        auto *ctx = s.context.get();
        auto *root = ctx->insertNew<Directory>();
        auto *child = ctx->insertNew<Directory>();
        auto *grandchild = ctx->insertNew<Directory>();
        auto *file = ctx->insertNew<File>();
        root->addSubdirectoriesObject(child);
        child->addSubdirectoriesObject(grandchild);
        grandchild->addFilesObject(file);
        ctx->deleteObject(child);
        QVERIFY(root->subdirectories().empty());
        QVERIFY(root->sortedSubdirectories().empty());
        QVERIFY(child->isDeleted() && grandchild->isDeleted() && file->isDeleted());
        QCOMPARE(ctx->fetchAll(QStringLiteral("File")).size(), size_t(0));
        QCOMPARE(ctx->fetchAll(QStringLiteral("Directory")).size(), size_t(1));
    }

    void everyFieldRoundTripsExactly()
    {
        const Date when = dateFromNanos(1796544254580315066LL);
        const QByteArray oddName("/h/with \"quotes\" & <tags>\nnewline \xff\xfe bytes");
        {
            OpenStore s(storePath());
            auto *ctx = s.context.get();
            QVERIFY(!ctx->hasChanges());
            auto *settings = static_cast<Settings *>(ctx->insertNewObjectForEntityForName(QStringLiteral("Settings")));
            auto *root = ctx->insertNew<Directory>();
            root->setName("root");
            settings->setValueForKey(QVariant::fromValue(root), QStringLiteral("RootDirectory"));
            auto *dir = ctx->insertNew<Directory>();
            dir->setName(oddName);
            dir->setLastScanTime(when);
            dir->setFilenames(QList<QByteArray>{"a.mp3"});
            root->addSubdirectoriesObject(dir);
            auto *file = ctx->insertNew<File>();
            file->setName(oddName + "/song.mp3");
            file->setSize(0xFFFFFFFFFFULL);
            file->setModified(when);
            dir->addFilesObject(file);
            QVERIFY(ctx->hasChanges());
            StoreError e;
            QVERIFY(ctx->save(&e));
            QVERIFY(!ctx->hasChanges());
        }
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        auto settings = s.context->fetchAll(QStringLiteral("Settings"));
        QCOMPARE(settings.size(), size_t(1));
        auto *root = settings[0]->valueForKey(QStringLiteral("RootDirectory")).value<Directory *>();
        QVERIFY(root);
        QCOMPARE(root->name(), QByteArray("root"));
        QCOMPARE(root->subdirectories().size(), size_t(1));
        Directory *dir = root->subdirectories()[0];
        QCOMPARE(dir->name(), oddName);
        QCOMPARE(dir->lastScanTime(), std::optional(when));
        QVERIFY(!dir->filenames()); // never persisted
        QCOMPARE(dir->files().size(), size_t(1));
        File *file = dir->files()[0];
        QCOMPARE(file->name(), oddName + "/song.mp3");
        QCOMPARE(file->size(), 0xFFFFFFFFFFULL);
        QCOMPARE(file->modified(), std::optional(when));
        QCOMPARE(file->directory(), dir);
        QVERIFY(!s.context->hasChanges());
    }

    void unreadableStoresAreReportedAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage") << QByteArray("\x00\x01 not xml at all", 17);
        QTest::newRow("truncated") << QByteArray("<?xml version=\"1.0\"?>\n<store format=\"rivulet-store\" version=\"1\">\n<record entity=\"Directory\" id=\"1\" na");
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
        QVERIFY(!s.ok());
        QVERIFY(!s.error.description.isEmpty());
        QCOMPARE(readAll(storePath()), content);
    }

    void deletedTreeTopIsNotWrittenAsADanglingReference()
    {
        {
            OpenStore s(storePath());
            auto *settings = static_cast<Settings *>(s.context->insertNewObjectForEntityForName(QStringLiteral("Settings")));
            auto *root = s.context->insertNew<Directory>();
            settings->setValueForKey(QVariant::fromValue(root), QStringLiteral("RootDirectory"));
            s.context->deleteObject(root);
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
