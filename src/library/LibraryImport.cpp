#include "library/LibraryImport.h"
#include "base/Log.h"
#include "base/PathContainment.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kMaxNameBytes = 255;

// Cuts a UTF-8 text to at most max bytes without splitting a character.
QByteArray cutUtf8(const QByteArray &text, int max)
{
    if (text.size() <= max)
        return text;
    int end = max;
    while (end > 0 && (uchar(text.at(end)) & 0xC0) == 0x80)
        --end;
    return text.left(end);
}

QByteArray withNumber(const QByteArray &name, int n)
{
    if (n == 1)
        return name;
    const int dot = int(name.lastIndexOf('.'));
    QByteArray stem = dot > 0 ? name.left(dot) : name;
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    const QByteArray suffix = " (" + QByteArray::number(n) + ")";
    stem = cutUtf8(stem, kMaxNameBytes - int(ext.size()) - int(suffix.size()));
    return stem + suffix + ext;
}

bool sameContent(const QByteArray &a, const QByteArray &b)
{
    QFile fa(QFile::decodeName(a)), fb(QFile::decodeName(b));
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 16) != fb.read(1 << 16))
            return false;
    }
    return true;
}

// Writes a complete copy under a hidden temporary name, then links it into
// place, which never replaces a file that appeared meanwhile.
bool copyFile(const QByteArray &from, const QByteArray &folder, const QByteArray &to, bool *exists)
{
    *exists = false;
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    QByteArray tmp = folder + "/.rivulet-import-XXXXXX";
    const int out = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (out < 0) {
        ::close(in);
        return false;
    }
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n && ok;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += qMax<ssize_t>(w, 0);
        }
        if (!ok)
            break;
    }
    ::fchmod(out, 0644);
    ok = ok && ::fsync(out) == 0;
    ::close(out);
    ::close(in);
    if (ok && ::link(tmp.constData(), to.constData()) != 0) {
        *exists = errno == EEXIST;
        ok = false;
    }
    ::unlink(tmp.constData());
    return ok;
}
}

QByteArray libraryFileName(const QByteArray &leaf)
{
    QByteArray name = QString::fromUtf8(leaf).toUtf8(); // invalid bytes become U+FFFD
    for (char &c : name)
        if (uchar(c) < 0x20 || c == 0x7f || c == '/')
            c = '_';
    if (name.startsWith('.'))
        name.prepend('_'); // the library skips hidden files
    const int dot = int(name.lastIndexOf('.'));
    const QByteArray ext = dot > 0 ? name.mid(dot) : QByteArray();
    if (name.size() > kMaxNameBytes)
        name = cutUtf8(name.left(name.size() - ext.size()), kMaxNameBytes - int(ext.size())) + ext;
    return name;
}

std::optional<QByteArray> copyIntoLibrary(const QByteArray &path, const QByteArray &musicFolder, const QByteArray &subfolder)
{
    const QByteArray folder = musicFolder + '/' + subfolder;
    if (!QDir().mkpath(QFile::decodeName(folder))) {
        Log::f("--- Could not make the folder %@", folder);
        return std::nullopt;
    }
    const QByteArray name = libraryFileName(leafName(path));
    for (int n = 1; n < 1000; ++n) {
        const QByteArray candidate = withNumber(name, n);
        const QByteArray target = folder + '/' + candidate;
        struct stat st;
        if (::lstat(target.constData(), &st) == 0) {
            if (S_ISREG(st.st_mode) && sameContent(path, target))
                return subfolder + '/' + candidate;
            continue;
        }
        bool exists = false;
        if (copyFile(path, folder, target, &exists))
            return subfolder + '/' + candidate;
        if (!exists) {
            Log::f("--- Could not copy %@ into %@: %@", path, folder, QString::fromLocal8Bit(strerror(errno)));
            return std::nullopt;
        }
    }
    return std::nullopt;
}
