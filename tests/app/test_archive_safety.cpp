// What the pipeline does with the files an archive brings: every move and
// Trash operation stays inside the archive's folder, unpacking is bounded
// while it runs and leaves nothing after a failure, names are bytes, and a
// shared trash planted by another user is not followed.
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "app/Trash.h"
#include "app/ArchiveSize.h"
#include "app/ArchiveUnpacking.h"
#include "base/ByteFiles.h"
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
QByteArray b(const QString &s)
{
    return QFile::encodeName(s);
}

// Reads a file by its byte path (QFile cannot name every byte path).
QByteArray readBytes(const QByteArray &path)
{
    QByteArray data;
    const int fd = ::open(path.constData(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        data.append(buffer, n);
    if (fd >= 0)
        ::close(fd);
    return data;
}

// A small file system of its own (tmpfs), mounted for one test; root only.
struct OtherFileSystem {
    QTemporaryDir dir;
    bool mounted = false;
    OtherFileSystem() { mounted = ::getuid() == 0 && ::mount("tmpfs", b(dir.path()).constData(), "tmpfs", 0, "size=16m") == 0; }
    ~OtherFileSystem()
    {
        if (mounted)
            ::umount2(b(dir.path()).constData(), MNT_DETACH);
    }
    QByteArray top() const { return b(dir.path()); }
};

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
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral("import sys, zipfile, tarfile, io\nout = sys.argv[1]\n") + script, out});
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

// A zip of zeros whose headers declare 1000 bytes: zipinfo believes them, unzip does not stop.
QByteArray lyingZip(const QString &work, int megabytes)
{
    QFile zeros(work + QStringLiteral("/zeros.mp3"));
    if (!zeros.open(QIODevice::WriteOnly))
        return {};
    zeros.write(QByteArray(megabytes << 20, '\0'));
    zeros.close();
    QProcess zip;
    zip.setWorkingDirectory(work);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("liar.zip"), QStringLiteral("zeros.mp3")});
    if (!zip.waitForFinished(20000) || zip.exitCode() != 0)
        return {};
    QByteArray data = readAll(work + QStringLiteral("/liar.zip"));
    const quint32 declared = 1000;
    for (const auto &[signature, offset] : {std::pair{QByteArray("PK\x03\x04"), 22}, std::pair{QByteArray("PK\x01\x02"), 24}}) {
        const qsizetype at = data.indexOf(signature);
        if (at < 0)
            return {};
        memcpy(data.data() + at + offset, &declared, 4);
    }
    return data;
}
}

class TestArchiveSafety : public QObject {
    Q_OBJECT

private slots:
    void logLinesCannotBeForgedOrColourTheTerminal()
    {
        LogCapture log;
        const QByteArray name = "/d/09 \x1b[31mred\nFORGED + Added x to MPD\r\t\x7f.mp3";
        Log::f("+ Added %@ to %@", name, "MPD");
        QCOMPARE(log.lines().size(), 1);
        QCOMPARE(log.lines().first(), QStringLiteral("+ Added /d/09 \\x1b[31mred\\nFORGED + Added x to MPD\\r\\t\\x7f.mp3 to MPD"));
        QCOMPARE(Log::escapeControls(QStringLiteral("plain \u00e9 text")), QStringLiteral("plain \u00e9 text"));
        QCOMPARE(Log::escapeControls(QString(QChar(0x9b))), QStringLiteral("\\x9b"));
    }

