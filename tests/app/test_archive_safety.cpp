// What the pipeline does with the files an archive brings: every move and
// Trash operation stays inside the archive's folder, the Trash never
// deletes, unpacking is bounded while it runs and leaves nothing after a
// failure, names are bytes, and a shared trash planted by another user is
// not followed.
#include "TestSupport.h"
#include "app/ArchiveSize.h"
#include "app/ArchiveUnpacking.h"
#include "app/ImportPipeline.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "support/Bytes.h"
#include <QDirIterator>
#include <QProcess>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
QByteArray b(const QString &s) { return QFile::encodeName(s); }

QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); }

// This thread without the capabilities that let root ignore file modes, as
// an ordinary user runs (restored at the end of the scope).
struct OrdinaryUser {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    OrdinaryUser()
    {
        if (::syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct less[2] = {saved[0], saved[1]};
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        ::syscall(SYS_capset, &header, less);
    }
    ~OrdinaryUser() { ::syscall(SYS_capset, &header, saved); }
};

// An archive written by Python's zipfile or tarfile: the script gets the
// output path as `out` and fills it.
bool makeArchive(const QString &out, const QString &script)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral("import os, sys, zipfile, tarfile, io\nout = sys.argv[1]\n") + script, out});
    return python.waitForFinished(60000) && python.exitCode() == 0;
}

// A chain of folders "d" depth levels deep with a file of bytes at its end,
// made by descriptor (the path is longer than a path may be).
bool makeDeepTree(const QByteArray &root, int depth, int bytes)
{
    int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; fd >= 0 && i < depth; ++i) {
        const int child = ::mkdirat(fd, "d", 0700) == 0 ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY) : -1;
        ::close(fd);
        fd = child;
    }
    const int file = fd >= 0 ? ::openat(fd, "end.mp3", O_WRONLY | O_CREAT, 0600) : -1;
    const bool ok = file >= 0 && ::write(file, QByteArray(bytes, 'x').constData(), size_t(bytes)) == bytes;
    if (file >= 0)
        ::close(file);
    if (fd >= 0)
        ::close(fd);
    return ok;
}
}

class TestArchiveSafety : public QObject {
    Q_OBJECT

private slots:
    void logLinesCannotBeForgedOrColourTheTerminal()
    {
        LogCapture log;
        Log::f("+ Added %@ to %@", QByteArray("/d/09 \x1b[31mred\nFORGED + Added x to MPD\r\t\x7f.mp3"), "MPD");
        QCOMPARE(log.lines(), QStringList{QStringLiteral("+ Added /d/09 \\x1b[31mred\\nFORGED + Added x to MPD\\r\\t\\x7f.mp3 to MPD")});
        QCOMPARE(Log::escapeControls(QStringLiteral("plain \u00e9 text")), QStringLiteral("plain \u00e9 text"));
        QCOMPARE(Log::escapeControls(QString(QChar(0x9b))), QStringLiteral("\\x9b"));
    }

