// Starting at login through the autostart folder: our entry comes and goes, others' are never touched,
// one the desktop switched off counts as off, and the written entry starts the program.
#include "TestSupport.h"
#include "settings/LoginItems.h"

namespace {
const QString kApp = QStringLiteral("/opt/Rivulet Player/bin/rivulet");
const QString kQuotedApp = QLatin1Char('"') + kApp + QLatin1Char('"');

QByteArray entry(const QString &exec, const QString &extra = QString())
{
    return QStringLiteral("[Desktop Entry]\nType=Application\nName=Other\nExec=%1\n%2").arg(exec, extra).toUtf8();
}

// The autostart folder of a private HOME, made; the file name inside it when given.
QString autostart(const QString &name = QString())
{
    QDir().mkpath(LoginItems::autostartFolder());
    return LoginItems::autostartFolder() + (name.isEmpty() ? QString() : QLatin1Char('/') + name);
}

bool makeProgram(const QString &path, const QByteArray &script)
{
    return QDir().mkpath(QFileInfo(path).path()) && writeFile(path, script)
           && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
}

class TestLoginItems : public QObject {
    Q_OBJECT
    LogCapture log; // keeps the program's lines out of the test output

private slots:
    // Another program's entry, named like ours, is never touched.
    void equalEntriesGoTogetherDifferentOnesStay()
    {
        TempHome home;
        const QByteArray squatter = entry(QStringLiteral("/usr/bin/imposter"));
        QVERIFY(writeFile(autostart(QStringLiteral("rivulet.desktop")), squatter));
        for (const char *name : {"a", "b", "c"})
            QVERIFY(writeFile(autostart(QLatin1String(name) + QStringLiteral(".desktop")), entry(kQuotedApp, *name == 'c' ? QString() : QStringLiteral("X-Rivulet-Hide=true\n"))));
        // The last match (c, not hidden) is removed, and only what equals it.
        LoginItems::runAppOnUserLogin(false, kApp);
        const auto listed = [] { return QDir(autostart()).entryList(QDir::Files).join(QLatin1Char(' ')); };
        QCOMPARE(listed(), QStringLiteral("a.desktop b.desktop rivulet.desktop"));
        LoginItems::runAppOnUserLogin(false, kApp);
        QCOMPARE(listed(), QStringLiteral("rivulet.desktop"));
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(LoginItems::list().size(), 2);
        QCOMPARE(readAll(autostart(QStringLiteral("rivulet.desktop"))), squatter);
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
        const QString file = autostart(QStringLiteral("rivulet.desktop"));
        // What a desktop's settings leave when the user switches the entry off there.
        QVERIFY(writeFile(file, entry(kQuotedApp, QStringLiteral("X-Rivulet-Hide=true\n%1\nX-GNOME-Autostart-Delay=5\n").arg(switchedOff))));
        QVERIFY(LoginItems::list().size() == 1 && !LoginItems::list()[0].enabled);
        LoginItems::runAppOnUserLogin(false, kApp); // off already: nothing to do
        QVERIFY(QFile::exists(file));
        LoginItems::runAppOnUserLogin(true, kApp);
        const QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 1); // the same entry, switched on; no second one
        QVERIFY(items[0].enabled && items[0].path == kApp);
        const QByteArray text = readAll(file);
        QVERIFY(!text.contains(switchedOff.toUtf8()));
        QVERIFY(text.contains("X-GNOME-Autostart-Delay=5")); // the rest stays as the desktop left it
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(readAll(file), text);
    }

    // A hand-made entry starting the program by its bare name is ours: no second entry; kept when off.
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
        const QString program = home.path(QLatin1String(onPath ? "bin" : "build") + QStringLiteral("/rivulet"));
        QVERIFY(makeProgram(program, "#!/bin/sh\n"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", home.bytes(QStringLiteral("bin")) + ':' + path);
        const QString file = autostart(QStringLiteral("my-rivulet.desktop"));
        QVERIFY(writeFile(file, entry(QStringLiteral("rivulet"))));
        LoginItems::runAppOnUserLogin(true, program);
        QCOMPARE(LoginItems::list().size(), 1);
        LoginItems::runAppOnUserLogin(false, program);
        qputenv("PATH", path);
        QVERIFY(LoginItems::list().size() == 1 && !LoginItems::list()[0].enabled);
        QCOMPARE(readAll(file), entry(QStringLiteral("rivulet")).replace("]\n", "]\nHidden=true\n")); // kept, only switched off
    }

    // A path needing both levels of desktop-entry escaping, started by GLib's launcher as GNOME does.
    void writtenEntryStartsTheProgram()
    {
        TempHome home;
        const QString program = home.path(QStringLiteral("Apps 100%u %% \"q\" `t` $HOME \\b/rivulet %f $x"));
        const QString marker = home.path(QStringLiteral("started"));
        QVERIFY(makeProgram(program, "#!/bin/sh\necho \"$#\" >\"$RIVULET_TEST_MARKER\"\n"));
        qputenv("RIVULET_TEST_MARKER", QFile::encodeName(marker));
        LoginItems::runAppOnUserLogin(true, program);
        const QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].path, program); // read back as written
        QProcess run;
        run.start(QStringLiteral("gio"), {QStringLiteral("launch"), items[0].file});
        QVERIFY2(run.waitForFinished(10000), "gio did not run (scripts/packages.d/prefs.list installs it)");
        QTRY_COMPARE_WITH_TIMEOUT(readAll(marker).trimmed(), QByteArray("0"), 5000); // started with no arguments
    }
};

QTEST_GUILESS_MAIN(TestLoginItems)
#include "test_login_items.moc"
