#pragma once
// Starting the program at login, through the freedesktop autostart folder
// ($XDG_CONFIG_HOME/autostart): each .desktop file there is one login item;
// its "Path" is the program in its Exec line, "Hide" its X-Rivulet-Hide key.
// An entry switched off by the desktop (Hidden=true, or
// X-GNOME-Autostart-enabled=false) starts nothing and counts as absent.
// Other programs' entries are read but never changed.
#include <QByteArray>
#include <QList>
#include <QString>

struct LoginItem {
    QString file; // the .desktop file
    QString path; // the program it starts
    bool hide = false;
    bool enabled = true;
};

namespace LoginItems {
QString autostartFolder();
QList<LoginItem> list();
// Adds, turns back on or removes this program's entry, so that it starts at
// login exactly when enable is true.
void runAppOnUserLogin(bool enable, const QString &appPath);
void runAppOnUserLogin(bool enable);

// The Exec value that starts program with no arguments, with both levels of
// desktop-entry escaping (the argument quoting, then the string value's).
QString execValueForProgram(const QString &program);
// The program (first argument) of an Exec value, both levels undone.
QString programOfExecValue(const QString &value);
}
