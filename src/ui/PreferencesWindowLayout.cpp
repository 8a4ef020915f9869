// The controls of the preferences window and their groups, the way Linux
// settings dialogs arrange them: each with a keyboard path (a mnemonic or the
// tab chain) and a name for assistive tools.
#include "ui/PreferencesWindow.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/KeyDownApplication.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

QWidget *PreferencesWindow::buildFolders()
{
    auto *folders = new QGroupBox(tr("Watched folders"));
    auto *foldersLayout = new QVBoxLayout(folders);
    dirsTable = new QTreeWidget(folders);
    dirsTable->setAccessibleName(tr("Watched folders"));
    dirsTable->setColumnCount(2);
    dirsTable->setHeaderLabels({tr("Folder"), tr("Location")});
    dirsTable->setRootIsDecorated(false);
    dirsTable->setUniformRowHeights(true);
    dirsTable->setAllColumnsShowFocus(true);
    dirsTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    dirsTable->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    dirsTable->header()->setStretchLastSection(true);
    const int rowHeight = dirsTable->fontMetrics().height() + 6;
    dirsTable->setMinimumHeight(dirsTable->header()->sizeHint().height() + 2 * rowHeight);
    foldersLayout->addWidget(dirsTable, 1);
    auto *buttons = new QHBoxLayout;
    addDirButton = new QPushButton(tr("&Add…"), folders);
    rmDirButton = new QPushButton(tr("&Remove"), folders);
    addDirButton->setToolTip(tr("Watch another folder"));
    rmDirButton->setToolTip(tr("Stop watching the selected folders"));
    addDirButton->setAccessibleName(tr("Add a watched folder"));
    rmDirButton->setAccessibleName(tr("Remove the selected watched folders"));
    rmDirButton->setEnabled(false);
    buttons->addWidget(addDirButton);
    buttons->addWidget(rmDirButton);
    buttons->addStretch();
    foldersLayout->addLayout(buttons);
    connect(dirsTable, &QTreeWidget::itemSelectionChanged, this, [this] { rmDirButton->setEnabled(!dirsTable->selectedItems().isEmpty()); });
    auto *deleteKey = new QShortcut(QKeySequence::Delete, dirsTable, nullptr, nullptr, Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, &PreferencesWindow::rmDirClicked);
    return folders;
}

QWidget *PreferencesWindow::buildGeneral()
{
    auto *general = new QGroupBox(tr("General"));
    auto *layout = new QVBoxLayout(general);
    startAtLoginCheckbox = new QCheckBox(tr("Start Rivulet when I &log in"), general);
    growlNotificationsCheckbox = new QCheckBox(tr("Show a &notification for new music"), general);
    layout->addWidget(startAtLoginCheckbox);
    layout->addWidget(growlNotificationsCheckbox);
    // Two lines, so that the group stays narrow enough to stand beside the next one.
    moreFormatsCheckbox = new QCheckBox(tr("Also import FLAC, Ogg,\nOpus and WAV files"), general);
    moreFormatsCheckbox->setAccessibleName(tr("Also import FLAC, Ogg, Opus and WAV files"));
    layout->addWidget(moreFormatsCheckbox);
    return general;
}

