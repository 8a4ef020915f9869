#include "ui/Windows.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

TrackedWindow::TrackedWindow(QWidget *parent) : QWidget(parent, Qt::Window) {}

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
    layout->setContentsMargins(32, 24, 32, 24);
    auto *icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/rivulet.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    icon->setAlignment(Qt::AlignCenter);
    auto *name = new QLabel(QStringLiteral("<b>Rivulet</b>"), this);
    name->setAlignment(Qt::AlignCenter);
    auto *version = new QLabel(QStringLiteral("v") + QStringLiteral(RIVULET_VERSION), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setAlignment(Qt::AlignCenter);
    auto *text = new QLabel(tr("Imports the music you download into your music library."), this);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(text);
    setFixedSize(sizeHint());
}

