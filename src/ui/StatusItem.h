#pragma once
// The program's place in the tray: the icon, and the drop-down window under
// it that shows the menu view. The icon is a StatusNotifierItem when a
// watcher with a host is on the session bus, an XEmbed tray icon where an X11
// tray exists, and it moves when hosts come and go; without any tray the
// program stays usable through the hotkey and `rivulet --toggle`.
#include "ui/IconAnimation.h"
#include "ui/IconView.h"
#include "ui/MenuView.h"
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>

class ClickShield;
class QLineEdit;
class SearchField;
class StatusNotifierItem;
class TrayBackend;

// The borderless drop-down window; it can take the keyboard focus. On X11
// it bypasses the window manager, so no window manager moves it.
class MenuWindow : public QWidget {
    Q_OBJECT
public:
    explicit MenuWindow(QWidget *parent = nullptr);
    // Takes the keyboard focus now, whatever the toolkit last saw.
    void takeFocus();
};

class StatusItem : public QObject, public IconAnimationDelegate, public IconViewDelegate, public MenuViewDelegate {
    Q_OBJECT
public:
    explicit StatusItem(IconAnimation *animation, QObject *parent = nullptr);
    ~StatusItem() override;

    void awakeFromNib();
    void setStatusItemIcon();
    void setStatusItemIcon2();
    void setMenuView(MenuView *view);
    void updateMenuView();
    MenuView *menuView() const override { return m_menuView; }
    MenuWindow *menuWindow();
    void positionMenuWindow();
    void positionMenuWindowForView(QWidget *view);

    bool open() const override { return m_open; }
    void setOpen(bool open) override { setOpen(open, false); }
    void setOpen(bool open, bool selectSearch);
    SearchField *searchField() const;
    QLineEdit *decoyTextField() const;
    IconAnimation *iconAnimation() const { return m_iconAnimation; }
    IconView *iconView() const { return m_iconView; }
    // The tray's thickness: the icon's size in the tray.
    int thickness() const;
    // The icon's rectangle on the screen (logical pixels); empty while no
    // XEmbed tray shows it.
    QRect iconScreenRect() const;
    bool hasTray() const;
    // The backend holding the icon now ("status notifier", "XEmbed", "none").
    const char *trayKind() const;
    StatusNotifierItem *statusNotifierItem() const;

    // The open drop-down takes the keys through a grab (Wayland sessions).
    bool holdsKeyboard() const;
    // A tray host's activation at a point in native screen pixels: toggles
    // the drop-down placed at that point.
    void activateAt(const QPoint &nativePoint);

signals:
    void iconShown();
    // hasTray() may have changed.
    void trayChanged();

private:
    void installMenuView(MenuView *view);
    // Puts the icon with the first backend that has a host.
    void chooseTray();
    IconView *makeIconView(bool translucent);

    IconAnimation *m_iconAnimation;
    IconView *m_iconView = nullptr;
    QPointer<MenuView> m_menuView;
    MenuView *m_pendingMenuView = nullptr;
    MenuWindow *m_menuWindow = nullptr;
    ClickShield *m_clickShield = nullptr; // while open, in Wayland sessions
    // In order of preference; the last one (no tray) always takes the icon.
    QList<TrayBackend *> m_trays;
    TrayBackend *m_tray = nullptr;
    bool m_open = false;
    // Where the last activation of a status notifier host pointed (logical).
    QRect m_anchorIcon;
    QRect m_anchorPanel;
    // When the drop-down last closed: a host's activation that follows the
    // click which closed it is that same click, not a request to reopen.
    QElapsedTimer m_closed;
};
