#include "ui/PreferencesWindow.h"
#include "base/Log.h"
#include "base/PathContainment.h"
#include "hotkeys/Hotkey.h"
#include "hotkeys/KeyboardLayoutWatcher.h"
#include "hotkeys/VirtualKeys.h"
#include "settings/LoginItems.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "ui/FolderChooser.h"
#include "ui/SearchAddress.h"

#include <QCheckBox>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

const QString PreferencesWindow::kPlaySongsNotice = QStringLiteral(
    "Most web browsers play individual mp3 files after downloading by default, and this checkbox does not affect your browser's "
    "behavior. If you wish to prevent your browser from playing mp3s, you can disable it in your browser's settings: in Firefox, "
    "under Settings, General, Files and Applications, set the action for MP3 audio to \"Save File\"; in Chromium, under "
    "Settings, Downloads, clear \"Open certain file types automatically after downloading.\"");
const QString PreferencesWindow::kModifierNeeded = QStringLiteral("Hold Ctrl, Alt, Shift or Meta too");

namespace {
// The watcher is told of a new folder this much later.
constexpr int kAlertDelegateDelayMs = 100;
// How long the hotkey field shows why a key was refused.
constexpr int kHotkeyNoticeMs = 3000;
constexpr quint64 kAnyModifier = 0x20000 | 0x40000 | 0x80000 | 0x100000;
constexpr int kVisibleFolderRows = 5;
constexpr int kPathRole = Qt::UserRole;

// Asks for the height of its whole content (a plain scroll area asks for a
// small, fixed size), so the window opens showing everything when it fits.
class ContentScrollArea : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget() ? widget()->sizeHint() + QSize(frame, frame) : QScrollArea::sizeHint();
    }
};
}

PreferencesWindow::PreferencesWindow(PreferencesHost *host, QWidget *parent) : TrackedWindow(parent), m_host(host)
{
    setWindowTitle(tr("Rivulet Preferences"));
    setObjectName(QStringLiteral("PreferencesWindow"));
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->addWidget(buildFolders(), 1); // only the folder list grows with the window
    // General and After a download stand side by side on a short screen.
    m_middle = new QBoxLayout(QBoxLayout::TopToBottom);
    m_middle->addWidget(buildGeneral(), 0, Qt::AlignTop);
    m_middle->addWidget(buildAfterDownload());
    layout->addLayout(m_middle);
    layout->addWidget(buildSearch());

    // On a small or scaled screen the window is made smaller than its content: it scrolls.
    m_scroll = new ContentScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(content);
    m_scroll->setFocusPolicy(Qt::NoFocus);

    m_bottomRow = new QWidget(this);
    auto *bottom = new QHBoxLayout(m_bottomRow);
    versionTextField = new QLabel(m_bottomRow);
    versionTextField->setObjectName(QStringLiteral("versionLabel"));
    versionTextField->setForegroundRole(QPalette::PlaceholderText); // quiet, in any palette
    closeButton = new QPushButton(tr("&Close"), m_bottomRow);
    bottom->addWidget(versionTextField);
    bottom->addStretch();
    bottom->addWidget(closeButton);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(m_scroll, 1);
    outer->addWidget(m_bottomRow);

    for (QCheckBox *box : findChildren<QCheckBox *>())
        connect(box, &QCheckBox::clicked, this, [this, box] { checkBoxClicked(box); });
    connect(addDirButton, &QPushButton::clicked, this, &PreferencesWindow::addDirClicked);
    connect(rmDirButton, &QPushButton::clicked, this, &PreferencesWindow::rmDirClicked);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(searchLocationTextField, &QLineEdit::editingFinished, this, [this] {
        if (searchLocationTextField->isEnabled())
            setSearchLocationString(searchLocationTextField->text());
    });
    connect(musicFolderTextField, &QLineEdit::editingFinished, this, [this] {
        // Typed text names the folder in the locale's encoding; only an absolute path is kept.
        const QByteArray folder = QFile::encodeName(musicFolderTextField->text().trimmed());
        if (!folder.isEmpty() && !folder.startsWith('/'))
            return musicFolderTextField->setText(QFile::decodeName(Settings::mpdMusicFolder()));
        Settings::setMpdMusicFolder(folder);
        m_host->libraryChoicesChanged();
    });
    m_hotkeyNoticeTimer = new QTimer(this);
    m_hotkeyNoticeTimer->setSingleShot(true);
    m_hotkeyNoticeTimer->setInterval(kHotkeyNoticeMs);
    connect(m_hotkeyNoticeTimer, &QTimer::timeout, this, &PreferencesWindow::showStoredHotkey);
    // The hotkey's key is named in the layout in use: a switch of layouts names it again.
    connect(new KeyboardLayoutWatcher(this), &KeyboardLayoutWatcher::layoutChanged, this, [this] {
        if (!m_hotkeyNoticeTimer->isActive())
            showStoredHotkey();
    });
    setUI();
    arrangeFor(QGuiApplication::primaryScreen());
}

