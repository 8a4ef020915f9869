// Starting at login through the autostart folder: this program's entry
// comes and goes, other programs' entries are never touched.
#include "TestSupport.h"
#include "settings/LoginItems.h"

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
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(log.lines(), QStringList{QStringLiteral("Adding app to login items")});
        QList<LoginItem> items = LoginItems::list();
        QCOMPARE(items.size(), 3);
        const auto ours = std::find_if(items.begin(), items.end(), [](const LoginItem &i) { return i.path == kApp; });
        QVERIFY(ours != items.end());
        QVERIFY(ours->hide);
        log.clear();
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(log.lines(), QStringList{QStringLiteral("Found app in login items")});
        QCOMPARE(LoginItems::list().size(), 3);
        log.clear();
        LoginItems::runAppOnUserLogin(false, kApp);
        QCOMPARE(log.lines(), (QStringList{QStringLiteral("Found app in login items"), QStringLiteral("Removing app from login items")}));
        QCOMPARE(LoginItems::list().size(), 2);
        log.clear();
        LoginItems::runAppOnUserLogin(false, kApp);
        QVERIFY(log.lines().isEmpty());
        LoginItems::runAppOnUserLogin(true, kApp);
        QCOMPARE(LoginItems::list().size(), 3);
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
        QCOMPARE(log.count(QStringLiteral("Found app in login items")), 3);
        QVERIFY(QFile::exists(folder + QStringLiteral("/a.desktop")) && QFile::exists(folder + QStringLiteral("/b.desktop")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/c.desktop")));
        LoginItems::runAppOnUserLogin(false, kApp);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/a.desktop")) && !QFile::exists(folder + QStringLiteral("/b.desktop")));
    }
};

QTEST_GUILESS_MAIN(TestLoginItems)
#include "test_login_items.moc"
