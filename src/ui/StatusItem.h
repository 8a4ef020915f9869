#pragma once
// The program's place in the tray: the icon, and the drop-down window under
// it that shows the menu view. Docked as an XEmbed tray icon where an X11
// tray exists, else through the toolkit's tray icon; without any tray it
// stays usable through the hotkey.
#include "ui/IconAnimation.h"
#include "ui/IconView.h"
#include "ui/MenuView.h"
#include <QObject>
#include <QPointer>
#include <QWidget>

class QLineEdit;
class QSystemTrayIcon;
class SearchField;
class XEmbedTray;

// The borderless drop-down window; it can take the keyboard focus.
class MenuWindow : public QWidget {
    Q_OBJECT
public:
    explicit MenuWindow(QWidget *parent = nullptr);
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
    // The icon's rectangle on the screen; empty while no tray shows it.
    QRect iconScreenRect() const;
    bool hasTray() const;

signals:
    void iconShown();

private:
    void useToolkitTrayIcon();

    IconAnimation *m_iconAnimation;
    IconView *m_iconView = nullptr;
    QPointer<MenuView> m_menuView;
    MenuView *m_pendingMenuView = nullptr;
    MenuWindow *m_menuWindow = nullptr;
    XEmbedTray *m_xembed = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    bool m_open = false;
};
