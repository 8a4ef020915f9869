#include "settings/LoginItems.h"
#include "base/Log.h"
#include "base/StandardFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <fcntl.h>
#include <unistd.h>

namespace LoginItems {

namespace {
const QString kEntryGroup = QStringLiteral("[Desktop Entry]");
const QString kHidden = QStringLiteral("Hidden");
const QString kGnomeEnabled = QStringLiteral("X-GNOME-Autostart-enabled");
const QString kRivuletHide = QStringLiteral("X-Rivulet-Hide");

// One "Key=value" line of a desktop entry; spaces around "=" do not count.
bool splitEntryLine(const QString &line, QString *key, QString *value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0 || line.startsWith(QLatin1Char('#')))
        return false;
    *key = line.left(eq).trimmed();
    *value = line.mid(eq + 1).trimmed();
    return true;
}

// The string value's own escapes: \s \n \t \r \\ (others are left for the Exec quoting).
QString unescapeString(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(next);
    }
    return out;
}

QString escapeString(const QString &value)
{
    QString out;
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}
}

QString autostartFolder()
{
    return QFile::decodeName(StandardFolders::configHome()) + QStringLiteral("/autostart");
}

QString execValueForProgram(const QString &program)
{
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QLatin1Char('\\');
        quoted += c;
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%'); // a literal % is written %%
    }
    // GLib's launcher looks the program up before it undoes %%, so a program
    // whose path holds a % would never start; env runs it instead.
    const QString prefix = program.contains(QLatin1Char('%')) ? QStringLiteral("env ") : QString();
    return escapeString(prefix + QLatin1Char('"') + quoted + QLatin1Char('"'));
}

namespace {
// The arguments of an Exec value, quoting and %% undone.
QStringList execArguments(const QString &value)
{
    const QString line = unescapeString(value);
    QStringList args;
    QString arg;
    bool inArg = false, quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < line.size())
                arg += line[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                arg += c;
        } else if (c == QLatin1Char('"')) {
            quoted = inArg = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArg)
                args << arg;
            arg.clear();
            inArg = false;
        } else {
            arg += c;
            inArg = true;
        }
    }
    if (inArg)
        args << arg;
    for (QString &a : args)
        a.replace(QLatin1String("%%"), QLatin1String("%"));
    return args;
}
}

QString programOfExecValue(const QString &value)
{
    QStringList args = execArguments(value);
    // "env [NAME=value...] program": the program is the one env runs.
    if (!args.isEmpty() && (args.first() == QLatin1String("env") || args.first().endsWith(QLatin1String("/env")))) {
        args.removeFirst();
        while (!args.isEmpty() && args.first().contains(QLatin1Char('=')) && !args.first().startsWith(QLatin1Char('/')))
            args.removeFirst();
    }
    return args.value(0);
}

QList<LoginItem> list()
{
    QList<LoginItem> items;
    const QDir dir(autostartFolder());
    for (const QString &name : dir.entryList({QStringLiteral("*.desktop")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        LoginItem item{file.fileName(), {}, false, true};
        bool inEntry = false;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            QString key, value;
            if (line.startsWith(QLatin1Char('[')))
                inEntry = line == kEntryGroup;
            else if (!inEntry || !splitEntryLine(line, &key, &value))
                continue;
            else if (key == QLatin1String("Exec"))
                item.path = programOfExecValue(value);
            else if (key == kRivuletHide)
                item.hide = value == QLatin1String("true");
            else if (key == kHidden && value == QLatin1String("true"))
                item.enabled = false;
            else if (key == kGnomeEnabled && value == QLatin1String("false"))
                item.enabled = false;
        }
        items << item;
    }
    return items;
}

namespace {
// Written whole to a new file and renamed into place, then the folder is synced.
bool writeFileDurably(const QString &fileName, const QByteArray &text)
{
    QDir().mkpath(autostartFolder());
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
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

bool writeEntry(const QString &fileName, const QString &appPath)
{
    const QByteArray text = "[Desktop Entry]\nType=Application\nName=Rivulet\nComment=Imports the music you download\nExec="
                            + execValueForProgram(appPath).toUtf8() + "\nIcon=rivulet\nTerminal=false\nX-Rivulet-Hide=true\n";
    return writeFileDurably(fileName, text);
}

// Our entry, switched off by the desktop, is switched on again: the lines
// that switch it off go, everything else stays as it was.
bool reenableEntry(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> kept;
    bool inEntry = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        QString key, value;
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == kEntryGroup;
        else if (inEntry && splitEntryLine(line, &key, &value) && (key == kHidden || key == kGnomeEnabled))
            continue;
        kept << raw;
    }
    return writeFileDurably(fileName, kept.join('\n'));
}

// A hand-made entry is the user's own file: switched off, never deleted.
bool switchOffEntry(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QList<QByteArray> lines = file.readAll().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (QString::fromUtf8(lines[i]).trimmed() == kEntryGroup) {
            lines.insert(i + 1, kHidden.toUtf8() + "=true");
            return writeFileDurably(fileName, lines.join('\n'));
        }
    return false;
}

// Whether an entry's program is this one: a bare name (a hand-made
// "Exec=rivulet") is found on PATH as the login would find it; links count
// as what they lead to.
bool startsProgram(const QString &entryProgram, const QString &appPath)
{
    if (entryProgram == appPath)
        return true;
    QString found = entryProgram;
    if (!entryProgram.contains(QLatin1Char('/'))) {
        found = QStandardPaths::findExecutable(entryProgram);
        if (found.isEmpty()) // not on PATH now: its name decides
            return !entryProgram.isEmpty() && entryProgram == QFileInfo(appPath).fileName();
    }
    const QString a = QFileInfo(found).canonicalFilePath(), b = QFileInfo(appPath).canonicalFilePath();
    return !a.isEmpty() && a == b;
}
}

void runAppOnUserLogin(bool enable, const QString &appPath)
{
    const QList<LoginItem> items = list();
    const LoginItem *match = nullptr;
    const LoginItem *switchedOff = nullptr;
    for (const LoginItem &item : items) {
        if (!startsProgram(item.path, appPath))
            continue;
        if (!item.enabled) {
            switchedOff = &item;
            continue;
        }
        match = &item;
        Log::f("Found app in login items");
    }
    if (enable && !match && switchedOff) {
        Log::f("Turning app in login items back on");
        reenableEntry(switchedOff->file);
    } else if (enable && !match) {
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
            if (item.enabled && startsProgram(item.path, appPath) && item.hide == gone.hide) {
                // Ours name the program by its path; one by bare name was made by hand.
                if (item.path.contains(QLatin1Char('/')))
                    QFile::remove(item.file);
                else
                    switchOffEntry(item.file);
            }
    }
}

void runAppOnUserLogin(bool enable)
{
    runAppOnUserLogin(enable, QCoreApplication::applicationFilePath());
}

} // namespace LoginItems
