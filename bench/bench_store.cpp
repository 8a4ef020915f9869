// Load and save of a store with 1,000 folder records and 10,000 file records,
// each as a ratio against reading and writing (with fsync) the same number of
// bytes as a plain file in the same run.
#include "../tests/store/StoreFixture.h"
#include "store/Directory.h"
#include "store/File.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
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
}

int main()
{
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
    return 0;
}
