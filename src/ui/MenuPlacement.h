#pragma once
// Where the drop-down goes: its right edge on the icon's right edge, right
// under a panel at the top of the screen or right above one at the bottom,
// inside the work area of the icon's screen. All rectangles are logical
// (device-independent) pixels; X11 reports native pixels, which
// toLogical() converts.
#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;

struct MenuPlacement {
    QRect frame;
    // Opened above a bottom panel: the panel's outline is mirrored.
    bool above = false;
};

// icon: the icon's rectangle; panel: the panel holding it (the icon's own
// rectangle when unknown); screen and work: that screen's geometry and work area.
MenuPlacement placeMenu(const QRect &icon, const QRect &panel, const QSize &size, const QRect &screen, const QRect &work);

// An activation point (made logical) as a tray host reports it: a panel icon
// sits centred in its panel, so the panel's far edge is twice the point's
// distance from the screen edge it lies at. Gives the icon and panel guess.
void anchorForPoint(const QPoint &logicalPoint, const QRect &screen, QRect *icon, QRect *panel);

// Native X11 pixels to Qt's logical pixels and back: screens keep their
// native origin and scale their size by the device pixel ratio.
QScreen *screenAtNative(const QPoint &native);
QPoint toLogical(const QPoint &native);
QRect toLogical(const QRect &native);
