// Load and save of a store with 1,000 folder records and 10,000 file records,
// each as a ratio against reading and writing (with fsync) the same number of
// bytes as a plain file in the same run. Then a large store (10,000 folders,
// 100,000 files) is loaded in a fresh process of this program, which reports
// its load time and the resident memory after the load.
#include "../tests/store/StoreFixture.h"
#include "store/Directory.h"
#include "store/File.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {
double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double plainWrite(const QString &path, const QByteArray &bytes)
{
    QElapsedTimer t;
    t.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    [[maybe_unused]] ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
    ::fsync(fd);
    ::close(fd);
    return double(t.nsecsElapsed()) / 1e6;
}

double plainRead(const QString &path)
{
    QElapsedTimer t;
    t.start();
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    volatile qsizetype size = f.readAll().size();
    (void)size;
    return double(t.nsecsElapsed()) / 1e6;
}

// Resident memory of this process in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// A store shaped like a large Downloads: artist folders holding album folders,
// ten tracks in each album and in each artist folder.
void makeStore(const QString &path, int artists, int albumsPerArtist)
{
    OpenStore s(path);
    auto *ctx = s.context.get();
    auto *root = ctx->insertNew<Directory>();
    root->setName("root");
    auto addTracks = [&](Directory *dir) {
        for (int f = 0; f < 10; ++f) {
            auto *file = ctx->insertNew<File>();
            file->setName(dir->name() + "/0" + QByteArray::number(f) + " Track Title.mp3");
            file->setSize(quint64(4000000 + f));
            file->setModified(dateNow());
            dir->addFilesObject(file);
        }
    };
    for (int a = 0; a < artists; ++a) {
        auto *artist = ctx->insertNew<Directory>();
        artist->setName("/home/user/Downloads/Artist Name " + QByteArray::number(a));
        artist->setLastScanTime(dateNow());
        root->addSubdirectoriesObject(artist);
        addTracks(artist);
        for (int b = 0; b < albumsPerArtist; ++b) {
            auto *album = ctx->insertNew<Directory>();
            album->setName(artist->name() + "/Album " + QByteArray::number(b));
            album->setLastScanTime(dateNow());
            artist->addSubdirectoriesObject(album);
            addTracks(album);
        }
    }
    StoreError e;
    if (!ctx->save(&e))
        fprintf(stderr, "could not save the store: %s\n", qPrintable(e.text()));
}

// Time this process has spent on a CPU, in ms: on a busy machine it shows the
// load's own cost where the elapsed time also holds the waits for a CPU.
double cpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Child mode: load the store at path and print "<ms> <KiB before> <KiB after> <records> <CPU ms>".
int loadOnce(const QString &path)
{
    const long before = residentKiB();
    QElapsedTimer t;
    t.start();
    const double cpuBefore = cpuMs();
    OpenStore s(path);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const double cpu = cpuMs() - cpuBefore;
    if (!s.ok()) {
        fprintf(stderr, "load failed: %s\n", qPrintable(s.error.text()));
        return 1;
    }
    printf("%.2f %ld %ld %zu %.2f\n", ms, before, residentKiB(), s.context->liveCount(), cpu);
    return 0;
}

void largeStore(const QString &self, const QString &dir)
{
    const QString path = dir + QStringLiteral("/large-storedata");
    makeStore(path, 1000, 9);
    std::vector<double> load, floorRead, kib, perRecord, cpu;
    qint64 bytes = QFile(path).size();
    size_t records = 0;
    for (int i = 0; i < 3; ++i) {
        floorRead.push_back(plainRead(path));
        QProcess child;
        child.start(self, {QStringLiteral("--load"), path});
        child.waitForFinished(120000);
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        if (f.size() != 5) {
            fprintf(stderr, "large store load failed\n");
            return;
        }
        load.push_back(f[0].toDouble());
        kib.push_back(f[2].toDouble());
        records = f[3].toULongLong();
        cpu.push_back(f[4].toDouble());
        perRecord.push_back((f[2].toDouble() - f[1].toDouble()) * 1024.0 / double(records));
    }
    printf("large store: %zu records, %lld bytes\n", records, (long long)bytes);
    printf("load  %8.2f ms  floor (plain read)        %8.2f ms  ratio %.1fx (goal: within 1 s to watching)\n", median(load), median(floorRead),
           median(load) / median(floorRead));
    printf("      %8.2f ms of CPU time in the load\n", median(cpu));
    printf("resident after load %.1f MB, %.0f bytes per record added by the load (goal 100 MB)\n", median(kib) / 1024.0, median(perRecord));
    printf("TABLE|large store load (10,000 folders, 100,000 files)|%.2f ms|%.2f ms plain read|%.1fx|1 s to watching\n", median(load),
           median(floorRead), median(load) / median(floorRead));
    printf("TABLE|large store load, CPU time|%.2f ms|-|-|-\n", median(cpu));
    printf("TABLE|large store resident after load|%.1f MB|%.0f B/record|-|100 MB\n", median(kib) / 1024.0, median(perRecord));
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // --load runs in the child; --make writes the large store for a profiler run.
    if (argc == 3 && qstrcmp(argv[1], "--load") == 0)
        return loadOnce(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && qstrcmp(argv[1], "--make") == 0) {
        makeStore(QString::fromLocal8Bit(argv[2]), 1000, 9);
        return 0;
    }

    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/storedata");
    const QString plain = tmp.path() + QStringLiteral("/plain");
    {
        OpenStore s(path);
        auto *root = s.context->insertNew<Directory>();
        root->setName("root");
        for (int d = 0; d < 1000; ++d) {
            auto *dir = s.context->insertNew<Directory>();
            dir->setName("/home/user/Downloads/folder " + QByteArray::number(d));
            dir->setLastScanTime(dateNow());
            root->addSubdirectoriesObject(dir);
            for (int f = 0; f < 10; ++f) {
                auto *file = s.context->insertNew<File>();
                file->setName(dir->name() + "/track " + QByteArray::number(f) + ".mp3");
                file->setSize(quint64(4000000 + f));
                file->setModified(dateNow());
                dir->addFilesObject(file);
            }
        }
        StoreError e;
        s.context->save(&e);
    }
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray bytes = f.readAll();

    std::vector<double> load, save, floorRead, floorWrite;
    for (int i = 0; i < 7; ++i) {
        floorWrite.push_back(plainWrite(plain, bytes));
        floorRead.push_back(plainRead(plain));
        QElapsedTimer t;
        t.start();
        OpenStore s(path);
        load.push_back(double(t.nsecsElapsed()) / 1e6);
        s.context->markChanged();
        StoreError e;
        t.restart();
        s.context->save(&e);
        save.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    printf("store: 1000 folders, 10000 files, %lld bytes\n", (long long)bytes.size());
    printf("load  %8.2f ms  floor (plain read)        %8.2f ms  ratio %.1fx (goal 5x)\n", median(load), median(floorRead), median(load) / median(floorRead));
    printf("save  %8.2f ms  floor (plain write+fsync) %8.2f ms  ratio %.1fx (goal 5x)\n", median(save), median(floorWrite), median(save) / median(floorWrite));
    printf("TABLE|store load (1,000 folders, 10,000 files)|%.2f ms|%.2f ms plain read|%.1fx|5x\n", median(load), median(floorRead), median(load) / median(floorRead));
    printf("TABLE|store save|%.2f ms|%.2f ms plain write+fsync|%.1fx|5x\n", median(save), median(floorWrite), median(save) / median(floorWrite));
    fflush(stdout);
    largeStore(QCoreApplication::applicationFilePath(), tmp.path());
    return 0;
}
