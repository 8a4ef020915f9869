// Starting at login through the autostart folder: this program's entry
// comes and goes, other programs' entries are never touched, an entry the
// desktop switched off counts as off, and the written entry really starts the
// program through the desktop's own launchers, whatever its path holds.
#include "TestSupport.h"
#include "settings/LoginItems.h"
#include <QProcess>
#include <QStandardPaths>

namespace {
const QString kApp = QStringLiteral("/opt/Rivulet Player/bin/rivulet");

QString entry(const QString &exec, const QString &extra = QString())
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Other\nExec=%1\n%2").arg(exec, extra);
}
}

class TestLoginItems : public QObject {
    Q_OBJECT

private slots:
    void onOffOnLeavesOthersAlone()
    {
        TempHome home;
        const QString folder = LoginItems::autostartFolder();
        QCOMPARE(folder, home.path(QStringLiteral(".config/autostart")));
        QDir().mkpath(folder);
        const QByteArray other = entry(QStringLiteral("/usr/bin/other --daemon")).toUtf8();
        QVERIFY(writeFile(folder + QStringLiteral("/other.desktop"), other));
        // A file named like ours that belongs to another program.
        const QByteArray squatter = entry(QStringLiteral("/usr/bin/imposter")).toUtf8();
        QVERIFY(writeFile(folder + QStringLiteral("/rivulet.desktop"), squatter));

        LogCapture log;
        // On, on again, off, off again, on: one entry of ours at most.
        for (const auto &[on, entries] : std::initializer_list<std::pair<bool, int>>{{true, 3}, {true, 3}, {false, 2}, {false, 2}, {true, 3}}) {
            LoginItems::runAppOnUserLogin(on, kApp);
            const QList<LoginItem> items = LoginItems::list();
            QCOMPARE(items.size(), entries);
            const auto ours = std::find_if(items.begin(), items.end(), [](const LoginItem &i) { return i.path == kApp; });
            QCOMPARE(ours != items.end(), on);
            QVERIFY(!on || ours->hide);
        }
        QCOMPARE(readAll(folder + QStringLiteral("/other.desktop")), other);
        QCOMPARE(readAll(folder + QStringLiteral("/rivulet.desktop")), squatter);
    }

