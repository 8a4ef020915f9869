// What the pipeline does with the files an archive brings: moves, Trash, bounded unpacking, names as bytes.
#include "TestSupport.h"
#include "app/ArchiveSize.h"
#include "app/ArchiveUnpacking.h"
#include "app/ImportPipeline.h"
#include "app/Trash.h"
#include "base/ByteFiles.h"
#include "support/Bytes.h"
#include <QProcess>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray b(const QString &s) { return QFile::encodeName(s); }

QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); }

struct Rig {
    TempHome home;
    LogCapture log;
    ImportPipeline pipeline;
    QString downloads = home.path(u"Downloads"_s);
    Rig() { QDir().mkpath(downloads); }
    QString at(const QString &rel) const { return downloads + u'/' + rel; }
    QByteArray bytesAt(const QString &rel) const { return b(at(rel)); }
};

// This thread without root's power over file modes, for the scope.
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

// An archive written by a Python script that fills the path `out`.
bool makeArchive(const QString &out, const QString &script)
{
    QProcess python;
    python.start(u"python3"_s, {u"-c"_s, u"import os, sys, zipfile, tarfile, io\nout = sys.argv[1]\n"_s + script, out});
    return python.waitForFinished(60000) && python.exitCode() == 0;
}

// Folders "d" depth levels deep with a file at the end, made by descriptor (the path is too long for one).
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
    ::close(file), ::close(fd); // -1 for one not opened: refused harmlessly
    return ok;
}

qint64 mtimeOf(const QByteArray &path)
{
    struct stat st{};
    return ::stat(path.constData(), &st) == 0 ? qint64(st.st_mtime) : -1;
}
}

class TestArchiveSafety : public QObject {
    Q_OBJECT

private slots:
    void logLinesCannotBeForged()
    {
        LogCapture log;
        Log::f("+ Added %@ to %@", QByteArray("/d/09 \x1b[31mred\nFORGED + Added x to MPD\r\t\x7f.mp3"), "MPD");
        QCOMPARE(log.lines(), QStringList{u"+ Added /d/09 \\x1b[31mred\\nFORGED + Added x to MPD\\r\\t\\x7f.mp3 to MPD"_s});
        QCOMPARE(Log::escapeControls(u"plain \u00e9 text"_s), u"plain \u00e9 text"_s);
        QCOMPARE(Log::escapeControls(QString(QChar(0x9b))), u"\\x9b"_s);
    }