// The groups side by side where, one above the other, they would not fit
// the screen's height (a small or scaled screen) without scrolling.
void PreferencesWindow::arrangeFor(QScreen *screen)
{
    if (!screen)
        return;
    m_middle->setDirection(QBoxLayout::TopToBottom);
    m_scroll->widget()->layout()->activate();
    const int titleBar = 2 * fontMetrics().height();
    const QSize area = screen->availableGeometry().size();
    if (sizeHint().height() + titleBar <= area.height())
        return;
    m_middle->setDirection(QBoxLayout::LeftToRight);
    m_scroll->widget()->layout()->activate();
    if (sizeHint().width() + titleBar > area.width()) { // too narrow as well (frame allowed for): it scrolls
        m_middle->setDirection(QBoxLayout::TopToBottom);
        m_scroll->widget()->layout()->activate();
    }
}

QSize PreferencesWindow::sizeHint() const
{
    // The folder list asks for a few rows; the user can make the window taller for more.
    const int rowHeight = dirsTable->fontMetrics().height() + 6;
    const int listHeight = dirsTable->header()->sizeHint().height() + kVisibleFolderRows * rowHeight + 2 * dirsTable->frameWidth();
    const QSize content = m_scroll->sizeHint() - QSize(0, qMax(0, dirsTable->sizeHint().height() - listHeight));
    const QSize bottom = m_bottomRow->sizeHint();
    return {qMax(content.width(), bottom.width()), content.height() + bottom.height()};
}

void PreferencesWindow::setArchiveContentsTextEnabled(bool enabled)
{
    // A disabled label is drawn in the palette's disabled text colour, whatever the palette.
    deleteArchiveContentsText->setEnabled(enabled);
}

bool PreferencesWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == deleteArchiveContentsText && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && deleteArchiveContentsCheckbox->isEnabled()) {
        deleteArchiveContentsCheckbox->click();
        return true;
    }
    return TrackedWindow::eventFilter(watched, event);
}

void PreferencesWindow::showStoredHotkey()
{
    if (downloadHotkeyTextField->listening()) {
        downloadHotkeyTextField->clear(); // back to saying it listens
        return;
    }
    downloadHotkeyTextField->setText(Hotkey::hotkeyWithLongLong(Settings::downloadHotkey()).stringValue().value_or(QString()));
}

void PreferencesWindow::setUI()
{
    versionTextField->setText(QStringLiteral("v%1").arg(QStringLiteral(RIVULET_VERSION)));
    startAtLoginCheckbox->setChecked(Settings::startAtLogin());
    deleteFilesCheckbox->setChecked(Settings::deleteFiles());
    deleteArchiveContentsCheckbox->setChecked(Settings::deleteArchiveContents());
    deleteArchiveContentsCheckbox->setEnabled(Settings::deleteFiles());
    setArchiveContentsTextEnabled(Settings::deleteFiles());
    unzipFilesCheckbox->setChecked(Settings::unzipFiles());
    deleteZipsCheckbox->setChecked(Settings::deleteZips());
    deleteZipsCheckbox->setEnabled(Settings::unzipFiles());
    playSongsCheckbox->setChecked(Settings::playSongs());
    ifStoppedCheckbox->setChecked(Settings::ifStopped());
    ifStoppedCheckbox->setEnabled(Settings::playSongs());
    useDownloadHotkeyCheckbox->setChecked(Settings::useDownloadHotkey());
    showStoredHotkey();
    growlNotificationsCheckbox->setChecked(Settings::growlNotifications());
    moreFormatsCheckbox->setChecked(Settings::importMoreFormats());
    const bool folderShown = m_host->musicFolderNeeded() || !Settings::mpdMusicFolder().isEmpty();
    musicFolderLabel->setVisible(folderShown);
    musicFolderTextField->setVisible(folderShown);
    musicFolderTextField->setText(QFile::decodeName(Settings::mpdMusicFolder()));
    const bool custom = !SearchAddress::isBuiltInPage(Settings::searchLocation());
    searchLocationCheckbox->setChecked(custom);
    searchLocationTextField->setEnabled(custom);
    searchLocationTextField->setText(searchLocationString());
    reloadTable();
}

