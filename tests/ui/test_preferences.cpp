// The preferences window with real widgets (offscreen): the states of a
// fresh installation, the checkbox rules written at once, watched folders
// added (a nested one starting from now) and the selected ones removed with
// the watcher following, the folder chooser, a new hotkey stored (a bare key
// refused), and the ways to close the windows, by keyboard included.
#include "TestSupport.h"
#include "support/StartedApp.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "ui/FolderChooser.h"
#include "ui/PreferencesWindow.h"
#include "watch/FileClassification.h"
#include "ui/Windows.h"
#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
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

QStringList rows(PreferencesWindow *w, int column = 0)
{
    QStringList texts;
    for (int i = 0; i < w->dirsTable->topLevelItemCount(); ++i)
        texts << w->dirsTable->topLevelItem(i)->text(column);
    return texts;
}

void selectOnly(PreferencesWindow *w, QList<int> chosen, int current)
{
    w->dirsTable->clearSelection();
    for (int row : chosen)
        w->dirsTable->topLevelItem(row)->setSelected(true);
    // The current row (where the keyboard is) without selecting it, as Tab or Ctrl+click leave it.
    w->dirsTable->selectionModel()->setCurrentIndex(w->dirsTable->model()->index(current, 0), QItemSelectionModel::NoUpdate);
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
        QVERIFY(!w->deleteArchiveContentsText->isEnabled()); // drawn in the palette's disabled colour
        QVERIFY(w->unzipFilesCheckbox->isChecked());
        QVERIFY(!w->deleteZipsCheckbox->isChecked() && w->deleteZipsCheckbox->isEnabled());
        QVERIFY(!w->playSongsCheckbox->isChecked());
        QVERIFY(w->ifStoppedCheckbox->isChecked() && !w->ifStoppedCheckbox->isEnabled());
        QVERIFY(w->useDownloadHotkeyCheckbox->isChecked());
        QVERIFY(w->downloadHotkeyTextField->isEnabled());
        QVERIFY(w->growlNotificationsCheckbox->isChecked());
        QVERIFY(!w->searchLocationCheckbox->isChecked() && !w->searchLocationTextField->isEnabled());
        QCOMPARE(w->versionTextField->text(), QStringLiteral("v" RIVULET_VERSION));
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Downloads"), QStringLiteral("Mail Downloads")}));
        QCOMPARE(rows(w, 1), (QStringList{QStringLiteral("~/Downloads"), QStringLiteral("~/Mail Downloads")}));
        QVERIFY(!w->rmDirButton->isEnabled()); // nothing selected
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
        // It names where the browsers of this platform keep that choice.
        QVERIFY(PreferencesWindow::kPlaySongsNotice.contains(QStringLiteral("Firefox")) && PreferencesWindow::kPlaySongsNotice.contains(QStringLiteral("Chromium")));
        QVERIFY(!PreferencesWindow::kPlaySongsNotice.contains(QStringLiteral("Safari")));
        w->playSongsCheckbox->click(); // off: notice
        QTRY_COMPARE(alerts.seen.size(), 2);
        QCOMPARE(stored(QStringLiteral("PlaySongs")).toBool(), false);

        // More formats reach the watcher at once; MPD's music folder is asked for only when unknown.
        QVERIFY(!musicFileTester({"a.flac", kEntryTypeFile}));
        w->moreFormatsCheckbox->click();
        QCOMPARE(stored(QStringLiteral("ImportMoreFormats")).toBool(), true);
        QVERIFY(musicFileTester({"a.flac", kEntryTypeFile}));
        w->moreFormatsCheckbox->click();
        QVERIFY(!musicFileTester({"a.flac", kEntryTypeFile}));
        QVERIFY(w->musicFolderTextField->isHidden());
        Settings::setMpdMusicFolder("/srv/music");
        w->setUI();
        QVERIFY(!w->musicFolderTextField->isHidden());
        w->musicFolderTextField->setText(QStringLiteral("relative/music"));
        emit w->musicFolderTextField->editingFinished();
        QCOMPARE(Settings::mpdMusicFolder(), QByteArray("/srv/music"));

        w->searchLocationCheckbox->click();
        QVERIFY(w->searchLocationTextField->isEnabled());
        w->searchLocationTextField->setText(QStringLiteral("http://127.0.0.1:9/find?q="));
        w->setSearchLocationString(w->searchLocationTextField->text());
        QCOMPARE(stored(QStringLiteral("SearchLocation")).toString(), QStringLiteral("http://127.0.0.1:9/find?q="));
        // An address that is not a web address is refused with a reason and not stored.
        const int before = int(alerts.seen.size());
        w->setSearchLocationString(QStringLiteral("file:///etc/passwd?"));
        QTRY_COMPARE(alerts.seen.size(), before + 1);
        QVERIFY(alerts.seen.last().startsWith(QStringLiteral("The search address cannot be used.|")));
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
        w->openPanelDidEnd({music + QStringLiteral("/")}, true); // stored clean
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Mail Downloads"), QStringLiteral("Music Inbox")}));
        QTRY_VERIFY(watched(app).contains(QFile::encodeName(music)));
        QVERIFY(Settings::rootDirectory()->findSubdirectory(QFile::encodeName(music))->lastScanTime().has_value());

        // Outside home, and a sibling whose name only starts like home's, are refused.
        w->openPanelDidEnd({QStringLiteral("/tmp")}, true);
        w->openPanelDidEnd({home.home + QStringLiteral("-other")}, true);
        w->openPanelDidEnd({home.home + QStringLiteral("/../x")}, true);
        QTRY_COMPARE(alerts.seen.size(), 3);
        QCOMPARE(alerts.seen[0], QStringLiteral("Sorry, you can't add this directory|Rivulet only works for folders contained in your home directory."));
        QCOMPARE(w->dirsTable->topLevelItemCount(), 2);
        w->openPanelDidEnd({home.home}, false); // cancelled
        QCOMPARE(w->dirsTable->topLevelItemCount(), 2);

        LogCapture log;
        w->dirsTable->clearSelection();
        w->rmDirClicked();
        QCOMPARE(log.lines(), QStringList{QStringLiteral("rmDirClicked")});
        selectOnly(w, {1}, 1);
        QVERIFY(w->rmDirButton->isEnabled());
        w->rmDirClicked();
        QCOMPARE(rows(w), QStringList{QStringLiteral("Mail Downloads")});
        QVERIFY(!app.managedObjectContext()->hasChanges()); // stored at once, not only at quit
        QTRY_VERIFY(!watched(app).contains(QFile::encodeName(music)));
        QTRY_VERIFY(app.directoryDiffer()->watching());
    }

    void aNestedFolderStartsFromNow()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        // A folder inside the watched "Mail Downloads", already holding the user's music.
        const QByteArray nested = started.home.bytes(QStringLiteral("Mail Downloads/Albums"));
        QDir().mkpath(QFile::decodeName(nested));
        const auto before = dateNow();
        w->openPanelDidEnd({QFile::decodeName(nested)}, true);
        Directory *added = Settings::rootDirectory()->findSubdirectoryNamed(nested, true);
        QVERIFY(added);
        // Its own record starts from now, so nothing already in it counts as new.
        QVERIFY(added->lastScanTime().has_value());
        QVERIFY(*added->lastScanTime() >= before);
    }

    void removeTakesTheSelectionNotTheCurrentRow()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        for (const QString &name : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}) {
            QDir().mkpath(started.home.path(name));
            w->openPanelDidEnd({started.home.path(name)}, true);
        }
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Mail Downloads"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        // The keyboard is on "c"; "a" and "b" are selected.
        selectOnly(w, {1, 2}, 3);
        w->rmDirClicked();
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Mail Downloads"), QStringLiteral("c")}));
        // Ctrl+click took the selection away again: the current row stays, nothing goes.
        selectOnly(w, {}, 1);
        QVERIFY(!w->rmDirButton->isEnabled());
        w->rmDirClicked();
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Mail Downloads"), QStringLiteral("c")}));
    }

    void foldersOfOneNameAreToldApartAndTheChooserStaysOnRefusal()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        for (const QString &name : {QStringLiteral("a/Downloads"), QStringLiteral("b/Downloads")}) {
            QDir().mkpath(started.home.path(name));
            w->openPanelDidEnd({started.home.path(name)}, true);
        }
        QCOMPARE(rows(w), (QStringList{QStringLiteral("Mail Downloads"), QStringLiteral("Downloads"), QStringLiteral("Downloads")}));
        QCOMPARE(rows(w, 1), (QStringList{QStringLiteral("~/Mail Downloads"), QStringLiteral("~/a/Downloads"), QStringLiteral("~/b/Downloads")}));

        w->show();
        w->addDirClicked();
        auto *chooser = w->findChild<FolderChooser *>();
        QVERIFY(chooser);
        QTRY_VERIFY(chooser->isVisible());
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Choose a Folder to Watch"));
        QCOMPARE(chooser->directory().absolutePath(), started.home.home); // not the working folder
        {
            AlertCatcher alerts;
            chooser->setDirectory(QStringLiteral("/tmp"));
            chooser->accept();
            QTRY_COMPARE(alerts.seen.size(), 1);
            QCOMPARE(alerts.seen[0], QStringLiteral("Sorry, you can't add this directory|Rivulet only works for folders contained in your home directory."));
        }
        QVERIFY(chooser->isVisible()); // still open, where the user was
        QCOMPARE(chooser->directory().absolutePath(), QStringLiteral("/tmp"));
        const QString inbox = started.home.path(QStringLiteral("Inbox"));
        QDir().mkpath(inbox);
        chooser->setDirectory(inbox);
        chooser->accept();
        QTRY_VERIFY(rows(w).contains(QStringLiteral("Inbox")));
        w->close();
    }

    void windowsCloseByKeyboardAndButton()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        AboutWindow about;
        for (QWidget *window : {static_cast<QWidget *>(w), static_cast<QWidget *>(&about)}) {
            for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
                window->show();
                window->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(window));
                QTest::keySequence(window, keys);
                QTRY_VERIFY2(!window->isVisible(), qPrintable(window->objectName() + QLatin1Char(' ') + keys.toString()));
            }
            window->show();
            QPushButton *close = nullptr;
            for (QPushButton *b : window->findChildren<QPushButton *>())
                if (b->text().remove(QLatin1Char('&')) == QLatin1String("Close"))
                    close = b;
            QVERIFY(close);
            close->click();
            QVERIFY(!window->isVisible());
        }
    }

    void theArchiveLabelTogglesItsCheckbox()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::mouseClick(w->deleteArchiveContentsText, Qt::LeftButton); // disabled while DeleteFiles is off
        QCOMPARE(Settings::deleteArchiveContents(), false);
        w->deleteFilesCheckbox->click();
        QTest::mouseClick(w->deleteArchiveContentsText, Qt::LeftButton);
        QCOMPARE(Settings::deleteArchiveContents(), true);
        QVERIFY(w->deleteArchiveContentsCheckbox->isChecked());
        QTest::mouseClick(w->deleteArchiveContentsText, Qt::LeftButton);
        QCOMPARE(Settings::deleteArchiveContents(), false);
        w->close();
    }

    void everyControlHasAKeyboardPathAndAName()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        w->deleteFilesCheckbox->click(); // every control enabled
        w->searchLocationCheckbox->click();
        w->dirsTable->topLevelItem(0)->setSelected(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QSet<QWidget *> chain;
        QWidget *start = w->dirsTable;
        for (QWidget *at = start->nextInFocusChain(); at != start; at = at->nextInFocusChain())
            chain.insert(at);
        chain.insert(start);
        QList<QWidget *> controls{w->dirsTable, w->addDirButton, w->rmDirButton, w->downloadHotkeyTextField, w->searchLocationTextField, w->closeButton};
        for (QCheckBox *box : w->findChildren<QCheckBox *>())
            controls << box;
        for (QWidget *c : controls) {
            QVERIFY2(chain.contains(c) && (c->focusPolicy() & Qt::TabFocus), qPrintable(c->metaObject()->className() + c->accessibleName()));
            const auto *button = qobject_cast<QAbstractButton *>(c);
            const QString name = button && !button->text().isEmpty() ? button->text() : c->accessibleName();
            QVERIFY2(!name.isEmpty(), c->metaObject()->className());
        }
        QCOMPARE(w->windowTitle(), QStringLiteral("Rivulet Preferences"));
        w->close();
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

    void aBareKeyIsRefusedButFunctionKeysAreNot()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        LogCapture log;
        w->hotkeySelected(40, 0); // K alone would be taken from every program
        QVERIFY(stored(QStringLiteral("DownloadHotkey")).isNull());
        QCOMPARE(w->downloadHotkeyTextField->text(), PreferencesWindow::kModifierNeeded);
        QVERIFY(!log.contains(QStringLiteral("Register hotkey")));
        w->hotkeySelected(53, 0x10000 | 0x100); // Escape with Caps Lock and a device bit only
        QVERIFY(stored(QStringLiteral("DownloadHotkey")).isNull());
        w->hotkeySelected(96, 0); // F5
        QCOMPARE(Settings::downloadHotkey(), quint64(96));
        w->hotkeySelected(0x100 + 202, 0); // F24, which has no virtual key code
        QCOMPARE(Settings::downloadHotkey(), quint64(0x100 + 202));
        w->hotkeySelected(40, 0x20000); // Shift+K
        QCOMPARE(Settings::downloadHotkey(), quint64(40) + (quint64(0x20000) << 24));
    }
};

QTEST_MAIN(TestPreferences)
#include "test_preferences.moc"
