#include "ui/ClickShield.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

ClickShield::ClickShield()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint |
                           Qt::WindowDoesNotAcceptFocus)
{
    // A Wayland compositor always blends, so the window shows nothing.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Rivulet click shield"));
}

void ClickShield::cover()
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->virtualGeometry());
    show();
}

void ClickShield::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit pressed();
}
