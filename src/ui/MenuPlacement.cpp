#include "ui/MenuPlacement.h"

#include <QGuiApplication>
#include <QScreen>

namespace {
// A point farther than this from every screen edge is not on a panel.
constexpr int kMaxPanelDepth = 96;
}

MenuPlacement placeMenu(const QRect &icon, const QRect &panel, const QSize &size, const QRect &screen, const QRect &work)
{
    const QRect area = work.isValid() ? work : screen;
    MenuPlacement p;
    p.above = icon.center().y() > screen.center().y();
    int x = icon.x() + icon.width() - size.width();
    int y = p.above ? qMin(panel.top(), area.bottom() + 1) - size.height() : qMax(panel.bottom() + 1, area.top());
    x = qBound(area.left(), x, qMax(area.left(), area.right() + 1 - size.width()));
    y = qBound(area.top(), y, qMax(area.top(), area.bottom() + 1 - size.height()));
    p.frame = QRect(x, y, size.width(), size.height());
    return p;
}

void anchorForPoint(const QPoint &point, const QRect &screen, QRect *icon, QRect *panel)
{
    const int fromTop = point.y() - screen.top();
    const int fromBottom = screen.bottom() - point.y();
    const bool bottom = fromBottom < fromTop;
    const int half = qBound(1, bottom ? fromBottom : fromTop, kMaxPanelDepth / 2);
    *icon = QRect(point.x() - half, point.y() - half, 2 * half, 2 * half);
    if (qMin(fromTop, fromBottom) > kMaxPanelDepth) {
        *panel = *icon; // not on a panel: under (or above) the point itself
        return;
    }
    *panel = bottom ? QRect(screen.left(), point.y() - half, screen.width(), screen.bottom() + 1 - (point.y() - half))
                    : QRect(screen.left(), screen.top(), screen.width(), 2 * half);
}

QScreen *screenAtNative(const QPoint &native)
{
    for (QScreen *s : QGuiApplication::screens()) {
        const QRect g = s->geometry();
        const QRect nativeRect(g.topLeft(), g.size() * s->devicePixelRatio());
        if (nativeRect.contains(native))
            return s;
    }
    return QGuiApplication::primaryScreen();
}

QPoint toLogical(const QPoint &native)
{
    QScreen *s = screenAtNative(native);
    if (!s)
        return native;
    const QPoint origin = s->geometry().topLeft();
    const qreal dpr = s->devicePixelRatio();
    return origin + QPoint(qRound((native.x() - origin.x()) / dpr), qRound((native.y() - origin.y()) / dpr));
}

QRect toLogical(const QRect &native)
{
    QScreen *s = screenAtNative(native.center());
    const qreal dpr = s ? s->devicePixelRatio() : 1.0;
    return QRect(toLogical(native.topLeft()), QSize(qRound(native.width() / dpr), qRound(native.height() / dpr)));
}
