#include "ui/Windows.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

TrackedWindow::TrackedWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    // Escape and Ctrl+W close the window, as they do a desktop's own dialogs.
    auto *close = new QShortcut(this);
    close->setKeys({QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)});
    close->setContext(Qt::WindowShortcut);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void TrackedWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

AboutWindow::AboutWindow(QWidget *parent) : TrackedWindow(parent)
{
    setWindowTitle(tr("About Rivulet"));
    setObjectName(QStringLiteral("AboutWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 16);
    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/rivulet.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName(tr("Rivulet icon"));
    auto *name = new QLabel(QStringLiteral("<b>Rivulet</b>"), this);
    name->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel(QStringLiteral("v") + QStringLiteral(RIVULET_VERSION), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto *text = new QLabel(tr("Imports the music you download into your music library."), this);
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    auto *close = new QPushButton(tr("&Close"), this);
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(text);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    // Nothing in it grows: the window keeps the size of its content.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
