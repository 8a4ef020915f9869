#pragma once
// The square widget in the tray: draws the highlight while the drop-down is
// open and the icon image on top, and turns presses into opening and closing.
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
    void setImage(const QImage &image);
    QImage image() const { return m_image; }

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

private:
    IconViewDelegate *m_delegate = nullptr;
    QImage m_image;
    bool m_justOpened = false;
    int m_pressCount = 0;
    QElapsedTimer m_pressed;
};
