#include "settings/LoginItems.h"
#include "base/Log.h"
#include "base/StandardFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <fcntl.h>
#include <unistd.h>

namespace LoginItems {

QString autostartFolder()
{
    return QFile::decodeName(StandardFolders::configHome()) + QStringLiteral("/autostart");
}

// The program of an Exec line: its first word, with desktop-entry quoting undone.
static QString programOfExec(const QString &exec)
{
    const QString line = exec.trimmed();
    if (!line.startsWith(QLatin1Char('"')))
        return line.section(QLatin1Char(' '), 0, 0);
    QString program;
    for (int i = 1; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('\\') && i + 1 < line.size())
            program += line[++i];
        else if (line[i] == QLatin1Char('"'))
            break;
        else
            program += line[i];
    }
    return program;
}

QList<LoginItem> list()
{
    QList<LoginItem> items;
    const QDir dir(autostartFolder());
    for (const QString &name : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        LoginItem item{file.fileName(), {}, false};
        QTextStream in(&file);
        bool inEntry = false;
        while (!in.atEnd()) {
            const QString line = in.readLine().trimmed();
            if (line.startsWith(QLatin1Char('[')))
                inEntry = line == QLatin1String("[Desktop Entry]");
            else if (inEntry && line.startsWith(QLatin1String("Exec=")))
                item.path = programOfExec(line.mid(5));
            else if (inEntry && line.startsWith(QLatin1String("X-Rivulet-Hide=")))
                item.hide = line.mid(15).trimmed() == QLatin1String("true");
        }
        items << item;
    }
    return items;
}

static QString quotedExec(const QString &path)
{
    QString q = path;
    q.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\"")).replace(QLatin1Char('`'), QLatin1String("\\`"))
        .replace(QLatin1Char('$'), QLatin1String("\\$"));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

// Written whole to a new file and renamed into place, then the folder is synced.
static bool writeEntry(const QString &fileName, const QString &appPath)
{
    QDir().mkpath(autostartFolder());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = "[Desktop Entry]\nType=Application\nName=Rivulet\nComment=Imports the music you download\nExec="
                            + quotedExec(appPath).toUtf8() + "\nIcon=rivulet\nTerminal=false\nX-Rivulet-Hide=true\n";
    file.write(text);
    if (!file.commit())
        return false;
    const int dirFd = ::open(QFile::encodeName(autostartFolder()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void runAppOnUserLogin(bool enable, const QString &appPath)
{
    const QList<LoginItem> items = list();
    const LoginItem *match = nullptr;
    for (const LoginItem &item : items) {
        if (item.path == appPath) {
            match = &item;
            Log::f("Found app in login items");
        }
    }
    if (enable && !match) {
        Log::f("Adding app to login items");
        QString name = autostartFolder() + QStringLiteral("/rivulet.desktop");
        for (int n = 2; QFile::exists(name); ++n) // never over another program's file
            name = autostartFolder() + QStringLiteral("/rivulet-%1.desktop").arg(n);
        writeEntry(name, appPath);
    } else if (!enable && match) {
        Log::f("Removing app from login items");
        // Every entry equal in content to the match goes.
        const LoginItem gone = *match;
        for (const LoginItem &item : items)
            if (item.path == gone.path && item.hide == gone.hide)
                QFile::remove(item.file);
    }
}

void runAppOnUserLogin(bool enable)
{
    runAppOnUserLogin(enable, QCoreApplication::applicationFilePath());
}

} // namespace LoginItems
