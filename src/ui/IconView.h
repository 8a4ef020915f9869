#pragma once
// The square widget in the tray: draws the highlight while the drop-down is
// open and the icon image on top, and turns presses into opening and closing.
// Left and right button alike; the wheel does nothing.
#include "ui/IconArt.h"
#include <QElapsedTimer>
#include <QImage>
#include <QWidget>

class MenuView;

class IconViewDelegate {
public:
    virtual ~IconViewDelegate() = default;
    virtual bool open() const = 0;
    virtual void setOpen(bool open) = 0;
    virtual MenuView *menuView() const = 0;
};

class IconView : public QWidget {
    Q_OBJECT
public:
    explicit IconView(QWidget *parent = nullptr);
    void setDelegate(IconViewDelegate *d) { m_delegate = d; }
    IconViewDelegate *delegate() const { return m_delegate; }
    // frameIndex >= 0 draws that frame from its paths at the view's own size.
    void setImage(const QImage &image, int frameIndex = -1);
    QImage image() const { return m_image; }
    int frameIndex() const { return m_frameIndex; }
    // The panel behind the icon: its kind picks the glyph's colour, and an
    // opaque icon (a tray without a translucent visual) is filled with it.
    void setPanel(IconArt::Panel panel, const QColor &background);
    IconArt::Panel panel() const { return m_panel; }
    QSize sizeHint() const override;

    // The press and release rules, with the click count of the release
    // (0 for a press held longer than the double-click interval).
    void mouseDown();
    void mouseUp(int clickCount);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

signals:
    // The tray gave the icon another size.
    void resized(const QSize &size);

private:
    IconViewDelegate *m_delegate = nullptr;
    QImage m_image;
    int m_frameIndex = -1;
    IconArt::Panel m_panel = IconArt::Panel::Unknown;
    QColor m_background;
    bool m_justOpened = false;
    int m_pressCount = 0;
    QElapsedTimer m_pressed;
};