    void equalEntriesGoTogetherDifferentOnesStay()
    {
        TempHome home;
        const QString folder = LoginItems::autostartFolder();
        QDir().mkpath(folder);
        const QString exec = QStringLiteral("\"/opt/Rivulet Player/bin/rivulet\"");
        QVERIFY(writeFile(folder + QStringLiteral("/a.desktop"), entry(exec, QStringLiteral("X-Rivulet-Hide=true\n")).toUtf8()));
        QVERIFY(writeFile(folder + QStringLiteral("/b.desktop"), entry(exec, QStringLiteral("X-Rivulet-Hide=true\n")).toUtf8()));
        QVERIFY(writeFile(folder + QStringLiteral("/c.desktop"), entry(exec).toUtf8()));
        LogCapture log;
        // The last match (c, not hidden) is removed, and only what equals it.
        LoginItems::runAppOnUserLogin(false, kApp);
        QVERIFY(QFile::exists(folder + QStringLiteral("/a.desktop")) && QFile::exists(folder + QStringLiteral("/b.desktop")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/c.desktop")));
        LoginItems::runAppOnUserLogin(false, kApp);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/a.desktop")) && !QFile::exists(folder + QStringLiteral("/b.desktop")));
    }

    void switchedOffEntriesCountAsOffAndComeBackOn_data()
    {
        QTest::addColumn<QString>("switchedOff");
        QTest::newRow("Hidden") << QStringLiteral("Hidden=true");
        QTest::newRow("GNOME") << QStringLiteral("X-GNOME-Autostart-enabled=false");
    }
    void switchedOffEntriesCountAsOffAndComeBackOn()
    {
        QFETCH(QString, switchedOff);
        TempHome home;
        const QString folder = LoginItems::autostartFolder();
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/rivulet.desktop");
        // What a desktop's settings leave when the user switches the entry off there.
        const QString exec = QStringLiteral("\"/opt/Rivulet Player/bin/rivulet\"");
        QVERIFY(writeFile(file, entry(exec, QStringLiteral("X-Rivulet-Hide=true\n%1\nX-GNOME-Autostart-Delay=5\n").arg(switchedOff)).toUtf8()));
        QCOMPARE(LoginItems::list().size(), 1);
        QVERIFY(!LoginItems::list()[0].enabled);

        LogCapture log;
        LoginItems::runAppOnUserLogin(false, kApp); // off already: nothing to do
        QVERIFY(QFile::exists(file));

        LoginItems::runAppOnUserLogin(true, kApp);
        const QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 1); // the same entry, switched on; no second one
        QVERIFY(items[0].enabled);
        QCOMPARE(items[0].path, kApp);
        const QByteArray text = readAll(file);
        QVERIFY(!text.contains(switchedOff.toUtf8()));
        QVERIFY(text.contains("X-GNOME-Autostart-Delay=5")); // the rest stays as the desktop left it
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(readAll(file), text);
    }

    // A hand-made entry that starts the program by its bare name counts as
    // ours (no second entry); switched off, it is kept, only switched off.
    void handMadeEntryByNameCounts_data()
    {
        QTest::addColumn<bool>("onPath");
        QTest::newRow("found on PATH") << true;
        QTest::newRow("not on PATH") << false;
    }
    void handMadeEntryByNameCounts()
    {
        QFETCH(bool, onPath);
        TempHome home;
        const QString bin = home.path(QStringLiteral("bin"));
        const QString program = (onPath ? bin : home.path(QStringLiteral("build"))) + QStringLiteral("/rivulet");
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        QVERIFY(writeFile(program, "#!/bin/sh\n"));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + path);
        const QString folder = LoginItems::autostartFolder();
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/my-rivulet.desktop");
        QVERIFY(writeFile(file, entry(QStringLiteral("rivulet")).toUtf8()));
        LoginItems::runAppOnUserLogin(true, program);
        QCOMPARE(LoginItems::list().size(), 1);
        LoginItems::runAppOnUserLogin(false, program);
        qputenv("PATH", path);
        const QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 1);
        QVERIFY(!items[0].enabled);
        QVERIFY(readAll(file).startsWith(entry(QStringLiteral("rivulet")).section(QLatin1Char('\n'), 0, 0).toUtf8()));
    }

    // The program's path holds what the two levels of desktop-entry escaping
    // deal with (spaces, quote, backquote, dollar, backslash, percent); GLib's launcher (the one GNOME's session starts autostart
    // entries with) must start it from the written entry.
    void writtenEntryStartsTheProgram()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gio")).isEmpty())
            QFAIL("gio is not installed (scripts/packages.d/prefs.list)");
        TempHome home;
        const QString dir = home.path(QStringLiteral("Apps 100%u %% \"q\" `t` $HOME \\b"));
        QVERIFY(QDir().mkpath(dir));
        const QString program = dir + QStringLiteral("/rivulet %f $x");
        const QString marker = home.path(QStringLiteral("started"));
        QVERIFY(writeFile(program, "#!/bin/sh\necho \"$#\" >\"$RIVULET_TEST_MARKER\"\n"));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("RIVULET_TEST_MARKER", QFile::encodeName(marker));

        LoginItems::runAppOnUserLogin(true, program);
        const QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].path, program); // read back as written
        QProcess run;
        run.start(QStringLiteral("gio"), {QStringLiteral("launch"), items[0].file});
        QVERIFY(run.waitForFinished(10000));
        // The shell creates the marker before it writes to it: wait for the line.
        QTRY_COMPARE_WITH_TIMEOUT(readAll(marker).trimmed(), QByteArray("0"), 5000); // started with no arguments
    }
};

QTEST_GUILESS_MAIN(TestLoginItems)
#include "test_login_items.moc"
