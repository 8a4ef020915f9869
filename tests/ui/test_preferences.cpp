// The preferences window: settings written at once, folders, the hotkey, the keyboard paths; its
// place at any QT_SCALE_FACTOR (test_prefs_look.sh) and palette, screenshots to $RIVULET_SCREENSHOTS.
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "support/StartedApp.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "ui/FolderChooser.h"
#include "ui/PreferencesWindow.h"
#include "watch/FileClassification.h"
#include "ui/Windows.h"
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTreeWidget>
#include <QSettings>

namespace {
const QString kOutsideHome = u"Sorry, you can't add this directory|Rivulet only works for folders contained in your home directory."_s;

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
    // Current without selected, as Tab or Ctrl+click leave it.
    w->dirsTable->selectionModel()->setCurrentIndex(w->dirsTable->model()->index(current, 0), QItemSelectionModel::NoUpdate);
}

QList<QByteArray> watched(Rivulet_AppDelegate &app)
{
    QList<QByteArray> names;
    for (Directory *d : app.directoryDiffer()->roots())
        names << d->name();
    return names;
}

void screenshot(QWidget *w, const QString &name)
{
    const QString folder = qEnvironmentVariable("RIVULET_SCREENSHOTS", QDir::tempPath() + u"/rivulet-screenshots"_s);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_s).replace(QLatin1Char('.'), QLatin1Char('_'));
    QDir().mkpath(folder);
    const QString file = folder + u"/%1-scale%2.png"_s.arg(name, scale);
    QVERIFY(w->grab().save(file));
    qInfo("screenshot: %s", qPrintable(file));
}
}

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setStyle(QStyleFactory::create(u"Fusion"_s)); }

    void checkboxRulesAreWrittenAtOnce()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        AlertCatcher alerts;
        const auto on = [](const char *key) { return stored(QLatin1String(key)).toBool(); };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));

        QTest::mouseClick(w->deleteArchiveContentsText, Qt::LeftButton); // disabled while DeleteFiles is off
        QVERIFY(!on("DeleteArchiveContents"));
        w->deleteFilesCheckbox->click();
        QVERIFY(on("DeleteFiles") && w->deleteArchiveContentsCheckbox->isEnabled());
        QTest::mouseClick(w->deleteArchiveContentsText, Qt::LeftButton); // the label toggles its checkbox
        QVERIFY(on("DeleteArchiveContents") && w->deleteArchiveContentsCheckbox->isChecked());
        w->deleteFilesCheckbox->click(); // off: takes the dependent one with it
        QVERIFY(!on("DeleteArchiveContents") && !w->deleteArchiveContentsCheckbox->isChecked() && !w->deleteArchiveContentsCheckbox->isEnabled());
        w->deleteFilesCheckbox->click();
        QVERIFY(w->deleteArchiveContentsCheckbox->isEnabled() && !w->deleteArchiveContentsCheckbox->isChecked());

        w->deleteZipsCheckbox->click();
        w->unzipFilesCheckbox->click();
        QVERIFY(!on("UnzipFiles") && on("DeleteZips") && !w->deleteZipsCheckbox->isEnabled() && w->deleteZipsCheckbox->isChecked());

        // The notice comes when only-if-stopped is turned on, or playing off.
        w->playSongsCheckbox->click();
        w->ifStoppedCheckbox->click();
        QTest::qWait(100);
        QVERIFY(alerts.seen.isEmpty());
        w->ifStoppedCheckbox->click();
        QTRY_COMPARE(alerts.seen, QStringList{u"Informational Notice|"_s + PreferencesWindow::kPlaySongsNotice});
        w->playSongsCheckbox->click();
        QTRY_VERIFY(alerts.seen.size() == 2 && !on("PlaySongs"));

        // MPD's music folder is asked for only when unknown.
        QVERIFY(!musicFileTester({"a.flac", kEntryTypeFile}));
        w->moreFormatsCheckbox->click();
        QVERIFY(on("ImportMoreFormats") && musicFileTester({"a.flac", kEntryTypeFile}));
        w->moreFormatsCheckbox->click();
        QVERIFY(!musicFileTester({"a.flac", kEntryTypeFile}) && w->musicFolderTextField->isHidden());
        Settings::setMpdMusicFolder("/srv/music");
        w->setUI();
        QVERIFY(!w->musicFolderTextField->isHidden());
        w->musicFolderTextField->setText(u"relative/music"_s);
        emit w->musicFolderTextField->editingFinished();
        QCOMPARE(Settings::mpdMusicFolder(), QByteArray("/srv/music"));

        w->searchLocationCheckbox->click();
        QVERIFY(w->searchLocationTextField->isEnabled());
        const QString mine = u"http://127.0.0.1:9/find?q="_s;
        w->setSearchLocationString(mine);
        QCOMPARE(stored(u"SearchLocation"_s).toString(), mine);
        w->setSearchLocationString(u"file:///etc/passwd?"_s); // refused, not stored
        QTRY_COMPARE(alerts.seen.size(), 3);
        QVERIFY(alerts.seen.last().startsWith(u"The search address cannot be used.|"_s));
        QCOMPARE(stored(u"SearchLocation"_s).toString(), mine);
        w->searchLocationCheckbox->click(); // off: back to the default
        QCOMPARE(Settings::searchLocation(), QString::fromLatin1(kDefaultSearchLocation));
        // Each box shows what is stored: a click turns that over.
        w->growlNotificationsCheckbox->click();
        w->startAtLoginCheckbox->click();
        QVERIFY(!on("GrowlNotifications") && on("StartAtLogin"));
    }

    void foldersAreAddedInsideHomeAndRemoved()
    {
        StartedApp started;
        TempHome &home = started.home;
        Rivulet_AppDelegate &app = *started.app;
        PreferencesWindow *w = app.preferencesWC();
        AlertCatcher alerts;
        const auto add = [&](const QString &name, const QString &end = QString()) {
            QDir().mkpath(home.path(name));
            w->openPanelDidEnd({home.path(name) + end}, true);
        };
        const QByteArray music = home.bytes(u"Music Inbox"_s);
        add(u"Music Inbox"_s, u"/"_s); // stored clean
        add(u"a/Downloads"_s);
        add(u"b/Downloads"_s);
        QCOMPARE(rows(w), (QStringList{u"Mail Downloads"_s, u"Music Inbox"_s, u"Downloads"_s, u"Downloads"_s}));
        QCOMPARE(rows(w, 1), (QStringList{u"~/Mail Downloads"_s, u"~/Music Inbox"_s, u"~/a/Downloads"_s, u"~/b/Downloads"_s}));
        QTRY_VERIFY(watched(app).contains(music));

        // Also a sibling whose name only starts like home's.
        for (const QString &outside : {u"/tmp"_s, home.home + u"-other"_s, home.home + u"/../x"_s})
            w->openPanelDidEnd({outside}, true);
        QTRY_COMPARE(alerts.seen.size(), 3);
        QCOMPARE(alerts.seen[0], kOutsideHome);
        w->openPanelDidEnd({home.home}, false); // cancelled
        QCOMPARE(w->dirsTable->topLevelItemCount(), 4);

        // Remove takes the selection, not the current row.
        selectOnly(w, {}, 1);
        QVERIFY(!w->rmDirButton->isEnabled());
        w->rmDirClicked();
        QCOMPARE(w->dirsTable->topLevelItemCount(), 4);
        selectOnly(w, {1, 2}, 3);
        QVERIFY(w->rmDirButton->isEnabled());
        w->rmDirClicked();
        QCOMPARE(rows(w, 1), (QStringList{u"~/Mail Downloads"_s, u"~/b/Downloads"_s}));
        QVERIFY(!app.managedObjectContext()->hasChanges()); // stored at once, not only at quit
        QTRY_VERIFY(!watched(app).contains(music));
        QTRY_VERIFY(app.directoryDiffer()->watching());

        // The chooser starts at home, not the working folder; on a refusal it stays open where the user was.
        w->show();
        w->addDirClicked();
        auto *chooser = w->findChild<FolderChooser *>();
        QTRY_VERIFY(chooser && chooser->isVisible());
        QCOMPARE(chooser->directory().absolutePath(), home.home);
        chooser->setDirectory(u"/tmp"_s);
        chooser->accept();
        QTRY_COMPARE(alerts.seen.value(3), kOutsideHome);
        QVERIFY(chooser->isVisible() && chooser->directory().absolutePath() == u"/tmp"_s);
        chooser->setDirectory(home.path(u"Music Inbox"_s));
        chooser->accept();
        QTRY_VERIFY(watched(app).contains(music));

        // Nothing already in a folder inside a watched one counts as new.
        const auto before = dateNow();
        add(u"Mail Downloads/Albums"_s);
        Directory *nested = Settings::rootDirectory()->findSubdirectoryNamed(home.bytes(u"Mail Downloads/Albums"_s), true);
        QVERIFY(nested && nested->lastScanTime().has_value() && *nested->lastScanTime() >= before);
    }

    void theKeyboardReachesEveryControlAndClosesTheWindows()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        w->deleteFilesCheckbox->click(); // every control enabled
        w->searchLocationCheckbox->click();
        w->dirsTable->topLevelItem(0)->setSelected(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QSet<QWidget *> chain{w->dirsTable};
        for (QWidget *at = w->dirsTable->nextInFocusChain(); at != w->dirsTable; at = at->nextInFocusChain())
            chain.insert(at);
        QList<QWidget *> controls{w->dirsTable, w->addDirButton, w->rmDirButton, w->downloadHotkeyTextField, w->searchLocationTextField, w->closeButton};
        for (QCheckBox *box : w->findChildren<QCheckBox *>())
            controls << box;
        for (QWidget *c : controls) {
            QVERIFY2(chain.contains(c) && (c->focusPolicy() & Qt::TabFocus), qPrintable(c->metaObject()->className() + c->accessibleName()));
            const auto *button = qobject_cast<QAbstractButton *>(c);
            QVERIFY2(!(button && !button->text().isEmpty() ? button->text() : c->accessibleName()).isEmpty(), c->metaObject()->className());
        }

        // Both windows close by Escape, Ctrl+W and their Close button.
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
            const auto buttons = window->findChildren<QPushButton *>();
            const auto close = std::find_if(buttons.begin(), buttons.end(), [](QPushButton *b) { return b->text().remove(QLatin1Char('&')) == "Close"_L1; });
            QVERIFY(close != buttons.end());
            (*close)->click();
            QVERIFY(!window->isVisible());
        }
    }

    // Stored and registered at once in place of the old one (only stored while off); F1-F24 need no modifier.
    void hotkeysAreStoredAndRegistered()
    {
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        const auto registered = [](quint16 key, quint64 modifiers) { return DDHotKeyCenter().hasRegisteredHotKeyWithKeyCode(key, modifiers); };
        QVERIFY(registered(2, 0x80000)); // Alt+D, the default
        const quint64 altD = Settings::downloadHotkey();
        struct Case { quint16 key; quint64 modifiers; bool taken; };
        for (const auto &[key, modifiers, taken] : {Case{40, 0, false},                // K alone would be taken from every program
                                                    Case{53, 0x10000 | 0x100, false},  // Escape with Caps Lock and a device bit only
                                                    Case{96, 0, true},                 // F5
                                                    Case{0x100 + 202, 0, true},        // F24, which has no virtual key code
                                                    Case{40, 0x20000, true}}) {        // Shift+K
            QCOMPARE(w->hotkeySelected(key, modifiers), taken);
            QCOMPARE(Settings::downloadHotkey(), taken ? key + (modifiers << 24) : altD);
            if (!taken)
                QVERIFY(stored(u"DownloadHotkey"_s).isNull() && w->downloadHotkeyTextField->text() == PreferencesWindow::kModifierNeeded);
        }
        // Control+Shift+K (virtual key 40).
        w->hotkeySelected(40, 0x40000 | 0x20000);
        QCOMPARE(stored(u"DownloadHotkey"_s).toULongLong(), quint64(40) + (quint64(0x60000) << 24));
        QVERIFY(registered(40, 0x60000) && !registered(2, 0x80000) && !registered(96, 0));
        w->useDownloadHotkeyCheckbox->click();
        QVERIFY(DDHotKeyCenter().registeredHotKeys().empty());
        w->hotkeySelected(12, 0x100000);
        QVERIFY(DDHotKeyCenter().registeredHotKeys().empty());
        QCOMPARE(Settings::downloadHotkey(), quint64(12) + (quint64(0x100000) << 24));
        w->useDownloadHotkeyCheckbox->click();
        QVERIFY(registered(12, 0x100000) && DDHotKeyCenter().registeredHotKeys().size() == 1);
    }

    void windowsFitTheirScreenCentred()
    {
        StartedApp started;
        Rivulet_AppDelegate &app = *started.app;
        for (QWidget *w : {static_cast<QWidget *>(app.preferencesWC()), app.aboutWC()}) {
            app.openWindowForController(w, false);
            QVERIFY(QTest::qWaitForWindowExposed(w));
            // Centred, give or take rounding and an uneven frame; the window manager may still be placing it.
            const auto misplaced = [w] {
                const QRect area = w->screen()->availableGeometry(), frame = w->frameGeometry();
                QString where;
                if (!area.contains(frame) || qAbs((frame.left() - area.left()) - (area.right() - frame.right())) > 4
                    || qAbs((frame.top() - area.top()) - (area.bottom() - frame.bottom())) > 40)
                    QDebug(&where) << w->objectName() << "frame" << frame << "in" << area;
                return where;
            };
            QTRY_COMPARE_WITH_TIMEOUT(misplaced(), QString(), 10000);
            screenshot(w, w->objectName() + u"-placed"_s);
            w->close();
        }
        // Content that does not fit scrolls; up to scale 1.5 on 1280x800 nothing does.
        if (qEnvironmentVariable("QT_SCALE_FACTOR", u"1"_s).toDouble() <= 1.5) {
            PreferencesWindow *prefs = app.preferencesWC();
            auto *scroll = prefs->findChild<QScrollArea *>();
            app.openWindowForController(prefs, false);
            QVERIFY(QTest::qWaitForWindowExposed(prefs));
            QTRY_COMPARE(scroll->verticalScrollBar()->maximum(), 0);
            QCOMPARE(scroll->horizontalScrollBar()->maximum(), 0);
            screenshot(prefs, u"PreferencesWindow-whole"_s);
            prefs->close();
        }
    }

    void followsTheApplicationPalette_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void followsTheApplicationPalette()
    {
        QFETCH(bool, dark);
        StartedApp started;
        PreferencesWindow *w = started.app->preferencesWC();
        // Changed while the window exists, as by a theme switch.
        const QPalette palette = dark ? darkPalette() : QApplication::style()->standardPalette();
        QApplication::setPalette(palette);
        w->resize(w->sizeHint());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QImage shot = w->grab().toImage();
        QVERIFY(qAbs(shot.pixelColor(3, 3).lightnessF() - palette.color(QPalette::Window).lightnessF()) < 0.1);
        QCOMPARE(w->deleteArchiveContentsText->palette().color(QPalette::Disabled, QPalette::WindowText),
                 palette.color(QPalette::Disabled, QPalette::WindowText));
        QVERIFY(!w->deleteArchiveContentsText->isEnabled());
        QCOMPARE(w->startAtLoginCheckbox->palette().color(QPalette::WindowText), palette.color(QPalette::WindowText));
        screenshot(w, dark ? u"preferences-dark"_s : u"preferences-light"_s);
        w->close();
        QApplication::setPalette(QApplication::style()->standardPalette());
    }
};

RIVULET_X_TEST_MAIN(TestPreferences, QApplication)
#include "test_preferences.moc"
