// The preferences window with real widgets (offscreen): the states of a
// fresh installation, the checkbox rules written at once, watched folders
// added and removed with the watcher following, and a new hotkey stored.
#include "TestSupport.h"
#include "../app/StartedApp.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "ui/PreferencesWindow.h"
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>

namespace {
// Dismisses the next alerts, remembering their texts.
struct AlertCatcher {
    QStringList seen;
    QTimer timer;
    AlertCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << box->text() + QLatin1Char('|') + box->informativeText();
                box->buttons().first()->click();
            }
        });
        timer.start(20);
    }
};

QVariant stored(const QString &key)
{
    return QSettings(Settings::preferencesFilePath(), QSettings::IniFormat).value(key);
}

QList<QByteArray> watched(Rivulet_AppDelegate &app)
{
    QList<QByteArray> names;
    for (Directory *d : app.directoryDiffer()->roots())
        names << d->name();
    return names;
}
}

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void freshInstallationStates()
    {
        TempHome home;
        QDir().mkpath(home.path(QStringLiteral("Downloads")));
        Settings::setDidFirstLoad(true);
        Rivulet_AppDelegate app(true);
        app.awakeFromNib();
        PreferencesWindow *w = app.preferencesWC();
        QVERIFY(!w->startAtLoginCheckbox->isChecked());
        QVERIFY(!w->deleteFilesCheckbox->isChecked());
        QVERIFY(!w->deleteArchiveContentsCheckbox->isChecked() && !w->deleteArchiveContentsCheckbox->isEnabled());
        QCOMPARE(w->deleteArchiveContentsText->palette().color(QPalette::WindowText), w->palette().color(QPalette::Disabled, QPalette::WindowText));
        QVERIFY(w->unzipFilesCheckbox->isChecked());
        QVERIFY(!w->deleteZipsCheckbox->isChecked() && w->deleteZipsCheckbox->isEnabled());
        QVERIFY(!w->playSongsCheckbox->isChecked());
        QVERIFY(w->ifStoppedCheckbox->isChecked() && !w->ifStoppedCheckbox->isEnabled());
        QVERIFY(w->useDownloadHotkeyCheckbox->isChecked());
        QVERIFY(w->downloadHotkeyTextField->isEnabled());
        QVERIFY(w->growlNotificationsCheckbox->isChecked());
        QVERIFY(!w->searchLocationCheckbox->isChecked() && !w->searchLocationTextField->isEnabled());
        QCOMPARE(w->versionTextField->text(), QStringLiteral("v" RIVULET_VERSION));
        QCOMPARE(w->dirsTable->count(), 2);
        QCOMPARE(w->dirsTable->item(0)->text(), QStringLiteral("Downloads"));
        QCOMPARE(w->dirsTable->item(1)->text(), QStringLiteral("Mail Downloads"));
    }

    void checkboxRulesAreWrittenAtOnce()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        AlertCatcher alerts;

        w->deleteFilesCheckbox->click();
        QCOMPARE(stored(QStringLiteral("DeleteFiles")).toBool(), true);
        QVERIFY(w->deleteArchiveContentsCheckbox->isEnabled());
        w->deleteArchiveContentsCheckbox->click();
        QCOMPARE(stored(QStringLiteral("DeleteArchiveContents")).toBool(), true);
        w->deleteFilesCheckbox->click(); // off: takes the dependent one with it
        QCOMPARE(stored(QStringLiteral("DeleteArchiveContents")).toBool(), false);
        QVERIFY(!w->deleteArchiveContentsCheckbox->isChecked() && !w->deleteArchiveContentsCheckbox->isEnabled());
        w->deleteFilesCheckbox->click();
        QVERIFY(w->deleteArchiveContentsCheckbox->isEnabled() && !w->deleteArchiveContentsCheckbox->isChecked());

        w->deleteZipsCheckbox->click();
        w->unzipFilesCheckbox->click();
        QCOMPARE(stored(QStringLiteral("UnzipFiles")).toBool(), false);
        QVERIFY(!w->deleteZipsCheckbox->isEnabled() && w->deleteZipsCheckbox->isChecked());
        QCOMPARE(stored(QStringLiteral("DeleteZips")).toBool(), true);

        w->playSongsCheckbox->click(); // on: no notice
        QVERIFY(w->ifStoppedCheckbox->isEnabled());
        QTest::qWait(100);
        QVERIFY(alerts.seen.isEmpty());
        w->ifStoppedCheckbox->click(); // off: no notice
        QTest::qWait(100);
        QVERIFY(alerts.seen.isEmpty());
        w->ifStoppedCheckbox->click(); // on: notice
        QTRY_COMPARE(alerts.seen.size(), 1);
        QCOMPARE(alerts.seen[0], QStringLiteral("Informational Notice|") + PreferencesWindow::kPlaySongsNotice);
        QCOMPARE(PreferencesWindow::kPlaySongsNotice.size(), 332);
        w->playSongsCheckbox->click(); // off: notice
        QTRY_COMPARE(alerts.seen.size(), 2);
        QCOMPARE(stored(QStringLiteral("PlaySongs")).toBool(), false);

        w->searchLocationCheckbox->click();
        QVERIFY(w->searchLocationTextField->isEnabled());
        w->searchLocationTextField->setText(QStringLiteral("http://127.0.0.1:9/find?q="));
        w->setSearchLocationString(w->searchLocationTextField->text());
        QCOMPARE(stored(QStringLiteral("SearchLocation")).toString(), QStringLiteral("http://127.0.0.1:9/find?q="));
        w->searchLocationCheckbox->click();
        QCOMPARE(Settings::searchLocation(), QString::fromLatin1(kDefaultSearchLocation));
        w->setUI();
        QVERIFY(!w->searchLocationCheckbox->isChecked());
    }

    void foldersAreAddedInsideHomeAndRemoved()
    {
        StartedApp started;
        TempHome &home = started.home;
        Rivulet_AppDelegate &app = *started.app;
        PreferencesWindow *w = started.app->preferencesWC();
        AlertCatcher alerts;
        const QString music = home.path(QStringLiteral("Music Inbox"));
        QDir().mkpath(music);
        w->openPanelDidEnd({music}, true);
        QCOMPARE(w->dirsTable->count(), 2);
        QCOMPARE(w->dirsTable->item(0)->text(), QStringLiteral("Mail Downloads"));
        QCOMPARE(w->dirsTable->item(1)->text(), QStringLiteral("Music Inbox"));
        QTRY_VERIFY(watched(app).contains(QFile::encodeName(music)));
        QVERIFY(Settings::rootDirectory()->findSubdirectory(QFile::encodeName(music))->lastScanTime().has_value());

        // Outside home, and a sibling whose name only starts like home's, are refused.
        w->openPanelDidEnd({QStringLiteral("/tmp")}, true);
        w->openPanelDidEnd({home.home + QStringLiteral("-other")}, true);
        QTRY_COMPARE(alerts.seen.size(), 2);
        QCOMPARE(alerts.seen[0], QStringLiteral("Sorry, you can't add this directory|Rivulet only works for folders contained in your home directory."));
        QCOMPARE(w->dirsTable->count(), 2);
        w->openPanelDidEnd({home.home}, false); // cancelled
        QCOMPARE(w->dirsTable->count(), 2);

        LogCapture log;
        w->dirsTable->setCurrentRow(-1);
        w->rmDirClicked();
        QCOMPARE(log.lines(), QStringList{QStringLiteral("rmDirClicked")});
        w->dirsTable->setCurrentRow(1);
        w->rmDirClicked();
        QCOMPARE(w->dirsTable->count(), 1);
        QTRY_VERIFY(!watched(app).contains(QFile::encodeName(music)));
        QTRY_VERIFY(app.directoryDiffer()->watching());
    }

    void newHotkeyIsStoredShownAndRegistered()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        LogCapture log;
        // Control+Shift+K (virtual key 40).
        w->hotkeySelected(40, 0x40000 | 0x20000);
        QCOMPARE(stored(QStringLiteral("DownloadHotkey")).toULongLong(), quint64(40) + (quint64(0x60000) << 24));
        QVERIFY(log.contains(QStringLiteral("Unregister hotkey with keycode:2 modifierFlags:524288")));
        QVERIFY(log.contains(QStringLiteral("Register hotkey with keycode:40 modifierFlags:393216")));
        // With the option off the new hotkey is only stored.
        w->useDownloadHotkeyCheckbox->click();
        log.clear();
        w->hotkeySelected(12, 0x100000);
        QVERIFY(!log.contains(QStringLiteral("Register hotkey")));
        QCOMPARE(Settings::downloadHotkey(), quint64(12) + (quint64(0x100000) << 24));
        w->useDownloadHotkeyCheckbox->click();
        QVERIFY(log.contains(QStringLiteral("Register hotkey with keycode:12 modifierFlags:1048576")));
    }
};

QTEST_MAIN(TestPreferences)
#include "test_preferences.moc"
