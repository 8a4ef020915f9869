#include "ui/IconView.h"
#include "base/Log.h"
#include "ui/MenuView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

IconView::IconView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Rivulet tray icon"));
}

void IconView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void IconView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_delegate && m_delegate->open())
        p.fillRect(rect(), palette().color(QPalette::Highlight));
    if (!m_image.isNull())
        p.drawImage(rect(), m_image);
}

void IconView::mouseDown()
{
    Log::f("Mouse down");
    if (!m_delegate || m_delegate->open())
        return;
    m_justOpened = true;
    m_delegate->setOpen(true);
}

void IconView::mouseUp(int clickCount)
{
    Log::f("IconView: mouse up");
    if (clickCount == 1 && m_delegate && m_delegate->open() && !m_justOpened)
        m_delegate->setOpen(false);
    m_justOpened = false;
    if (clickCount == 0 && m_delegate && m_delegate->menuView())
        m_delegate->menuView()->mouseUp(std::nullopt);
}

void IconView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressCount = 1;
    m_pressed.start();
    mouseDown();
}

void IconView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressCount = 2;
    m_pressed.start();
    mouseDown();
}

void IconView::mouseMoveEvent(QMouseEvent *event)
{
    // While the button is held the drop-down follows the pointer, so a row
    // can be chosen by dragging onto it.
    if ((event->buttons() & Qt::LeftButton) && m_delegate && m_delegate->menuView())
        m_delegate->menuView()->trackPointer(event->globalPosition().toPoint());
}

void IconView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const bool longPress = m_pressed.isValid() && m_pressed.elapsed() > QApplication::doubleClickInterval();
    mouseUp(longPress ? 0 : m_pressCount);
}
