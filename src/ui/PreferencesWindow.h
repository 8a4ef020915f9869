#pragma once
// The preferences window: every setting a person may change, the watched
// folders, the hotkey (chosen by pressing it) and the search location. Each
// change is written at once; there is no OK or Cancel.
#include "hotkeys/KeyDownApplication.h"
#include "ui/Windows.h"
#include <QStringList>

class ManagedObjectContext;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QTreeWidget;

// What the window needs of the application controller.
class PreferencesHost {
public:
    virtual ~PreferencesHost() = default;
    virtual void watchDirsUpdated() = 0;
    virtual ManagedObjectContext *managedObjectContext() = 0;
    virtual QObject *hotkeyTarget() = 0; // receives rivuletHotKeyPressed
    // The library settings changed (the formats taken, MPD's music folder).
    virtual void libraryChoicesChanged() {}
    // Whether the music library could not tell where its music folder is.
    virtual bool musicFolderNeeded() { return false; }
};

class PreferencesWindow : public TrackedWindow, public HotkeyCaptureTarget {
    Q_OBJECT
public:
    static const QString kPlaySongsNotice;
    // Shown in the hotkey field when a key without a modifier was pressed.
    static const QString kModifierNeeded;

    explicit PreferencesWindow(PreferencesHost *host, QWidget *parent = nullptr);
    void setUI();
    void checkBoxClicked(QCheckBox *sender);
    void addDirClicked();
    // The folder chooser ended: the chosen folder is added when accepted and inside home.
    void openPanelDidEnd(const QStringList &chosen, bool accepted);
    // Removes every selected folder; nothing without a selection.
    void rmDirClicked();
    int numberOfRowsInTableView() const;
    QString tableViewObjectValue(int row) const;
    void runAppOnUserLogin(bool enable);
    void showPlaySongsWarning();
    void alert(const QString &title, const QString &text, QWidget *over = nullptr);
    QString searchLocationString() const;
    void setSearchLocationString(const QString &location);

    QWidget *captureWindow() const override { return const_cast<PreferencesWindow *>(this); }
    bool hotkeySelected(quint16 keycode, quint64 modifiers) override;
    QSize sizeHint() const override;

    // Controls, for the tests and the window's own layout.
    QTreeWidget *dirsTable;
    QCheckBox *startAtLoginCheckbox, *deleteFilesCheckbox, *deleteArchiveContentsCheckbox, *unzipFilesCheckbox, *deleteZipsCheckbox;
    QCheckBox *playSongsCheckbox, *ifStoppedCheckbox, *useDownloadHotkeyCheckbox, *growlNotificationsCheckbox, *searchLocationCheckbox;
    QCheckBox *moreFormatsCheckbox;
    QLabel *musicFolderLabel;
    QLineEdit *musicFolderTextField;
    QLabel *deleteArchiveContentsText;
    // Where keys typed into Wayland windows never reach the hotkey: says so
    // and shows the command to bind instead; hidden elsewhere.
    QLabel *hotkeyPathNote;
    MouseDownTextField *downloadHotkeyTextField;
    QLineEdit *searchLocationTextField;
    QLabel *versionTextField;
    QPushButton *addDirButton, *rmDirButton, *closeButton;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *buildFolders();
    QWidget *buildGeneral();
    QWidget *buildAfterDownload();
    QWidget *buildSearch();
    void reloadTable();
    void saveStore();
    void showStoredHotkey();
    void setArchiveContentsTextEnabled(bool enabled);
    void arrangeFor(class QScreen *screen);
    PreferencesHost *m_host;
    class QBoxLayout *m_middle = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_bottomRow = nullptr;
    QTimer *m_hotkeyNoticeTimer = nullptr;
};
