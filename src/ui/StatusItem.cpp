#include "ui/StatusItem.h"
#include "base/Log.h"
#include "ui/SearchField.h"
#include "ui/XEmbedTray.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// The icon is installed in two steps of 0.1 s after start-up.
constexpr int kIconStepMs = 100;
// Used until a tray tells the icon's size.
constexpr int kDefaultThickness = 22;
}

MenuWindow::MenuWindow(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Rivulet menu"));
    setGeometry(10, 10, 10, 10);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

StatusItem::StatusItem(IconAnimation *animation, QObject *parent) : QObject(parent), m_iconAnimation(animation)
{
    m_iconAnimation->setDelegate(this);
}

StatusItem::~StatusItem()
{
    delete m_menuWindow;
    delete m_iconView;
}

void StatusItem::awakeFromNib()
{
    QTimer::singleShot(kIconStepMs, this, &StatusItem::setStatusItemIcon);
}

void StatusItem::setStatusItemIcon()
{
    QTimer::singleShot(kIconStepMs, this, &StatusItem::setStatusItemIcon2);
}

void StatusItem::setStatusItemIcon2()
{
    m_iconView = new IconView;
    m_iconView->setDelegate(this);
    m_iconAnimation->setImageView(m_iconView);
    if (XEmbedTray::available()) {
        m_xembed = new XEmbedTray(m_iconView, this);
        // The tray sizes the icon by the size it asks for; once the tray has
        // given it its height, it asks for a square of that height.
        m_iconView->setMinimumSize(kDefaultThickness, kDefaultThickness);
        m_iconView->resize(kDefaultThickness, kDefaultThickness);
        connect(m_xembed, &XEmbedTray::embeddedChanged, this, [this](bool embedded) {
            if (!embedded)
                return;
            const int t = m_iconView->height();
            if (t > 0 && m_iconView->width() != t) {
                m_iconView->setMinimumSize(t, t);
                m_iconView->resize(t, t);
            }
            emit iconShown();
        });
        if (!m_xembed->dock())
            useToolkitTrayIcon();
    } else {
        m_iconView->resize(kDefaultThickness, kDefaultThickness);
        useToolkitTrayIcon();
    }
    updateMenuView();
}

void StatusItem::useToolkitTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        Log::f("No system tray is available; open Rivulet with its hotkey");
        return;
    }
    m_trayIcon = new QSystemTrayIcon(QIcon(QPixmap::fromImage(m_iconAnimation->frame(0))), this);
    m_trayIcon->setToolTip(QStringLiteral("Rivulet"));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            setOpen(!m_open);
    });
    m_trayIcon->show();
    emit iconShown();
}

bool StatusItem::hasTray() const
{
    return (m_xembed && m_xembed->embedded()) || m_trayIcon;
}

int StatusItem::thickness() const
{
    if (m_iconView && m_xembed && m_xembed->embedded())
        return m_iconView->height();
    return kDefaultThickness;
}

QRect StatusItem::iconScreenRect() const
{
    if (m_xembed && m_xembed->embedded())
        return m_xembed->iconScreenRect();
    if (m_trayIcon)
        return m_trayIcon->geometry();
    return {};
}

void StatusItem::updateMenuView()
{
    if (m_pendingMenuView)
        setMenuView(m_pendingMenuView);
}

void StatusItem::setMenuView(MenuView *view)
{
    m_pendingMenuView = view;
    if (!m_iconView || m_menuView == view)
        return; // installed with the icon
    setOpen(false);
    positionMenuWindowForView(view);
    menuWindow()->layout()->addWidget(view);
    m_menuView = view;
    view->setDelegate(this);
}

MenuWindow *StatusItem::menuWindow()
{
    if (!m_menuWindow)
        m_menuWindow = new MenuWindow;
    return m_menuWindow;
}

void StatusItem::positionMenuWindow()
{
    positionMenuWindowForView(m_menuView);
}

// The window's right edge meets the icon's right edge; it hangs below a
// tray at the top of the screen and stands above one at the bottom.
void StatusItem::positionMenuWindowForView(QWidget *view)
{
    if (!view)
        return;
    const QSize size = view->sizeHint().expandedTo(view->size());
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1280, 800);
    QRect icon = iconScreenRect();
    if (icon.isEmpty()) // no tray: the top right corner of the screen
        icon = QRect(screenRect.right() - thickness(), screenRect.top(), thickness(), thickness());
    const int x = icon.x() + icon.width() - size.width();
    const bool trayAtBottom = icon.center().y() > screenRect.center().y();
    const int y = trayAtBottom ? icon.top() - size.height() : icon.bottom() + 1;
    menuWindow()->setGeometry(x, y, size.width(), size.height());
}

SearchField *StatusItem::searchField() const
{
    return m_menuView ? m_menuView->searchField() : nullptr;
}

QLineEdit *StatusItem::decoyTextField() const
{
    return m_menuView ? m_menuView->decoyTextField() : nullptr;
}

void StatusItem::setOpen(bool open, bool selectSearch)
{
    if (open == m_open)
        return;
    if (open) {
        m_open = true;
        m_iconAnimation->updateIconImage();
        if (m_iconView)
            m_iconView->update();
        if (m_menuView) {
            m_menuView->unhighlightAll();
            m_menuView->validateItems();
        }
        positionMenuWindow();
        MenuWindow *window = menuWindow();
        window->show();
        window->raise();
        window->activateWindow();
        if (QWidget *target = selectSearch ? static_cast<QWidget *>(searchField()) : decoyTextField())
            target->setFocus(Qt::PopupFocusReason);
    } else {
        if (m_menuWindow)
            m_menuWindow->hide();
        if (m_menuView)
            m_menuView->unhighlightAll();
        m_open = false;
        m_iconAnimation->updateIconImage();
        if (m_iconView)
            m_iconView->update();
    }
}