    void trashKeepsEveryItemAndItsOrigin()
    {
        TempHome home;
        // The data folder does not exist yet: the trash is made, not the current folder used.
        QVERIFY(!QFile::exists(home.path(QStringLiteral(".local/share"))));
        for (int i = 0; i < 2; ++i) {
            QVERIFY(writeFile(home.path(QStringLiteral("odd 100%.mp3")), QByteArray::number(i)));
            QVERIFY(Trash::moveToTrash(home.bytes(QStringLiteral("odd 100%.mp3"))));
        }
        const QString trash = home.path(QStringLiteral(".local/share/Trash"));
        QCOMPARE(readAll(trash + QStringLiteral("/files/odd 100%.mp3")), QByteArray("0"));
        QCOMPARE(readAll(trash + QStringLiteral("/files/odd 100%.mp3.2")), QByteArray("1"));
        QVERIFY(readAll(trash + QStringLiteral("/info/odd 100%.mp3.2.trashinfo"))
                    .startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(home.path(QStringLiteral("odd 100%.mp3")), "/") + "\nDeletionDate="));
        QVERIFY(!QFile::exists(QDir::currentPath() + QStringLiteral("/files/odd 100%.mp3")));
        QVERIFY(!Trash::moveToTrash(home.bytes(QStringLiteral("never there.mp3"))));
        // A name of 255 bytes still goes, under a shorter name in the trash; a folder goes whole.
        const QString longName = QString(251, QLatin1Char('L')) + QStringLiteral(".mp3");
        QVERIFY(writeFile(home.path(longName), "long") && Trash::moveToTrash(home.bytes(longName)));
        QVERIFY(readAll(trash + QStringLiteral("/info/") + longName.left(240) + QStringLiteral(".trashinfo")).contains(QFile::encodeName(longName)));
        QDir().mkpath(home.path(QStringLiteral("album/cd1")));
        QVERIFY(Trash::moveToTrash(home.bytes(QStringLiteral("album"))));
        QVERIFY(QFile::exists(trash + QStringLiteral("/files/album/cd1")));
    }

    void movesAndTrashStayInsideTheArchiveFolder()
    {
        TempHome home;
        LogCapture log;
        ImportPipeline pipeline;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        const QString scratch = downloads + QStringLiteral("/.scratch.download");
        QVERIFY(QDir().mkpath(scratch) && QDir().mkpath(downloads + QStringLiteral("/sub")));
        QVERIFY(writeFile(scratch + QStringLiteral("/.bashrc"), "from the archive"));
        QVERIFY(writeFile(home.path(QStringLiteral(".bashrc")), "the user's"));
        // The folder above, by "..", the folder itself, or a name that only starts like it: refused, nothing moved.
        for (const QString &destination : {downloads + QStringLiteral("/.."), downloads + QStringLiteral("/sub/../.."), downloads,
                                           downloads + QStringLiteral("/sub/.."), home.path(QStringLiteral("Downloads2"))}) {
            QVERIFY(!pipeline.moveContentsOfDirectory(b(scratch), b(destination), b(downloads)));
            QVERIFY(QFile::exists(scratch + QStringLiteral("/.bashrc")));
        }
        // A link named like the keep folder, pointing home, goes to the Trash (not what it names); a real folder takes its place.
        QVERIFY(QFile::link(home.home, downloads + QStringLiteral("/up")));
        QVERIFY(pipeline.moveContentsOfDirectory(b(scratch), b(downloads + QStringLiteral("/up")), b(downloads)));
        QVERIFY(QFileInfo(downloads + QStringLiteral("/up")).isDir() && !QFileInfo(downloads + QStringLiteral("/up")).isSymLink());
        QCOMPARE(readAll(downloads + QStringLiteral("/up/.bashrc")), QByteArray("from the archive"));
        QVERIFY(QFileInfo(home.path(QStringLiteral(".local/share/Trash/files/up"))).isSymLink());
        // The Trash takes nothing from outside the folder either.
        QVERIFY(!pipeline.moveToTrash(home.bytes(QStringLiteral(".bashrc")), b(downloads)));
        QVERIFY(!pipeline.moveToTrash(b(downloads + QStringLiteral("/sub/../../.bashrc")), b(downloads)));
        QVERIFY(!pipeline.moveToTrash(b(downloads + QStringLiteral("/up/../../.bashrc")), b(downloads + QStringLiteral("/up"))));
        QCOMPARE(readAll(home.path(QStringLiteral(".bashrc"))), QByteArray("the user's"));
    }

    // Names are bytes; an item the move replaces goes to the Trash.
    void movesTakeAnyNameAndTrashWhatTheyReplace()
    {
        TempHome home;
        LogCapture log;
        ImportPipeline pipeline;
        const QByteArray downloads = home.bytes(QStringLiteral("Downloads"));
        const QByteArray scratch = downloads + "/scratch";
        QVERIFY(QDir().mkpath(QString::fromUtf8(scratch + "/d\xc3\xa9j\xc3\xa0")) && QDir().mkpath(QFile::decodeName(downloads + "/album")));
        QVERIFY(::mkdir((scratch + "/caf\x82").constData(), 0755) == 0);
        QVERIFY(writeBytes(scratch + "/caf\x82/07 caf\x82.mp3", "x") && writeBytes(scratch + "/a.mp3", "new") && writeBytes(downloads + "/album/a.mp3", "old"));
        QVERIFY(pipeline.moveContentsOfDirectory(scratch, downloads + "/album", downloads));
        QCOMPARE(ByteFiles::listNames(scratch)->size(), 0);
        QVERIFY(ByteFiles::isRegularFile(downloads + "/album/caf\x82/07 caf\x82.mp3"));
        QCOMPARE(readBytes(downloads + "/album/a.mp3"), QByteArray("new"));
        QCOMPARE(readAll(home.path(QStringLiteral(".local/share/Trash/files/a.mp3"))), QByteArray("old"));
        // Removing a tree removes a link in it, never what the link names.
        QVERIFY(QFile::link(home.home, QFile::decodeName(downloads + "/album/home")));
        QVERIFY(ByteFiles::removeTree(downloads + "/album"));
        QVERIFY(!ByteFiles::exists(downloads + "/album") && ByteFiles::isFolder(downloads));
    }

    void anArchiveWhoseNameIsNotTextIsUnpacked()
    {
        TempHome home;
        LogCapture log;
        const QByteArray downloads = home.bytes(QStringLiteral("Downloads/caf\u00e9"));
        QVERIFY(QDir().mkpath(QFile::decodeName(downloads)));
        const QByteArray archive = downloads + "/alb\xe9 \xff.zip";
        // Dated in the future: unpacked, it must not look newer than every later scan.
        QVERIFY(makeArchive(home.path(QStringLiteral("a.zip")), QStringLiteral("z = zipfile.ZipFile(out, 'w')\n"
                                                                              "i = zipfile.ZipInfo('01 song.mp3', (2031, 1, 1, 0, 0, 0)); z.writestr(i, b'music'); z.close()")));
        QVERIFY(::rename(home.bytes(QStringLiteral("a.zip")).constData(), archive.constData()) == 0);
        ImportPipeline pipeline;
        QVERIFY(pipeline.unpackArchive(archive, "zip"));
        // Unpacked beside the archive, in the hidden scratch folder the watcher ignores.
        QCOMPARE(readBytes(downloads + "/.Rivulet unpacking.download/01 song.mp3"), QByteArray("music"));
        struct stat st;
        QVERIFY(::stat((downloads + "/.Rivulet unpacking.download/01 song.mp3").constData(), &st) == 0 && st.st_mtime <= ::time(nullptr));
        QVERIFY(ByteFiles::removeTree(home.bytes(QStringLiteral("Downloads"))));
    }

    void deepTreesAreMeasuredAndRemovedUnderTheOpenFileLimit()
    {
        QTemporaryDir dir;
        const QByteArray root = b(dir.path()) + "/deep";
        QVERIFY(::mkdir(root.constData(), 0700) == 0 && makeDeepTree(root, 1100, 8 << 20));
        rlimit saved;
        ::getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low{256, saved.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const quint64 size = ByteFiles::treeSize(root);
        const ByteFiles::TreeShape shape = ByteFiles::measureTree(root);
        const ByteFiles::TreeShape bound = ArchiveSize::mostAnArchiveHolds();
        const ByteFiles::TreeShape stopped = ByteFiles::measureTree(root, bound);
        const bool removed = ByteFiles::removeTree(root);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QVERIFY(shape.complete && shape.depth == 1101 && shape.folders == 1100);
        QVERIFY(size >= 8 << 20); // the folders alone take 4.5 MB
        QVERIFY(stopped.exceeds(bound) && stopped.depth == 33); // the walk stops at the first level past the bound
        QVERIFY(removed && !ByteFiles::exists(root));
    }

    // Refused before or while unpacking: nothing is left, beside the archive or in the data folder; the archive stays.
    void archivesPastTheBoundsAreRefusedAndKept_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("limit");
        QTest::newRow("33 levels deep") << QStringLiteral("z = zipfile.ZipFile(out, 'w'); z.writestr('d/' * 32 + '01.mp3', b'x')") << QByteArray();
        QTest::newRow("1001 folders") << QStringLiteral("z = zipfile.ZipFile(out, 'w')\nfor i in range(1001): z.writestr('f%d/01.mp3' % i, b'x')") << QByteArray();
        QTest::newRow("10001 entries") << QStringLiteral("z = zipfile.ZipFile(out, 'w')\nfor i in range(10001): z.writestr('%d.txt' % i, b'')") << QByteArray();
        const QString zeros = QStringLiteral("z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED); z.writestr('zeros.mp3', bytes(%1 << 20))\n");
        QTest::newRow("declares more than there is room for") << zeros.arg(8) << QByteArray("4000000");
        // Its headers declare 1000 bytes: the listing believes them, unzip does not stop.
        QTest::newRow("holds more than it declares") << zeros.arg(40) + QStringLiteral("z.close(); d = bytearray(open(out, 'rb').read())\n"
                                                                                       "for sig, at in ((b'PK\\x03\\x04', 22), (b'PK\\x01\\x02', 24)):\n"
                                                                                       "    i = d.find(sig); d[i + at:i + at + 4] = (1000).to_bytes(4, 'little')\n"
                                                                                       "z = open(out, 'wb'); z.write(d)")
                                                     << QByteArray("4000000");
        QTest::newRow("a link named like an archive") << QStringLiteral("os.symlink(os.environ['HOME'] + '/.bashrc', out); z = open(os.devnull)") << QByteArray();
    }
    void archivesPastTheBoundsAreRefusedAndKept()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, limit);
        TempHome home;
        LogCapture log;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads) && makeArchive(downloads + QStringLiteral("/a.zip"), script + QStringLiteral("\nz.close()")));
        if (!limit.isEmpty())
            qputenv("RIVULET_UNPACK_LIMIT", limit);
        ImportPipeline pipeline;
        const bool unpacked = pipeline.unpackArchive(b(downloads + QStringLiteral("/a.zip")), "zip");
        qunsetenv("RIVULET_UNPACK_LIMIT");
        QVERIFY(!unpacked);
        QCOMPARE(entries(downloads), QStringList{QStringLiteral("a.zip")});
        QCOMPARE(entries(home.supportDir()), QStringList());
    }

    // unar that reports a decrunching error with status 0 cannot be made
    // from a real archive here, so a stand-in prints it.
    void rarErrorTextCountsAsFailure()
    {
        TempHome home;
        LogCapture log;
        const QString bin = home.path(QStringLiteral("bin"));
        QDir().mkpath(bin);
        QVERIFY(writeFile(bin + QStringLiteral("/unar"), "#!/bin/sh\necho 'Error on decrunching'\nexit 0\n"));
        QFile::setPermissions(bin + QStringLiteral("/unar"), QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + oldPath);
        ImportPipeline pipeline;
        QVERIFY(writeFile(home.path(QStringLiteral("x.rar")), "not really"));
        const bool unpacked = pipeline.unpackArchive(home.bytes(QStringLiteral("x.rar")), "rar");
        qputenv("PATH", oldPath);
        QVERIFY(!unpacked && log.contains(QStringLiteral("^^CWTask returned, status:0 ;")));
        QVERIFY(!pipeline.unpackArchive(home.bytes(QStringLiteral("x.rar")), "7z"));
        QVERIFY(QFile::exists(home.path(QStringLiteral("x.rar"))) && !QFile::exists(home.path(QStringLiteral(".Rivulet unpacking.download"))));
    }

    void readOnlyFoldersAreMovedAndRemoved()
    {
        TempHome home;
        LogCapture log;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads));
        QVERIFY(makeArchive(downloads + QStringLiteral("/ro.zip"), QStringLiteral(R"(z = zipfile.ZipFile(out, 'w')
for name, mode in (('album/', 0o40555), ('album/cd/', 0o40555), ('album/cd/01.mp3', 0o100444)):
    i = zipfile.ZipInfo(name); i.external_attr = mode << 16; i.create_system = 3
    z.writestr(i, b'' if name.endswith('/') else b'song')
z.close())")));
        OrdinaryUser ordinary;
        // Out of a read-only folder, the Trash tries once, not for every free number.
        QVERIFY(QDir().mkpath(downloads + QStringLiteral("/locked")) && writeFile(downloads + QStringLiteral("/locked/x.mp3"), "x"));
        QVERIFY(::chmod(b(downloads + QStringLiteral("/locked")).constData(), 0555) == 0);
        const QByteArray info = b(home.path(QStringLiteral(".local/share/Trash/info")));
        QVERIFY(ByteFiles::makePath(info));
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, info.constData(), IN_CREATE) >= 0);
        QVERIFY(!Trash::moveToTrash(b(downloads + QStringLiteral("/locked/x.mp3"))));
        int created = 0;
        char events[65536];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char *e = events; e < events + n; e += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(e)->len)
                ++created;
        ::close(watch);
        QCOMPARE(created, 1);
        QVERIFY(ByteFiles::isRegularFile(b(downloads + QStringLiteral("/locked/x.mp3"))));
        ImportPipeline pipeline;
        QVERIFY(pipeline.unpackArchive(b(downloads + QStringLiteral("/ro.zip")), "zip"));
        const QByteArray scratch = b(downloads + QStringLiteral("/.Rivulet unpacking.download"));
        QVERIFY(pipeline.moveContentsOfDirectory(scratch, b(downloads + QStringLiteral("/ro")), b(downloads)));
        QCOMPARE(readAll(downloads + QStringLiteral("/ro/album/cd/01.mp3")), QByteArray("song"));
        QVERIFY(ByteFiles::removeTree(scratch));
        // A read-only folder made elsewhere is removed too.
        QVERIFY(::chmod(b(downloads + QStringLiteral("/ro/album/cd")).constData(), 0555) == 0);
        QVERIFY(ByteFiles::removeTree(b(downloads + QStringLiteral("/ro"))));
    }

    void linksLeadingOutOfTheUnpackedFilesAreRemoved()
    {
        TempHome home;
        LogCapture log;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads) && writeFile(home.path(QStringLiteral("secret")), "key"));
        // unar turns a tar's hard link to a file outside into a link to it.
        QVERIFY(makeArchive(downloads + QStringLiteral("/t.rar"), QStringLiteral(R"(t = tarfile.open(out, 'w')
def add(name, kind, link=''):
    i = tarfile.TarInfo(name); i.type = kind; i.linkname = link
    data = b'song' if kind == tarfile.REGTYPE else b''
    i.size = len(data); t.addfile(i, io.BytesIO(data))
add('album/01.mp3', tarfile.REGTYPE)
add('album/in.mp3', tarfile.SYMTYPE, '01.mp3')
add('album/up', tarfile.SYMTYPE, '../../../secret')
add('album/abs', tarfile.SYMTYPE, '%1/secret')
add('album/hard', tarfile.LNKTYPE, '%1/secret')
add('album/none', tarfile.SYMTYPE, 'missing')
t.close())").arg(home.home)));
        ImportPipeline pipeline;
        QVERIFY(pipeline.unpackArchive(b(downloads + QStringLiteral("/t.rar")), "rar"));
        QDirIterator it(downloads + QStringLiteral("/.Rivulet unpacking.download"), QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList left;
        while (it.hasNext())
            left << it.next().section(QLatin1Char('/'), -1);
        left.sort();
        QCOMPARE(left, (QStringList{QStringLiteral("01.mp3"), QStringLiteral("album"), QStringLiteral("in.mp3")}));
        QCOMPARE(readAll(home.path(QStringLiteral("secret"))), QByteArray("key"));
    }

    void aKeepFolderNeverTakesTheNameOfTheUsersOwnItem()
    {
        TempHome home;
        LogCapture log;
        ImportPipeline pipeline;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads + QStringLiteral("/scratch")) && writeFile(downloads + QStringLiteral("/report"), "the user's"));
        const QByteArray archive = b(downloads + QStringLiteral("/report.zip"));
        for (int round = 0; round < 2; ++round) { // the second time the same archive merges into its own folder
            QCOMPARE(keepFolderName(archive, "zip"), QByteArray("report 2"));
            QVERIFY(writeFile(downloads + QStringLiteral("/scratch/%1.mp3").arg(round), "song"));
            QVERIFY(pipeline.moveContentsOfDirectory(b(downloads + QStringLiteral("/scratch")), b(downloads + QStringLiteral("/report 2")), b(downloads)));
        }
        QCOMPARE(QDir(downloads + QStringLiteral("/report 2")).entryList(QDir::Files).size(), 2);
        QCOMPARE(readAll(downloads + QStringLiteral("/report")), QByteArray("the user's"));
        // A folder of the user's own by that name is not merged into either, nor one made for another archive.
        QVERIFY(QDir().mkpath(downloads + QStringLiteral("/live")));
        QCOMPARE(keepFolderName(b(downloads + QStringLiteral("/live.zip")), "zip"), QByteArray("live 2"));
        QCOMPARE(keepFolderName(b(downloads + QStringLiteral("/report 2.zip")), "zip"), QByteArray("report 2 2"));
    }

    void aCopyKeepsModificationTimes()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/a/b")) && writeFile(dir.path() + QStringLiteral("/a/b/01.mp3"), "song"));
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        for (const char *item : {"/a/b/01.mp3", "/a/b", "/a"})
            QVERIFY(::utimensat(AT_FDCWD, (b(dir.path()) + item).constData(), old, 0) == 0);
        QVERIFY(ByteFiles::copyTreeVerified(b(dir.path()) + "/a", b(dir.path()) + "/copy"));
        for (const char *item : {"/copy/b/01.mp3", "/copy/b", "/copy"}) {
            struct stat st;
            QVERIFY(::stat((b(dir.path()) + item).constData(), &st) == 0);
            QCOMPARE(qint64(st.st_mtime), qint64(1000000000));
        }
    }

    void aTrashPlantedByAnotherUserIsNotFollowed()
    {
        // A small file system of its own, as another disk is.
        QTemporaryDir fs;
        const QByteArray top = b(fs.path());
        if (::getuid() != 0 || ::mount("tmpfs", top.constData(), "tmpfs", 0, "size=16m") != 0)
            QSKIP("needs root to mount a tmpfs as another file system (CI runs as root)");
        const auto unmount = qScopeGuard([&top] { ::umount2(top.constData(), MNT_DETACH); });
        TempHome home;
        LogCapture log;
        const QByteArray uid = QByteArray::number(::getuid());
        const QByteArray ownTrash = top + "/.Trash-" + uid;
        // A shared .Trash as an administrator makes it, with this user's folder a link elsewhere.
        QVERIFY(::mkdir((top + "/.Trash").constData(), 01777) == 0 && ::chmod((top + "/.Trash").constData(), 01777) == 0);
        QTemporaryDir elsewhere;
        QVERIFY(::symlink(b(elsewhere.path()).constData(), (top + "/.Trash/" + uid).constData()) == 0);
        QVERIFY(writeBytes(top + "/caf\xe9 100%.mp3", "song") && Trash::moveToTrash(top + "/caf\xe9 100%.mp3"));
        QVERIFY(QDir(elsewhere.path()).isEmpty() && ByteFiles::isRegularFile(ownTrash + "/files/caf\xe9 100%.mp3"));
        // The info file keeps the raw bytes, percent-encoded, relative to the file system's top.
        QCOMPARE(readBytes(ownTrash + "/info/caf\xe9 100%.mp3.trashinfo").split('\n').value(1), QByteArray("Path=caf%E9%20100%25.mp3"));
        // A folder of another user's in its place is not used either.
        QVERIFY(::unlink((top + "/.Trash/" + uid).constData()) == 0);
        QVERIFY(::mkdir((top + "/.Trash/" + uid).constData(), 0777) == 0 && ::chown((top + "/.Trash/" + uid).constData(), 65534, 65534) == 0);
        QVERIFY(writeBytes(top + "/second.mp3", "song") && Trash::moveToTrash(top + "/second.mp3"));
        QVERIFY(ByteFiles::isRegularFile(ownTrash + "/files/second.mp3"));
        // No trash can be made there: the file stays.
        QVERIFY(ByteFiles::removeTree(ownTrash) && ByteFiles::removeTree(top + "/.Trash"));
        QVERIFY(writeBytes(ownTrash, "in the way") && writeBytes(top + "/third.mp3", "song"));
        QVERIFY(!Trash::moveToTrash(top + "/third.mp3"));
        QVERIFY(ByteFiles::isRegularFile(top + "/third.mp3"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveSafety)
#include "test_archive_safety.moc"
