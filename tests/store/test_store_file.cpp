// The store file itself: names XML cannot carry, files written by earlier
// versions, what a save leaves out, how a save replaces the file, what a load
// refuses to keep, and the reasons given when the file cannot be opened.
#include "StoreFixture.h"
#include "TestSupport.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/File.h"
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Each record of a store file as Qt's XML reader sees it: the attributes in order.
QList<QList<std::pair<QString, QString>>> recordsAsQtReadsThem(const QByteArray &bytes, QString *error)
{
    QList<QList<std::pair<QString, QString>>> records;
    QXmlStreamReader xml(bytes);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("record"))
            continue;
        QList<std::pair<QString, QString>> fields;
        for (const QXmlStreamAttribute &a : xml.attributes())
            fields.append({a.name().toString(), a.value().toString()});
        records.append(fields);
    }
    if (xml.hasError())
        *error = xml.errorString();
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
}

class TestStoreFile : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString storePath() const { return tmp.path() + QStringLiteral("/storedata"); }

    // A store with a tree top, one watched folder of the given name and one file in it.
    void saveFolderNamed(const QByteArray &name)
    {
        OpenStore s(storePath());
        QVERIFY(s.ok());
        auto *root = s.context->insertNew<Directory>();
        root->setName("root");
        auto *dir = s.context->insertNew<Directory>();
        dir->setName(name);
        root->addSubdirectoriesObject(dir);
        auto *file = s.context->insertNew<File>();
        file->setName(name + "/track.mp3");
        dir->addFilesObject(file);
        StoreError e;
        QVERIFY2(s.context->save(&e), qPrintable(e.text()));
    }

