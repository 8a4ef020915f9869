#include "ui/PreferencesWindow.h"
#include "base/Log.h"
#include "hotkeys/Hotkey.h"
#include "settings/LoginItems.h"
#include "settings/Settings.h"
#include "store/Directory.h"
#include "store/ManagedObjectContext.h"
#include "base/PathContainment.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

const QString PreferencesWindow::kPlaySongsNotice = QStringLiteral(
    "Most web browsers play individual mp3 files after downloading by default, and this checkbox does not affect your browser's "
    "behavior. If you wish to prevent your browser from playing mp3s, you can disable it in your browser preferences; for example, in "
    "Safari, under General Preferences, deselect \"Open safe files after downloading.\"");

namespace {
// The watcher is told of a new folder this much later.
constexpr int kAlertDelegateDelayMs = 100;
}

PreferencesWindow::PreferencesWindow(PreferencesHost *host, QWidget *parent) : TrackedWindow(parent), m_host(host)
{
    setWindowTitle(tr("Rivulet Preferences"));
    setObjectName(QStringLiteral("PreferencesWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);

    auto *folders = new QGroupBox(tr("Watched folders"), this);
    auto *foldersLayout = new QVBoxLayout(folders);
    dirsTable = new QListWidget(folders);
    dirsTable->setMinimumHeight(90);
    foldersLayout->addWidget(dirsTable);
    auto *buttons = new QHBoxLayout;
    addDirButton = new QPushButton(QStringLiteral("+"), folders);
    rmDirButton = new QPushButton(QStringLiteral("\u2212"), folders);
    addDirButton->setToolTip(tr("Watch another folder"));
    rmDirButton->setToolTip(tr("Stop watching the selected folder"));
    for (QPushButton *b : {addDirButton, rmDirButton})
        b->setFixedWidth(32);
    buttons->addWidget(addDirButton);
    buttons->addWidget(rmDirButton);
    buttons->addStretch();
    foldersLayout->addLayout(buttons);
    layout->addWidget(folders);

    auto *general = new QGroupBox(tr("After a download"), this);
    auto *grid = new QGridLayout(general);
    startAtLoginCheckbox = new QCheckBox(tr("Start Rivulet when I log in"), general);
    deleteFilesCheckbox = new QCheckBox(tr("Move imported music files to the Trash"), general);
    deleteArchiveContentsCheckbox = new QCheckBox(general);
    deleteArchiveContentsText = new QLabel(tr("Also delete what was unpacked from mostly-music archives"), general);
    unzipFilesCheckbox = new QCheckBox(tr("Unpack zip and rar archives"), general);
    deleteZipsCheckbox = new QCheckBox(tr("Move mostly-music archives to the Trash after unpacking"), general);
    playSongsCheckbox = new QCheckBox(tr("Play new music"), general);
    ifStoppedCheckbox = new QCheckBox(tr("Only when nothing else is playing"), general);
    growlNotificationsCheckbox = new QCheckBox(tr("Show a notification for new music"), general);
    int row = 0;
    grid->addWidget(startAtLoginCheckbox, row++, 0, 1, 3);
    grid->addWidget(deleteFilesCheckbox, row++, 0, 1, 3);
    grid->addWidget(deleteArchiveContentsCheckbox, row, 1);
    grid->addWidget(deleteArchiveContentsText, row++, 2);
    grid->addWidget(unzipFilesCheckbox, row++, 0, 1, 3);
    grid->addWidget(deleteZipsCheckbox, row++, 1, 1, 2);
    grid->addWidget(playSongsCheckbox, row++, 0, 1, 3);
    grid->addWidget(ifStoppedCheckbox, row++, 1, 1, 2);
    grid->addWidget(growlNotificationsCheckbox, row++, 0, 1, 3);
    grid->setColumnMinimumWidth(0, 18);
    grid->setColumnStretch(2, 1);
    layout->addWidget(general);

    auto *search = new QGroupBox(tr("Music search"), this);
    auto *searchGrid = new QGridLayout(search);
    useDownloadHotkeyCheckbox = new QCheckBox(tr("Open the search with the hotkey"), search);
    downloadHotkeyTextField = new MouseDownTextField(search);
    downloadHotkeyTextField->setObjectName(QStringLiteral("hotkeyField"));
    downloadHotkeyTextField->setPlaceholderText(tr("Click, then press keys"));
    downloadHotkeyTextField->setMaximumWidth(140);
    searchLocationCheckbox = new QCheckBox(tr("Search at"), search);
    searchLocationTextField = new QLineEdit(search);
    searchGrid->addWidget(useDownloadHotkeyCheckbox, 0, 0);
    searchGrid->addWidget(downloadHotkeyTextField, 0, 1);
    searchGrid->addWidget(searchLocationCheckbox, 1, 0);
    searchGrid->addWidget(searchLocationTextField, 1, 1);
    layout->addWidget(search);

    versionTextField = new QLabel(this);
    versionTextField->setObjectName(QStringLiteral("versionLabel"));
    versionTextField->setAlignment(Qt::AlignRight);
    QPalette grey = versionTextField->palette();
    grey.setColor(QPalette::WindowText, grey.color(QPalette::Disabled, QPalette::WindowText));
    versionTextField->setPalette(grey);
    layout->addWidget(versionTextField);

    for (QCheckBox *box : findChildren<QCheckBox *>())
        connect(box, &QCheckBox::clicked, this, [this, box] { checkBoxClicked(box); });
    connect(addDirButton, &QPushButton::clicked, this, &PreferencesWindow::addDirClicked);
    connect(rmDirButton, &QPushButton::clicked, this, &PreferencesWindow::rmDirClicked);
    connect(searchLocationTextField, &QLineEdit::editingFinished, this, [this] {
        if (searchLocationTextField->isEnabled())
            setSearchLocationString(searchLocationTextField->text());
    });
    setUI();
    setFixedWidth(sizeHint().width());
}

void PreferencesWindow::setArchiveContentsTextEnabled(bool enabled)
{
    QPalette p = deleteArchiveContentsText->palette();
    p.setColor(QPalette::WindowText, palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    deleteArchiveContentsText->setPalette(p);
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
    downloadHotkeyTextField->setText(Hotkey::hotkeyWithLongLong(Settings::downloadHotkey()).stringValue().value_or(QString()));
    growlNotificationsCheckbox->setChecked(Settings::growlNotifications());
    const bool custom = Settings::searchLocation() != QString::fromLatin1(kDefaultSearchLocation);
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
        Settings::setSearchLocation(on ? searchLocationTextField->text() : QString::fromLatin1(kDefaultSearchLocation));
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
    for (int row = 0; row < numberOfRowsInTableView(); ++row)
        dirsTable->addItem(tableViewObjectValue(row));
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
    auto *panel = new QFileDialog(this);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
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
    const QByteArray path = QFile::encodeName(QDir::cleanPath(chosen.first()));
    const QByteArray home = QFile::encodeName(QDir::homePath());
    if (path != home && !path.startsWith(home + '/')) {
        alert(QStringLiteral("Sorry, you can't add this directory"), QStringLiteral("Rivulet only works for folders contained in your home directory."));
        return;
    }
    Directory *root = Settings::rootDirectory();
    if (root && root->addSubdirectoryNamed(path, true)) {
        if (Directory *added = root->findSubdirectory(path))
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
    const int row = dirsTable->currentRow();
    Directory *root = Settings::rootDirectory();
    if (!root || row < 0 || !dirsTable->currentItem() || row >= numberOfRowsInTableView())
        return;
    root->deleteSubdirectoryAtIndex(row);
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

void PreferencesWindow::alert(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Rivulet"), title, QMessageBox::NoButton, this);
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
    Log::f("set custom search location");
    Settings::setSearchLocation(location);
}

void PreferencesWindow::hotkeySelected(quint16 keycode, quint64 modifiers)
{
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
}

void PreferencesWindow::keyPressEvent(QKeyEvent *event)
{
    TrackedWindow::keyPressEvent(event);
    Log::f("keyDown");
}