QWidget *PreferencesWindow::buildAfterDownload()
{
    auto *group = new QGroupBox(tr("After a download"));
    auto *grid = new QGridLayout(group);
    deleteFilesCheckbox = new QCheckBox(tr("Move imported music files to the &Trash"), group);
    deleteArchiveContentsCheckbox = new QCheckBox(group);
    deleteArchiveContentsText = new QLabel(tr("Also &delete what was unpacked from mostly-music archives"), group);
    deleteArchiveContentsText->setBuddy(deleteArchiveContentsCheckbox);
    deleteArchiveContentsCheckbox->setAccessibleName(tr("Also delete what was unpacked from mostly-music archives"));
    deleteArchiveContentsText->installEventFilter(this); // its text toggles the checkbox
    unzipFilesCheckbox = new QCheckBox(tr("&Unpack zip and rar archives"), group);
    deleteZipsCheckbox = new QCheckBox(tr("Move mostly-music archives to the Trash after un&packing"), group);
    playSongsCheckbox = new QCheckBox(tr("Pla&y new music"), group);
    ifStoppedCheckbox = new QCheckBox(tr("Only when nothing else is playin&g"), group);
    // Shown only when the music library cannot tell where its music is (MPD over TCP without an mpd.conf).
    musicFolderLabel = new QLabel(tr("MPD's music folder:"), group);
    musicFolderTextField = new QLineEdit(group);
    musicFolderTextField->setAccessibleName(tr("MPD's music folder"));
    musicFolderLabel->setBuddy(musicFolderTextField);
    int row = 0;
    grid->addWidget(deleteFilesCheckbox, row++, 0, 1, 3);
    grid->addWidget(deleteArchiveContentsCheckbox, row, 1);
    grid->addWidget(deleteArchiveContentsText, row++, 2);
    grid->addWidget(unzipFilesCheckbox, row++, 0, 1, 3);
    grid->addWidget(deleteZipsCheckbox, row++, 1, 1, 2);
    grid->addWidget(playSongsCheckbox, row++, 0, 1, 3);
    grid->addWidget(ifStoppedCheckbox, row++, 1, 1, 2);
    grid->addWidget(musicFolderLabel, row, 0, 1, 2);
    grid->addWidget(musicFolderTextField, row++, 2);
    grid->setColumnMinimumWidth(0, 18);
    grid->setColumnStretch(2, 1);
    return group;
}

QWidget *PreferencesWindow::buildSearch()
{
    auto *search = new QGroupBox(tr("Music search"));
    auto *searchGrid = new QGridLayout(search);
    useDownloadHotkeyCheckbox = new QCheckBox(tr("Open the search with the &hotkey"), search);
    downloadHotkeyTextField = new MouseDownTextField(search);
    downloadHotkeyTextField->setObjectName(QStringLiteral("hotkeyField"));
    downloadHotkeyTextField->setAccessibleName(tr("Hotkey"));
    downloadHotkeyTextField->setAccessibleDescription(tr("Click, or press Return, then press the new shortcut; Escape keeps the old one"));
    downloadHotkeyTextField->setToolTip(downloadHotkeyTextField->accessibleDescription());
    downloadHotkeyTextField->setPlaceholderText(tr("Click, then press keys"));
    downloadHotkeyTextField->setMinimumWidth(downloadHotkeyTextField->fontMetrics().horizontalAdvance(kModifierNeeded) + 16);
    searchLocationCheckbox = new QCheckBox(tr("&Search at"), search);
    searchLocationTextField = new QLineEdit(search);
    searchLocationTextField->setAccessibleName(tr("Search address"));
    hotkeyPathNote = new QLabel(tr("In this Wayland session the hotkey reaches Rivulet only from its own windows. To open it from "
                                   "anywhere, bind this command to a key in your desktop's keyboard settings:")
                                    + QStringLiteral("<br><code>rivulet --toggle</code>"),
                                search);
    hotkeyPathNote->setObjectName(QStringLiteral("hotkeyPathNote"));
    hotkeyPathNote->setWordWrap(true);
    hotkeyPathNote->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hotkeyPathNote->setVisible(DDHotKeyCenter::path() == DDHotKeyCenter::Path::CommandOnly);
    searchGrid->addWidget(useDownloadHotkeyCheckbox, 0, 0);
    searchGrid->addWidget(downloadHotkeyTextField, 0, 1, Qt::AlignLeft);
    searchGrid->addWidget(hotkeyPathNote, 1, 0, 1, 2);
    searchGrid->addWidget(searchLocationCheckbox, 2, 0);
    searchGrid->addWidget(searchLocationTextField, 2, 1);
    searchGrid->setColumnStretch(1, 1);
    return search;
}