private slots:
    void init()
    {
        QFile::remove(storePath());
        QDir(storePath()).removeRecursively();
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
        QTest::newRow("U+FFFD itself") << QByteArray("/h/odd\xef\xbf\xbdname");
        QTest::newRow("U+10FFFF") << QByteArray("/h/odd\xf4\x8f\xbf\xbfname");
        QTest::newRow("markup") << QByteArray("/h/a&b <c> \"d\" 'e'");
    }

    void namesXmlCannotCarryRoundTrip()
    {
        QFETCH(QByteArray, name);
        saveFolderNamed(name);
        QString xmlError;
        recordsAsQtReadsThem(readAll(storePath()), &xmlError);
        QVERIFY2(xmlError.isEmpty(), qPrintable(xmlError));
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        Directory *root = nullptr;
        for (ManagedObject *o : s.context->fetchAll(QStringLiteral("Directory")))
            if (static_cast<Directory *>(o)->name() == "root")
                root = static_cast<Directory *>(o);
        QVERIFY(root);
        QCOMPARE(names(root->subdirectories()), QList<QByteArray>{name});
        QCOMPARE(root->subdirectories()[0]->files()[0]->name(), name + "/track.mp3");
    }

    void filesOfEarlierVersionsLoadAndReadBackTheSame()
    {
        // The bytes Qt's XML writer makes for these records, the way stores were written before.
        QByteArray old;
        {
            QXmlStreamWriter xml(&old);
            xml.setAutoFormatting(true);
            xml.writeStartDocument();
            xml.writeStartElement(QStringLiteral("store"));
            xml.writeAttribute(QStringLiteral("format"), QStringLiteral("rivulet-store"));
            xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1"));
            auto record = [&xml](std::initializer_list<std::pair<const char *, QString>> fields) {
                xml.writeStartElement(QStringLiteral("record"));
                for (const auto &[k, v] : fields)
                    xml.writeAttribute(QString::fromLatin1(k), v);
                xml.writeEndElement();
            };
            record({{"entity", QStringLiteral("Settings")}, {"id", QStringLiteral("1")}, {"RootDirectory", QStringLiteral("2")}});
            record({{"entity", QStringLiteral("Directory")}, {"id", QStringLiteral("2")}, {"name", QStringLiteral("root")}});
            record({{"entity", QStringLiteral("Directory")}, {"id", QStringLiteral("3")}, {"name", QStringLiteral("/h/a&b <c> \"d\" 'e' \u00e9\U0001F3B5")},
                    {"lastScanTime", QStringLiteral("1796544254580315066")}, {"superdirectory", QStringLiteral("2")}});
            record({{"entity", QStringLiteral("Directory")}, {"id", QStringLiteral("4")}, {"name64", QString::fromLatin1(QByteArray("/h/\xff\nx").toBase64())},
                    {"lastScanTime", QStringLiteral("-5")}, {"superdirectory", QStringLiteral("2")}});
            record({{"entity", QStringLiteral("File")}, {"id", QStringLiteral("5")}, {"name", QStringLiteral("/h/\u00e9.mp3")},
                    {"modified", QStringLiteral("1796544254580315066")}, {"size", QStringLiteral("18446744073709551615")}, {"directory", QStringLiteral("4")}});
            xml.writeEndElement();
            xml.writeEndDocument();
        }
        QVERIFY(writeFile(storePath(), old));
        {
            OpenStore s(storePath());
            QVERIFY2(s.ok(), qPrintable(s.error.text()));
            auto *settings = static_cast<Settings *>(s.context->fetchAll(QStringLiteral("Settings")).at(0));
            Directory *root = settings->rootDirectoryRecord();
            QVERIFY(root);
            QCOMPARE(names(root->subdirectories()),
                     (QList<QByteArray>{QString::fromUtf8("/h/a&b <c> \"d\" 'e' \u00e9\U0001F3B5").toUtf8(), "/h/\xff\nx"}));
            auto *file = static_cast<File *>(s.context->fetchAll(QStringLiteral("File")).at(0));
            QCOMPARE(file->size(), 18446744073709551615ULL);
            QCOMPARE(file->directory()->name(), QByteArray("/h/\xff\nx"));
            QCOMPARE(file->directory()->lastScanTime(), std::optional(dateFromNanos(-5)));
            // Saved again, the file reads back the same in Qt's reader, record by record.
            s.context->markChanged();
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        QString oldError, newError;
        const auto before = recordsAsQtReadsThem(old, &oldError);
        const auto after = recordsAsQtReadsThem(readAll(storePath()), &newError);
        QVERIFY(oldError.isEmpty() && newError.isEmpty());
        QCOMPARE(after, before);
    }

    void recordsUnderADeletedFolderAreLeftOutOfTheSave()
    {
        {
            OpenStore s(storePath());
            auto *ctx = s.context.get();
            auto *settings = static_cast<Settings *>(ctx->insertNewObjectForEntityForName(QStringLiteral("Settings")));
            auto *root = ctx->insertNew<Directory>();
            root->setName("root");
            settings->setValueForKey(QVariant::fromValue(root), QStringLiteral("RootDirectory"));
            auto *kept = ctx->insertNew<Directory>();
            kept->setName("/h/kept");
            root->addSubdirectoriesObject(kept);
            auto *gone = ctx->insertNew<Directory>();
            gone->setName("/h/gone");
            root->addSubdirectoriesObject(gone);
            ctx->deleteObject(gone);
            // What the watcher thread can still do with the record it found before the delete.
            auto *late = ctx->insertNew<Directory>();
            late->setName("/h/gone/late");
            gone->addSubdirectoriesObject(late);
            auto *lateFile = ctx->insertNew<File>();
            lateFile->setName("/h/gone/late/a.mp3");
            late->addFilesObject(lateFile);
            auto *orphan = ctx->insertNew<File>();
            orphan->setName("/h/gone/b.mp3");
            gone->addFilesObject(orphan);
            auto *folderless = ctx->insertNew<File>();
            folderless->setName("/h/c.mp3");
            StoreError e;
            QVERIFY(ctx->save(&e));
        }
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        QCOMPARE(s.context->fetchAll(QStringLiteral("File")).size(), size_t(0));
        QCOMPARE(s.context->fetchAll(QStringLiteral("Directory")).size(), size_t(2));
        auto *settings = static_cast<Settings *>(s.context->fetchAll(QStringLiteral("Settings")).at(0));
        QCOMPARE(names(settings->rootDirectoryRecord()->subdirectories()), QList<QByteArray>{"/h/kept"});
    }

    void aSaveRenamesANewFileOverTheOld()
    {
        saveFolderNamed("/h/first");
        const QByteArray oldBytes = readAll(storePath());
        const QString link = tmp.path() + QStringLiteral("/storedata.link");
        QFile::remove(link);
        QCOMPARE(::link(QFile::encodeName(storePath()).constData(), QFile::encodeName(link).constData()), 0);
        {
            OpenStore s(storePath());
            QVERIFY(s.ok());
            auto *dir = s.context->insertNew<Directory>();
            dir->setName("/h/second");
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        // Written in place, the link would see the new bytes or a torn mix.
        QCOMPARE(readAll(link), oldBytes);
        QVERIFY(readAll(storePath()).contains("/h/second"));
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
        QFile::remove(link);
    }

    void foldersThatAreNotCleanAbsolutePathsAreDroppedOnLoad()
    {
        const QByteArray stored =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<store format=\"rivulet-store\" version=\"1\">\n"
            "    <record entity=\"Settings\" id=\"1\" RootDirectory=\"2\" ExclusionsDirectory=\"3\"/>\n"
            "    <record entity=\"Directory\" id=\"2\" name=\"root\"/>\n"
            "    <record entity=\"Directory\" id=\"3\" name=\"root\"/>\n"
            "    <record entity=\"Directory\" id=\"4\" name=\"/\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"5\" name=\"home/u/Downloads\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"6\" name=\"/home/u/../../etc\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"7\" name=\"/home/u/Music/\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"8\" name=\"/home//u\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"9\" name=\"/home/./u\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"10\" name=\"\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"11\" name=\"root\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"12\" name=\"/home/u/Downloads\" superdirectory=\"2\"/>\n"
            "    <record entity=\"Directory\" id=\"13\" name=\"relative\" superdirectory=\"3\"/>\n"
            "    <record entity=\"Directory\" id=\"14\" name=\"/home/u/..\" superdirectory=\"6\"/>\n"
            "    <record entity=\"File\" id=\"15\" name=\"/home/u/../../etc/passwd.mp3\" size=\"1\" directory=\"6\"/>\n"
            "    <record entity=\"File\" id=\"16\" name=\"/home/u/Downloads/a.mp3\" size=\"1\" directory=\"12\"/>\n"
            "    <record entity=\"Directory\" id=\"17\" name=\"/tmp/scratch\"/>\n"
            "</store>\n";
        QVERIFY(writeFile(storePath(), stored));
        LogCapture log;
        {
            OpenStore s(storePath());
            QVERIFY2(s.ok(), qPrintable(s.error.text()));
            auto *settings = static_cast<Settings *>(s.context->fetchAll(QStringLiteral("Settings")).at(0));
            QCOMPARE(names(settings->rootDirectoryRecord()->subdirectories()), QList<QByteArray>{"/home/u/Downloads"});
            QVERIFY(settings->exclusionsDirectoryRecord()->subdirectories().empty());
            QCOMPARE(s.context->fetchAll(QStringLiteral("File")).size(), size_t(1));
            QCOMPARE(s.context->fetchAll(QStringLiteral("Directory")).size(), size_t(4)); // two tops, Downloads, the scratch folder
            for (const char *bad : {"\"/\"", "\"home/u/Downloads\"", "\"/home/u/../../etc\"", "\"/home/u/Music/\"", "\"relative\""})
                QVERIFY2(log.contains(QString::fromLatin1(bad)), bad);
            // Nothing is written until the next normal save.
            QVERIFY(!s.context->hasChanges());
            QCOMPARE(readAll(storePath()), stored);
            s.context->markChanged();
            StoreError e;
            QVERIFY(s.context->save(&e));
        }
        QVERIFY(!readAll(storePath()).contains("etc"));
        OpenStore s(storePath());
        QVERIFY2(s.ok(), qPrintable(s.error.text()));
        QCOMPARE(s.context->fetchAll(QStringLiteral("Directory")).size(), size_t(4));
    }

    void openErrorsNameTheirCause()
    {
        // Running as root, a file without read permission is still readable,
        // so the causes shown here are the ones every user can meet.
        QVERIFY(QDir().mkpath(storePath()));
        {
            OpenStore s(storePath());
            QVERIFY(!s.ok());
            QVERIFY2(!s.error.text().contains(QLatin1String("permission")), qPrintable(s.error.text()));
            QCOMPARE(s.error.failureReason, QString::fromLocal8Bit(strerror(EISDIR)));
        }
        QVERIFY(QDir(storePath()).removeRecursively());
        // A link that points at itself.
        QCOMPARE(::symlink("storedata", QFile::encodeName(storePath()).constData()), 0);
        {
            OpenStore s(storePath());
            QVERIFY(!s.ok());
            QVERIFY2(!s.error.text().contains(QLatin1String("permission")), qPrintable(s.error.text()));
            QCOMPARE(s.error.failureReason, QString::fromLocal8Bit(strerror(ELOOP)));
        }
        QFile::remove(storePath());
        if (::geteuid() != 0) {
            QVERIFY(writeFile(storePath(), "<store format=\"rivulet-store\"/>"));
            QFile(storePath()).setPermissions(QFileDevice::WriteOwner);
            OpenStore s(storePath());
            QVERIFY(!s.ok());
            QVERIFY(s.error.description.contains(QLatin1String("permission")));
        }
    }
};

QTEST_GUILESS_MAIN(TestStoreFile)
#include "test_store_file.moc"