    void trashKeepsEveryItemAndItsOrigin()
    {
        TempHome home;
        LogCapture log;
        QVERIFY(!QFile::exists(home.path(u".local/share"_s))); // the trash is made, not the current folder used
        const QString odd = u"odd 100%.mp3"_s, trash = home.path(u".local/share/Trash"_s);
        for (int i = 0; i < 2; ++i)
            QVERIFY(writeFile(home.path(odd), QByteArray::number(i)) && Trash::moveToTrash(home.bytes(odd)));
        QCOMPARE(readAll(trash + u"/files/"_s + odd), QByteArray("0"));
        QCOMPARE(readAll(trash + u"/files/"_s + odd + u".2"_s), QByteArray("1"));
        QVERIFY(readAll(trash + u"/info/"_s + odd + u".2.trashinfo"_s)
                    .startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(home.path(odd), "/") + "\nDeletionDate="));
        QVERIFY(!Trash::moveToTrash(home.bytes(u"never there.mp3"_s)));
        // A 255-byte name goes under a shorter one; a folder goes whole.
        const QString longName = QString(251, u'L') + u".mp3"_s;
        QVERIFY(writeFile(home.path(longName), "long") && Trash::moveToTrash(home.bytes(longName)));
        QVERIFY(readAll(trash + u"/info/"_s + longName.left(240) + u".trashinfo"_s).contains(b(longName)));
        QVERIFY(QDir().mkpath(home.path(u"album/cd1"_s)) && Trash::moveToTrash(home.bytes(u"album"_s)));
        QVERIFY(QFile::exists(trash + u"/files/album/cd1"_s));
        QTemporaryDir fs; // a file system of its own, as another disk
        const QByteArray top = b(fs.path());
        if (::getuid() != 0 || ::mount("tmpfs", top.constData(), "tmpfs", 0, "size=16m") != 0)
            QSKIP("needs root to mount a tmpfs as another file system (CI runs as root)");
        const auto unmount = qScopeGuard([&top] { ::umount2(top.constData(), MNT_DETACH); });
        const QByteArray uid = QByteArray::number(::getuid()), ownTrash = top + "/.Trash-" + uid, shared = top + "/.Trash/" + uid;
        // A shared .Trash with this user's folder a link elsewhere.
        QVERIFY(::mkdir((top + "/.Trash").constData(), 01777) == 0 && ::chmod((top + "/.Trash").constData(), 01777) == 0);
        QTemporaryDir elsewhere;
        QVERIFY(::symlink(b(elsewhere.path()).constData(), shared.constData()) == 0);
        QVERIFY(writeBytes(top + "/caf\xe9 100%.mp3", "song") && Trash::moveToTrash(top + "/caf\xe9 100%.mp3"));
        QVERIFY(QDir(elsewhere.path()).isEmpty() && ByteFiles::isRegularFile(ownTrash + "/files/caf\xe9 100%.mp3"));
        QCOMPARE(readBytes(ownTrash + "/info/caf\xe9 100%.mp3.trashinfo").split('\n').value(1), QByteArray("Path=caf%E9%20100%25.mp3"));
        QVERIFY(::unlink(shared.constData()) == 0 && ::mkdir(shared.constData(), 0777) == 0 && ::chown(shared.constData(), 65534, 65534) == 0);
        QVERIFY(writeBytes(top + "/second.mp3", "song") && Trash::moveToTrash(top + "/second.mp3"));
        QVERIFY(ByteFiles::isRegularFile(ownTrash + "/files/second.mp3"));
        QVERIFY(ByteFiles::removeTree(ownTrash) && ByteFiles::removeTree(top + "/.Trash"));
        QVERIFY(writeBytes(ownTrash, "in the way") && writeBytes(top + "/third.mp3", "song"));
        QVERIFY(!Trash::moveToTrash(top + "/third.mp3") && ByteFiles::isRegularFile(top + "/third.mp3"));
    }

    void movesAndTrashStayInsideTheArchiveFolder()
    {
        Rig r;
        const QString scratch = r.at(u".scratch.download"_s);
        QVERIFY(QDir().mkpath(scratch) && QDir().mkpath(r.at(u"sub"_s)));
        QVERIFY(writeFile(scratch + u"/.bashrc"_s, "from the archive") && writeFile(r.home.path(u".bashrc"_s), "the user's"));
        // The folder above, the folder itself, or a name that only starts like it: refused.
        for (const QString &destination : {r.at(u".."_s), r.at(u"sub/../.."_s), r.downloads, r.at(u"sub/.."_s), r.home.path(u"Downloads2"_s)}) {
            QVERIFY(!r.pipeline.moveContentsOfDirectory(b(scratch), b(destination), b(r.downloads)));
            QVERIFY(QFile::exists(scratch + u"/.bashrc"_s));
        }
        // A link in the keep folder's place goes to the Trash, not what it names.
        QVERIFY(QFile::link(r.home.home, r.at(u"up"_s)));
        QVERIFY(r.pipeline.moveContentsOfDirectory(b(scratch), r.bytesAt(u"up"_s), b(r.downloads)));
        QVERIFY(QFileInfo(r.at(u"up"_s)).isDir() && !QFileInfo(r.at(u"up"_s)).isSymLink());
        QCOMPARE(readAll(r.at(u"up/.bashrc"_s)), QByteArray("from the archive"));
        QVERIFY(QFileInfo(r.home.path(u".local/share/Trash/files/up"_s)).isSymLink());
        QVERIFY(!r.pipeline.moveToTrash(r.home.bytes(u".bashrc"_s), b(r.downloads)));
        QVERIFY(!r.pipeline.moveToTrash(r.bytesAt(u"sub/../../.bashrc"_s), b(r.downloads)));
        QVERIFY(!r.pipeline.moveToTrash(r.bytesAt(u"up/../../.bashrc"_s), r.bytesAt(u"up"_s)));
        QCOMPARE(readAll(r.home.path(u".bashrc"_s)), QByteArray("the user's"));
    }

    // Names are bytes: moved, removed and unpacked as they are; an item the move replaces goes to the Trash.
    void namesThatAreNotText()
    {
        Rig r;
        const QByteArray downloads = b(r.downloads), scratch = downloads + "/scratch";
        QVERIFY(QDir().mkpath(QString::fromUtf8(scratch + "/d\xc3\xa9j\xc3\xa0")) && QDir().mkpath(r.at(u"album"_s)));
        QVERIFY(::mkdir((scratch + "/caf\x82").constData(), 0755) == 0);
        QVERIFY(writeBytes(scratch + "/caf\x82/07 caf\x82.mp3", "x") && writeBytes(scratch + "/a.mp3", "new") && writeBytes(downloads + "/album/a.mp3", "old"));
        QVERIFY(r.pipeline.moveContentsOfDirectory(scratch, downloads + "/album", downloads));
        QCOMPARE(ByteFiles::listNames(scratch)->size(), 0);
        QVERIFY(ByteFiles::isRegularFile(downloads + "/album/caf\x82/07 caf\x82.mp3"));
        QCOMPARE(readBytes(downloads + "/album/a.mp3"), QByteArray("new"));
        QCOMPARE(readAll(r.home.path(u".local/share/Trash/files/a.mp3"_s)), QByteArray("old"));
        QVERIFY(QFile::link(r.home.home, r.at(u"album/home"_s)));
        QVERIFY(ByteFiles::removeTree(downloads + "/album") && !ByteFiles::exists(downloads + "/album") && ByteFiles::isFolder(downloads));
        // An archive named by bytes, dated in the future: unpacked, it must not look newer than later scans.
        const QByteArray archive = scratch + "/alb\xe9 \xff.zip", song = scratch + "/.Rivulet unpacking.download/01 song.mp3";
        QVERIFY(makeArchive(r.home.path(u"a.zip"_s), u"z = zipfile.ZipFile(out, 'w')\n"
                                                     "i = zipfile.ZipInfo('01 song.mp3', (2031, 1, 1, 0, 0, 0)); z.writestr(i, b'music'); z.close()"_s));
        QVERIFY(::rename(r.home.bytes(u"a.zip"_s).constData(), archive.constData()) == 0 && r.pipeline.unpackArchive(archive, "zip"));
        QVERIFY(readBytes(song) == "music" && mtimeOf(song) <= ::time(nullptr));
        QVERIFY(ByteFiles::removeTree(scratch)); // QTemporaryDir cannot remove names that are not UTF-8
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
        const auto restore = qScopeGuard([&saved] { ::setrlimit(RLIMIT_NOFILE, &saved); });
        QVERIFY(ByteFiles::treeSize(root) >= 8 << 20);
        const ByteFiles::TreeShape shape = ByteFiles::measureTree(root), bound = ArchiveSize::mostAnArchiveHolds();
        QVERIFY(shape.complete && shape.depth == 1101 && shape.folders == 1100);
        const ByteFiles::TreeShape stopped = ByteFiles::measureTree(root, bound);
        QVERIFY(stopped.exceeds(bound) && stopped.depth == 33); // stops at the first level past the bound
        QVERIFY(ByteFiles::removeTree(root) && !ByteFiles::exists(root));
    }

    // Refused before or while unpacking (at most 4 MB here): nothing is left but the archive.
    void unpackingIsBounded_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("script");
        QTest::newRow("33 levels deep") << u"a.zip"_s << u"z = zipfile.ZipFile(out, 'w'); z.writestr('d/' * 32 + '01.mp3', b'x')"_s;
        QTest::newRow("1001 folders") << u"a.zip"_s << u"z = zipfile.ZipFile(out, 'w')\nfor i in range(1001): z.writestr('f%d/01.mp3' % i, b'x')"_s;
        QTest::newRow("10001 entries") << u"a.zip"_s << u"z = zipfile.ZipFile(out, 'w')\nfor i in range(10001): z.writestr('%d.txt' % i, b'')"_s;
        const QString zeros = u"z = zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED); z.writestr('zeros.mp3', bytes(%1 << 20))\n"_s;
        QTest::newRow("declares more than there is room for") << u"a.zip"_s << zeros.arg(8);
        // Its headers declare 1000 bytes: the listing believes them.
        QTest::newRow("holds more than it declares") << u"a.zip"_s << zeros.arg(40) + u"z.close(); d = bytearray(open(out, 'rb').read())\n"
            "for sig, at in ((b'PK\\x03\\x04', 22), (b'PK\\x01\\x02', 24)):\n    i = d.find(sig); d[i + at:i + at + 4] = (1000).to_bytes(4, 'little')\n"
            "z = open(out, 'wb'); z.write(d)"_s;
        QTest::newRow("a link named like an archive") << u"a.zip"_s << u"os.symlink(os.environ['HOME'] + '/.bashrc', out); z = open(os.devnull)"_s;
        // A stand-in unar reports a decrunching error with status 0 (no real archive makes it do that).
        QTest::newRow("rar with error text, status 0") << u"a.rar"_s << u"z = open(out, 'w'); z.write('not really')"_s;
    }
    void unpackingIsBounded()
    {
        QFETCH(QString, name);
        QFETCH(QString, script);
        Rig r;
        const QByteArray type = QFileInfo(name).suffix().toLatin1(), oldPath = qgetenv("PATH");
        const QString unar = r.home.path(u"bin/unar"_s);
        QVERIFY(makeArchive(r.at(name), script + u"\nz.close()"_s));
        QVERIFY(QDir().mkpath(r.home.path(u"bin"_s)) && writeFile(unar, "#!/bin/sh\necho 'Error on decrunching'\nexit 0\n"));
        QFile::setPermissions(unar, QFile::ReadOwner | QFile::ExeOwner);
        qputenv("PATH", r.home.bytes(u"bin"_s) + ':' + oldPath);
        qputenv("RIVULET_UNPACK_LIMIT", "4000000");
        const bool unpacked = r.pipeline.unpackArchive(r.bytesAt(name), type);
        qunsetenv("RIVULET_UNPACK_LIMIT");
        qputenv("PATH", oldPath);
        QVERIFY(!unpacked && (type != "rar" || r.log.contains(u"^^CWTask returned, status:0 ;"_s)));
        QVERIFY(!r.pipeline.unpackArchive(r.bytesAt(name), "7z"));
        QCOMPARE(entries(r.downloads), QStringList{name});
        QCOMPARE(entries(r.home.supportDir()), QStringList());
    }

    void readOnlyFoldersAreMovedAndRemoved()
    {
        Rig r;
        QVERIFY(makeArchive(r.at(u"ro.zip"_s), uR"(z = zipfile.ZipFile(out, 'w')
for name, mode in (('album/', 0o40555), ('album/cd/', 0o40555), ('album/cd/01.mp3', 0o100444)):
    i = zipfile.ZipInfo(name); i.external_attr = mode << 16; i.create_system = 3
    z.writestr(i, b'' if name.endswith('/') else b'song')
z.close())"_s));
        OrdinaryUser ordinary;
        // Out of a read-only folder the Trash tries once, not for every free number.
        QVERIFY(QDir().mkpath(r.at(u"locked"_s)) && writeFile(r.at(u"locked/x.mp3"_s), "x"));
        QVERIFY(::chmod(r.bytesAt(u"locked"_s).constData(), 0555) == 0);
        const QByteArray info = r.home.bytes(u".local/share/Trash/info"_s);
        QVERIFY(ByteFiles::makePath(info));
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, info.constData(), IN_CREATE) >= 0);
        QVERIFY(!Trash::moveToTrash(r.bytesAt(u"locked/x.mp3"_s)));
        int created = 0;
        char events[65536];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
            for (char *e = events; e < events + n; e += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(e)->len)
                ++created;
        ::close(watch);
        QCOMPARE(created, 1);
        QVERIFY(ByteFiles::isRegularFile(r.bytesAt(u"locked/x.mp3"_s)));
        QVERIFY(r.pipeline.unpackArchive(r.bytesAt(u"ro.zip"_s), "zip"));
        const QByteArray scratch = r.bytesAt(u".Rivulet unpacking.download"_s);
        QVERIFY(r.pipeline.moveContentsOfDirectory(scratch, r.bytesAt(u"ro"_s), b(r.downloads)));
        QCOMPARE(readAll(r.at(u"ro/album/cd/01.mp3"_s)), QByteArray("song"));
        QVERIFY(ByteFiles::removeTree(scratch));
        QVERIFY(::chmod(r.bytesAt(u"ro/album/cd"_s).constData(), 0555) == 0 && ByteFiles::removeTree(r.bytesAt(u"ro"_s)));
    }

    void aKeepFolderNeverTakesTheNameOfTheUsersOwnItem()
    {
        Rig r;
        QVERIFY(QDir().mkpath(r.at(u"scratch"_s)) && writeFile(r.at(u"report"_s), "the user's"));
        for (int round = 0; round < 2; ++round) { // the second time it merges into its own folder
            QCOMPARE(keepFolderName(r.bytesAt(u"report.zip"_s), "zip"), QByteArray("report 2"));
            QVERIFY(writeFile(r.at(u"scratch/%1.mp3"_s.arg(round)), "song"));
            QVERIFY(r.pipeline.moveContentsOfDirectory(r.bytesAt(u"scratch"_s), r.bytesAt(u"report 2"_s), b(r.downloads)));
        }
        QCOMPARE(QDir(r.at(u"report 2"_s)).entryList(QDir::Files).size(), 2);
        QCOMPARE(readAll(r.at(u"report"_s)), QByteArray("the user's"));
        QVERIFY(QDir().mkpath(r.at(u"live"_s)));
        QCOMPARE(keepFolderName(r.bytesAt(u"live.zip"_s), "zip"), QByteArray("live 2"));
        QCOMPARE(keepFolderName(r.bytesAt(u"report 2.zip"_s), "zip"), QByteArray("report 2 2"));
    }

    void aCopyKeepsModificationTimes()
    {
        QTemporaryDir dir;
        const QByteArray top = b(dir.path());
        QVERIFY(QDir().mkpath(dir.filePath(u"a/b"_s)) && writeFile(dir.filePath(u"a/b/01.mp3"_s), "song"));
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        for (const char *item : {"/a/b/01.mp3", "/a/b", "/a"})
            QVERIFY(::utimensat(AT_FDCWD, (top + item).constData(), old, 0) == 0);
        QVERIFY(ByteFiles::copyTreeVerified(top + "/a", top + "/copy"));
        for (const char *item : {"/copy/b/01.mp3", "/copy/b", "/copy"})
            QCOMPARE(mtimeOf(top + item), qint64(1000000000));
    }
};

QTEST_GUILESS_MAIN(TestArchiveSafety)
#include "test_archive_safety.moc"