void PreferencesWindow::checkBoxClicked(QCheckBox *sender)
{
    const bool on = sender->checkState() == Qt::Checked;
    if (sender == startAtLoginCheckbox) {
        Settings::setStartAtLogin(on);
        runAppOnUserLogin(Settings::startAtLogin());
    } else if (sender == deleteFilesCheckbox) {
        Settings::setDeleteFiles(on);
        deleteArchiveContentsCheckbox->setEnabled(on);
        setArchiveContentsTextEnabled(on);
        if (!on && Settings::deleteArchiveContents()) {
            Settings::setDeleteArchiveContents(false);
            deleteArchiveContentsCheckbox->setChecked(false);
        }
    } else if (sender == deleteArchiveContentsCheckbox) {
        Settings::setDeleteArchiveContents(on);
    } else if (sender == unzipFilesCheckbox) {
        Settings::setUnzipFiles(on);
        deleteZipsCheckbox->setEnabled(on);
    } else if (sender == deleteZipsCheckbox) {
        Settings::setDeleteZips(on);
    } else if (sender == moreFormatsCheckbox) {
        Settings::setImportMoreFormats(on);
        m_host->libraryChoicesChanged();
    } else if (sender == playSongsCheckbox) {
        Settings::setPlaySongs(on);
        ifStoppedCheckbox->setEnabled(on);
        if (!on)
            showPlaySongsWarning();
    } else if (sender == ifStoppedCheckbox) {
        Settings::setIfStopped(on);
        if (on)
            showPlaySongsWarning();
    } else if (sender == useDownloadHotkeyCheckbox) {
        Settings::setUseDownloadHotkey(on);
        const Hotkey hotkey = Hotkey::hotkeyWithLongLong(Settings::downloadHotkey());
        if (on)
            hotkey.registerWithTarget(m_host->hotkeyTarget(), "rivuletHotKeyPressed", QVariant());
        else
            hotkey.unregister();
        saveStore();
    } else if (sender == growlNotificationsCheckbox) {
        Settings::setGrowlNotifications(on);
    } else if (sender == searchLocationCheckbox) {
        searchLocationTextField->setEnabled(on);
        // A field that does not hold a usable address yet leaves the stored one; typing one stores it.
        if (!on)
            Settings::setSearchLocation(QString::fromLatin1(kDefaultSearchLocation));
        else if (SearchAddress::problem(searchLocationTextField->text()).isEmpty())
            Settings::setSearchLocation(searchLocationTextField->text());
    }
}

void PreferencesWindow::saveStore()
{
    StoreError ignored;
    if (ManagedObjectContext *ctx = m_host->managedObjectContext())
        ctx->save(&ignored);
}

void PreferencesWindow::reloadTable()
{
    dirsTable->clear();
    Directory *root = Settings::rootDirectory();
    const auto sorted = root ? root->sortedSubdirectories() : std::vector<Directory *>();
    for (int row = 0; row < numberOfRowsInTableView() && size_t(row) < sorted.size(); ++row) {
        // Name first, then where it is: two folders of the same name stay apart.
        const QByteArray path = sorted[size_t(row)]->name();
        auto *item = new QTreeWidgetItem(dirsTable, {tableViewObjectValue(row), FolderPaths::displayPath(path)});
        item->setData(0, kPathRole, path);
        item->setToolTip(1, QFile::decodeName(path));
    }
    rmDirButton->setEnabled(false);
}

int PreferencesWindow::numberOfRowsInTableView() const
{
    Directory *root = Settings::rootDirectory();
    return root ? int(root->subdirectories().size()) : 0;
}

QString PreferencesWindow::tableViewObjectValue(int row) const
{
    Directory *root = Settings::rootDirectory();
    const auto sorted = root ? root->sortedSubdirectories() : std::vector<Directory *>();
    return row >= 0 && size_t(row) < sorted.size() ? QFile::decodeName(leafName(sorted[size_t(row)]->name())) : QString();
}

void PreferencesWindow::addDirClicked()
{
    Log::f("addDirClicked");
    auto *panel = new FolderChooser(this, [this](const QString &chosen, QWidget *chooser) {
        if (FolderPaths::insideHome(chosen))
            return true;
        alert(QStringLiteral("Sorry, you can't add this directory"), QStringLiteral("Rivulet only works for folders contained in your home directory."), chooser);
        return false;
    });
    panel->setWindowModality(Qt::WindowModal);
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        openPanelDidEnd(panel->selectedFiles(), result == QDialog::Accepted);
        panel->deleteLater();
    });
    panel->open();
}

