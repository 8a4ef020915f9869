#include "ui/IconView.h"
#include "base/Log.h"
#include "ui/MenuView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

namespace {
// Until the tray gives it a size.
constexpr int kDefaultSide = 22;
}

IconView::IconView(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Rivulet tray icon"));
    setToolTip(QStringLiteral("Rivulet"));
    // A tray icon's window is never the active one; its tooltip shows anyway.
    setAttribute(Qt::WA_AlwaysShowToolTips);
}

void IconView::setImage(const QImage &image, int frameIndex)
{
    m_image = image;
    m_frameIndex = frameIndex;
    update();
}

void IconView::setPanel(IconArt::Panel panel, const QColor &background)
{
    m_panel = panel;
    m_background = background;
    update();
}

QSize IconView::sizeHint() const
{
    // A square as high as the tray made it.
    const int side = height() > 0 ? height() : kDefaultSide;
    return {side, side};
}

void IconView::resizeEvent(QResizeEvent *)
{
    emit resized(size());
}

void IconView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!testAttribute(Qt::WA_TranslucentBackground))
        p.fillRect(rect(), m_background.isValid() ? m_background : palette().color(QPalette::Window));
    if (m_delegate && m_delegate->open())
        p.fillRect(rect(), palette().color(QPalette::Highlight));
    // Square and centred, whatever the slot's shape.
    const int side = qMin(width(), height());
    const QRect square((width() - side) / 2, (height() - side) / 2, side, side);
    if (m_frameIndex >= 0) {
        const qreal dpr = devicePixelRatioF();
        QImage art = IconArt::render(m_frameIndex, qRound(side * dpr), m_panel);
        art.setDevicePixelRatio(dpr);
        p.drawImage(square.topLeft(), art);
    } else if (!m_image.isNull()) {
        p.drawImage(square, m_image);
    }
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

// The right button opens the drop-down too: it holds every command.
static bool opensMenu(const QMouseEvent *event)
{
    return event->button() == Qt::LeftButton || event->button() == Qt::RightButton;
}

void IconView::mousePressEvent(QMouseEvent *event)
{
    if (!opensMenu(event))
        return;
    m_pressCount = 1;
    m_pressed.start();
    mouseDown();
}

void IconView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (!opensMenu(event))
        return;
    m_pressCount = 2;
    m_pressed.start();
    mouseDown();
}

void IconView::mouseMoveEvent(QMouseEvent *event)
{
    // While the button is held the drop-down follows the pointer, so a row
    // can be chosen by dragging onto it.
    if ((event->buttons() & (Qt::LeftButton | Qt::RightButton)) && m_delegate && m_delegate->menuView())
        m_delegate->menuView()->trackPointer(event->globalPosition().toPoint());
}

void IconView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!opensMenu(event))
        return;
    const bool longPress = m_pressed.isValid() && m_pressed.elapsed() > QApplication::doubleClickInterval();
    mouseUp(longPress ? 0 : m_pressCount);
}
