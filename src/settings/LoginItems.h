#pragma once
// Starting the program at login, through the freedesktop autostart folder
// ($XDG_CONFIG_HOME/autostart): each .desktop file there is one login item;
// its "Path" is the program in its Exec line, "Hide" its X-Rivulet-Hide key.
// Other programs' entries are read but never changed.
#include <QByteArray>
#include <QList>
#include <QString>

struct LoginItem {
    QString file; // the .desktop file
    QString path; // the program it starts
    bool hide = false;
};

namespace LoginItems {
QString autostartFolder();
QList<LoginItem> list();
// Adds or removes this program's entry, so that it starts at login exactly when enable is true.
void runAppOnUserLogin(bool enable, const QString &appPath);
void runAppOnUserLogin(bool enable);
}