void PreferencesWindow::openPanelDidEnd(const QStringList &chosen, bool accepted)
{
    if (!accepted || chosen.isEmpty())
        return;
    const std::optional<QByteArray> path = FolderPaths::insideHome(chosen.first());
    if (!path) {
        alert(QStringLiteral("Sorry, you can't add this directory"), QStringLiteral("Rivulet only works for folders contained in your home directory."));
        return;
    }
    Directory *root = Settings::rootDirectory();
    Directory *added = nullptr;
    if (root && root->addSubdirectoryNamed(*path, true, &added)) {
        // The new folder's own record starts scanning from now: what is in it
        // already is the user's, not a download. (findSubdirectory would name
        // an enclosing watched folder instead.)
        if (added)
            added->setLastScanTime(dateNow());
        saveStore();
        if (ManagedObjectContext *ctx = m_host->managedObjectContext())
            ctx->refreshObject(root, true);
        reloadTable();
    }
    QTimer::singleShot(kAlertDelegateDelayMs, this, [this] { m_host->watchDirsUpdated(); });
}

void PreferencesWindow::rmDirClicked()
{
    Log::f("rmDirClicked");
    Directory *root = Settings::rootDirectory();
    QList<QByteArray> chosen;
    for (QTreeWidgetItem *item : dirsTable->selectedItems())
        chosen << item->data(0, kPathRole).toByteArray();
    if (!root || chosen.isEmpty())
        return;
    for (const QByteArray &path : std::as_const(chosen))
        root->deleteSubdirectoryNamed(path, true);
    saveStore();
    if (ManagedObjectContext *ctx = m_host->managedObjectContext())
        ctx->refreshObject(root, true);
    reloadTable();
    m_host->watchDirsUpdated();
}

void PreferencesWindow::runAppOnUserLogin(bool enable)
{
    LoginItems::runAppOnUserLogin(enable);
}

void PreferencesWindow::showPlaySongsWarning()
{
    alert(QStringLiteral("Informational Notice"), kPlaySongsNotice);
}

void PreferencesWindow::alert(const QString &title, const QString &text, QWidget *over)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Rivulet"), title, QMessageBox::NoButton, over ? over : this);
    box.setInformativeText(text);
    box.addButton(tr("Dismiss"), QMessageBox::AcceptRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

QString PreferencesWindow::searchLocationString() const
{
    return Settings::searchLocation();
}

void PreferencesWindow::setSearchLocationString(const QString &location)
{
    // Only a web address is ever opened: anything else is refused here, where it is typed.
    if (const QString problem = SearchAddress::problem(location); !problem.isEmpty()) {
        alert(QStringLiteral("The search address cannot be used."), problem);
        return;
    }
    Log::f("set custom search location");
    Settings::setSearchLocation(location);
}

bool PreferencesWindow::hotkeySelected(quint16 keycode, quint64 modifiers)
{
    // A bare key grabbed for the whole desktop would be taken from every
    // program: only F1 to F24 may go without a modifier.
    if (!(modifiers & kAnyModifier) && !isFunctionKey(keycode)) {
        Log::f("keycode:%i without a modifier refused as a hotkey", int(keycode));
        downloadHotkeyTextField->setText(kModifierNeeded);
        m_hotkeyNoticeTimer->start();
        return false;
    }
    m_hotkeyNoticeTimer->stop();
    const Hotkey hotkey = Hotkey::hotkeyWithKeycode(keycode, modifiers);
    const QString text = hotkey.stringValue().value_or(QString());
    Log::f("keycode:%i modifiers:%i string:%@", int(keycode), int(qint32(quint32(modifiers))), text);
    downloadHotkeyTextField->setText(text);
    const bool use = Settings::useDownloadHotkey();
    if (use)
        Hotkey::hotkeyWithLongLong(Settings::downloadHotkey()).unregister();
    Settings::setDownloadHotkey(hotkey.unsignedLongLongValue());
    saveStore();
    if (use)
        hotkey.registerWithTarget(m_host->hotkeyTarget(), "rivuletHotKeyPressed", QVariant());
    return true;
}

void PreferencesWindow::keyPressEvent(QKeyEvent *event)
{
    TrackedWindow::keyPressEvent(event);
    Log::f("keyDown");
}