    void movesAndTrashStayInsideTheArchiveFolder()
    {
        TempHome home;
        LogCapture log;
        Rivulet_AppDelegate app(false);
        const QString downloads = home.path(QStringLiteral("Downloads"));
        const QString scratch = downloads + QStringLiteral("/.scratch.download");
        QDir().mkpath(scratch);
        QVERIFY(writeFile(scratch + QStringLiteral("/.bashrc"), "from the archive"));
        QVERIFY(writeFile(home.path(QStringLiteral(".bashrc")), "the user's"));

        // The folder above, by "..", the folder itself, or a name that only starts like it: refused, nothing moved.
        QVERIFY(QDir().mkpath(downloads + QStringLiteral("/sub")));
        for (const QString &destination : {downloads + QStringLiteral("/.."), downloads + QStringLiteral("/sub/../.."), downloads,
                                           downloads + QStringLiteral("/sub/.."), home.path(QStringLiteral("Downloads2"))}) {
            QVERIFY(!app.fsMoveContentsOfDirectory(b(scratch), b(destination), b(downloads)));
            QCOMPARE(readAll(home.path(QStringLiteral(".bashrc"))), QByteArray("the user's"));
            QVERIFY(QFile::exists(scratch + QStringLiteral("/.bashrc")));
        }
        // A link named like the keep folder, pointing home.
        QVERIFY(QFile::link(home.home, downloads + QStringLiteral("/up")));
        QVERIFY(app.fsMoveContentsOfDirectory(b(scratch), b(downloads + QStringLiteral("/up")), b(downloads)));
        QCOMPARE(readAll(home.path(QStringLiteral(".bashrc"))), QByteArray("the user's"));
        // The link named like the keep folder went to the Trash (not what it names), and a real folder took its place.
        QVERIFY(QFileInfo(downloads + QStringLiteral("/up")).isDir() && !QFileInfo(downloads + QStringLiteral("/up")).isSymLink());
        QCOMPARE(readAll(downloads + QStringLiteral("/up/.bashrc")), QByteArray("from the archive"));
        QVERIFY(QFileInfo(home.path(QStringLiteral(".local/share/Trash/files/up"))).isSymLink());
        QVERIFY(log.contains(QStringLiteral("Not moving the unpacked files to ") + downloads + QStringLiteral("/..")));

        // The Trash takes nothing from outside the folder either.
        QVERIFY(!app.fsMoveToTrash(home.bytes(QStringLiteral(".bashrc")), b(downloads)));
        QVERIFY(!app.fsMoveToTrash(b(downloads + QStringLiteral("/sub/../../.bashrc")), b(downloads)));
        QVERIFY(!app.fsMoveToTrash(b(downloads + QStringLiteral("/up/../../.bashrc")), b(downloads + QStringLiteral("/up"))));
        QCOMPARE(readAll(home.path(QStringLiteral(".bashrc"))), QByteArray("the user's"));
        QVERIFY(log.contains(QStringLiteral("Not moving ") + home.path(QStringLiteral(".bashrc")) + QStringLiteral(" to the Trash: it is not inside ")));
    }

    void namesThatAreNotTextAreMovedAndRemoved()
    {
        TempHome home;
        LogCapture log;
        Rivulet_AppDelegate app(false);
        const QByteArray downloads = home.bytes(QStringLiteral("Downloads"));
        const QByteArray scratch = downloads + "/scratch";
        QVERIFY(QDir().mkpath(QString::fromUtf8(scratch + "/d\xc3\xa9j\xc3\xa0")));
        QVERIFY(::mkdir((scratch + "/caf\x82").constData(), 0755) == 0);
        QVERIFY(writeFile(QFile::decodeName(scratch) + QStringLiteral("/x"), "x"));
        QVERIFY(::rename((scratch + "/x").constData(), (scratch + "/caf\x82/07 caf\x82.mp3").constData()) == 0);
        const auto names = ByteFiles::listNames(scratch);
        QVERIFY(names && names->contains("caf\x82"));
        QVERIFY(app.fsMoveContentsOfDirectory(scratch, downloads + "/album", downloads));
        QCOMPARE(ByteFiles::listNames(scratch)->size(), 0);
        QVERIFY(ByteFiles::isRegularFile(downloads + "/album/caf\x82/07 caf\x82.mp3"));

        // Removing a tree removes a link in it, never what the link names.
        QVERIFY(QFile::link(home.home, QFile::decodeName(downloads + "/album/home")));
        QVERIFY(ByteFiles::removeTree(downloads + "/album"));
        QVERIFY(!ByteFiles::exists(downloads + "/album"));
        QVERIFY(ByteFiles::isFolder(downloads));
    }

    void unpackingIsBoundedWhileItRunsAndLeavesNothingWhenItFails()
    {
        TempHome home;
        LogCapture log;
        QTemporaryDir work;
        const QByteArray liar = lyingZip(work.path(), 40);
        QVERIFY(!liar.isEmpty());
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QDir().mkpath(downloads);
        QVERIFY(writeFile(downloads + QStringLiteral("/liar.zip"), liar));
        qputenv("RIVULET_UNPACK_LIMIT", "4000000");
        Rivulet_AppDelegate app(false);
        QVERIFY(!app.unpackArchive(b(downloads + QStringLiteral("/liar.zip")), "zip"));
        qunsetenv("RIVULET_UNPACK_LIMIT");
        // No scratch folder is left, beside the archive or in the data folder; the archive stays.
        QCOMPARE(QDir(downloads).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral("liar.zip")});
        QVERIFY(!QFile::exists(home.supportDir() + QStringLiteral("/archiveTemp")));
        QVERIFY(!QFile::exists(home.supportDir() + QStringLiteral("/archiveLink")));


