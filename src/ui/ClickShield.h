#pragma once
// In a Wayland session a click on another program's window, the desktop or
// the panel never reaches an X client, so the drop-down cannot hear it. While
// the drop-down is open this invisible window lies under it over every
// screen: a click anywhere else lands here and closes the drop-down, as a
// panel menu closes.
#include <QWidget>

class ClickShield : public QWidget {
    Q_OBJECT
public:
    ClickShield();
    // Covers every screen; shown before the drop-down, so it stays under it.
    void cover();

signals:
    void pressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