        // A link named like an archive is not unpacked.
        QVERIFY(QFile::link(home.path(QStringLiteral(".bashrc")), downloads + QStringLiteral("/link.zip")));
        QVERIFY(!app.unpackArchive(b(downloads + QStringLiteral("/link.zip")), "zip"));
        QVERIFY(log.contains(QStringLiteral("link.zip is not a regular file; not unpacked")));
    }

    void anArchiveWhoseNameIsNotTextIsUnpacked()
    {
        TempHome home;
        LogCapture log;
        QTemporaryDir work;
        QVERIFY(writeFile(work.path() + QStringLiteral("/01 song.mp3"), "music"));
        // Dated in the future: unpacked, it must not look newer than every later scan.
        QVERIFY(QProcess::execute(QStringLiteral("touch"), {QStringLiteral("-d"), QStringLiteral("2031-01-01"), work.path() + QStringLiteral("/01 song.mp3")}) == 0);
        QProcess zip;
        zip.setWorkingDirectory(work.path());
        zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("a.zip"), QStringLiteral("01 song.mp3")});
        QVERIFY(zip.waitForFinished(10000) && zip.exitCode() == 0);
        const QByteArray downloads = home.bytes(QStringLiteral("Downloads/caf\u00e9"));
        QVERIFY(QDir().mkpath(QFile::decodeName(downloads)));
        const QByteArray archive = downloads + "/alb\xe9 \xff.zip";
        QVERIFY(::rename(b(work.path() + QStringLiteral("/a.zip")).constData(), archive.constData()) == 0);
        Rivulet_AppDelegate app(false);
        QVERIFY(app.unpackArchive(archive, "zip"));
        // Unpacked beside the archive, in the hidden scratch folder the watcher ignores.
        QCOMPARE(readBytes(downloads + "/.Rivulet unpacking.download/01 song.mp3"), QByteArray("music"));
        struct stat st;
        QVERIFY(::stat((downloads + "/.Rivulet unpacking.download/01 song.mp3").constData(), &st) == 0);
        QVERIFY(st.st_mtime <= ::time(nullptr));
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
        QVERIFY(shape.complete);
        QCOMPARE(shape.depth, 1101);
        QCOMPARE(shape.folders, 1100);
        QVERIFY(size >= 8 << 20); // the folders alone take 4.5 MB
        QVERIFY(stopped.exceeds(bound) && stopped.depth == 33); // the walk stops at the first level past the bound
        QVERIFY(removed);
        QVERIFY(!ByteFiles::exists(root));
    }

    void archivesPastTheBoundsAreRefusedAndKept_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("33 levels deep") << QStringLiteral("z = zipfile.ZipFile(out, 'w'); z.writestr('d/' * 32 + '01.mp3', b'x')");
        QTest::newRow("1001 folders") << QStringLiteral("z = zipfile.ZipFile(out, 'w')\nfor i in range(1001): z.writestr('f%d/01.mp3' % i, b'x')");
        QTest::newRow("10001 entries") << QStringLiteral("z = zipfile.ZipFile(out, 'w')\nfor i in range(10001): z.writestr('%d.txt' % i, b'')");
    }
    void archivesPastTheBoundsAreRefusedAndKept()
    {
        QFETCH(QString, script);
        TempHome home;
        LogCapture log;
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads) && makeArchive(downloads + QStringLiteral("/a.zip"), script + QStringLiteral("\nz.close()")));
        Rivulet_AppDelegate app(false);
        QVERIFY(!app.unpackArchive(b(downloads + QStringLiteral("/a.zip")), "zip"));
        QCOMPARE(QDir(downloads).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral("a.zip")});
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
        Rivulet_AppDelegate app(false);
        QVERIFY(app.unpackArchive(b(downloads + QStringLiteral("/ro.zip")), "zip"));
        const QByteArray scratch = b(downloads + QStringLiteral("/.Rivulet unpacking.download"));
        QVERIFY(app.fsMoveContentsOfDirectory(scratch, b(downloads + QStringLiteral("/ro")), b(downloads)));
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
        Rivulet_AppDelegate app(false);
        QVERIFY(app.unpackArchive(b(downloads + QStringLiteral("/t.rar")), "rar"));
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
        Rivulet_AppDelegate app(false);
        const QString downloads = home.path(QStringLiteral("Downloads"));
        QVERIFY(QDir().mkpath(downloads + QStringLiteral("/scratch")) && writeFile(downloads + QStringLiteral("/report"), "the user's"));
        const QByteArray archive = b(downloads + QStringLiteral("/report.zip"));
        for (int round = 0; round < 2; ++round) { // the second time the same archive merges into its own folder
            QCOMPARE(keepFolderName(archive, "zip"), QByteArray("report 2"));
            QVERIFY(writeFile(downloads + QStringLiteral("/scratch/%1.mp3").arg(round), "song"));
            QVERIFY(app.fsMoveContentsOfDirectory(b(downloads + QStringLiteral("/scratch")), b(downloads + QStringLiteral("/report 2")), b(downloads)));
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
        for (const char *item : {"/a/b/01.mp3", "/a/b", "/a"}) {
            const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
            QVERIFY(::utimensat(AT_FDCWD, (b(dir.path()) + item).constData(), old, 0) == 0);
        }
        QVERIFY(ByteFiles::copyTreeVerified(b(dir.path()) + "/a", b(dir.path()) + "/copy"));
        for (const char *item : {"/copy/b/01.mp3", "/copy/b", "/copy"}) {
            struct stat st;
            QVERIFY(::stat((b(dir.path()) + item).constData(), &st) == 0);
            QCOMPARE(qint64(st.st_mtime), qint64(1000000000));
        }
    }

    void aTrashPlantedByAnotherUserIsNotFollowed()
    {
        OtherFileSystem fs;
        if (!fs.mounted)
            QSKIP("needs root to mount a tmpfs as another file system (CI runs as root)");
        TempHome home;
        LogCapture log;
        const QByteArray top = fs.top();
        const QByteArray uid = QByteArray::number(::getuid());
        // A shared .Trash as an administrator makes it, with this user's folder a link elsewhere.
        QVERIFY(::mkdir((top + "/.Trash").constData(), 01777) == 0 && ::chmod((top + "/.Trash").constData(), 01777) == 0);
        QTemporaryDir elsewhere;
        QVERIFY(::symlink(b(elsewhere.path()).constData(), (top + "/.Trash/" + uid).constData()) == 0);
        QVERIFY(writeFile(QFile::decodeName(top) + QStringLiteral("/x"), "song"));
        const QByteArray song = top + "/caf\xe9 100%.mp3";
        QVERIFY(::rename((top + "/x").constData(), song.constData()) == 0);
        QVERIFY(Trash::moveToTrash(song));
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        QVERIFY(ByteFiles::isRegularFile(top + "/.Trash-" + uid + "/files/caf\xe9 100%.mp3"));
        // The info file keeps the raw bytes, percent-encoded, relative to the file system's top.
        QCOMPARE(readBytes(top + "/.Trash-" + uid + "/info/caf\xe9 100%.mp3.trashinfo").split('\n').value(1),
                 QByteArray("Path=caf%E9%20100%25.mp3"));

        // A folder of another user's in its place is not used either.
        QVERIFY(::unlink((top + "/.Trash/" + uid).constData()) == 0);
        QVERIFY(::mkdir((top + "/.Trash/" + uid).constData(), 0777) == 0 && ::chown((top + "/.Trash/" + uid).constData(), 65534, 65534) == 0);
        QVERIFY(writeFile(QFile::decodeName(top) + QStringLiteral("/second.mp3"), "song"));
        QVERIFY(Trash::moveToTrash(top + "/second.mp3"));
        QVERIFY(ByteFiles::isRegularFile(top + "/.Trash-" + uid + "/files/second.mp3"));

        // No trash can be made there: the file stays, and the log says so.
        QVERIFY(ByteFiles::removeTree(top + "/.Trash-" + uid) && ByteFiles::removeTree(top + "/.Trash"));
        QVERIFY(writeFile(QFile::decodeName(top) + QStringLiteral("/.Trash-") + QString::fromLatin1(uid), "in the way"));
        QVERIFY(writeFile(QFile::decodeName(top) + QStringLiteral("/third.mp3"), "song"));
        QVERIFY(!Trash::moveToTrash(top + "/third.mp3"));
        QVERIFY(ByteFiles::isRegularFile(top + "/third.mp3"));
        QVERIFY(log.contains(QStringLiteral("/third.mp3 to the Trash; it stays where it is")));
    }
};

QTEST_GUILESS_MAIN(TestArchiveSafety)
#include "test_archive_safety.moc"
