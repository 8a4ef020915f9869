#include "ui/StatusItem.h"
#include "base/Log.h"
#include "ui/ClickShield.h"
#include "ui/MenuPlacement.h"
#include "ui/SearchField.h"
#include "ui/TrayBackend.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <xcb/xcb.h>

namespace {
// The icon is installed in two steps of 0.1 s after start-up.
constexpr int kIconStepMs = 100;
// Used until a tray tells the icon's size.
constexpr int kDefaultThickness = 22;
// A host's activation this soon after a close belongs to the closing click.
constexpr int kReopenGuardMs = 350;
// A host that has just taken the watcher's name registers itself a moment later.
constexpr int kHostSettleMs = 300;
const bool kWaylandSession = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");

// Translucent windows only look right when a compositor draws them.
bool compositing()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return true; // not X11: the platform composites
    xcb_intern_atom_reply_t *a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 13, "_NET_WM_CM_S0"), nullptr);
    const xcb_atom_t cm = a ? a->atom : XCB_NONE;
    free(a);
    xcb_get_selection_owner_reply_t *o = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, cm), nullptr);
    const bool owned = o && o->owner != XCB_NONE;
    free(o);
    return owned;
}
}

MenuWindow::MenuWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint)
{
    if (compositing())
        setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(QStringLiteral("Rivulet menu"));
    setGeometry(10, 10, 10, 10);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

// The toolkit asks for the focus with the time of the last event it saw; an
// X server that saw a later focus change (XWayland's window manager, say)
// ignores that, so ask once more as of now.
void MenuWindow::takeFocus()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c || !isVisible())
        return;
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, xcb_window_t(winId()), XCB_CURRENT_TIME);
    xcb_flush(c);
}

StatusItem::StatusItem(IconAnimation *animation, QObject *parent) : QObject(parent), m_iconAnimation(animation)
{
    m_iconAnimation->setDelegate(this);
}

StatusItem::~StatusItem()
{
    qDeleteAll(m_trays); // before the icon they may hold
    delete m_clickShield;
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
    makeIconView(false);
    auto *sni = new StatusNotifierBackend(this);
    connect(m_iconAnimation, &IconAnimation::frameShown, sni, &TrayBackend::showFrame);
    m_trays = {sni, new XEmbedBackend([this](bool translucent) { return makeIconView(translucent); }, this), new NoTrayBackend(this)};
    for (TrayBackend *tray : std::as_const(m_trays)) {
        connect(tray, &TrayBackend::iconShown, this, &StatusItem::iconShown);
        connect(tray, &TrayBackend::iconShown, this, &StatusItem::trayChanged);
        connect(tray, &TrayBackend::activated, this, &StatusItem::activateAt);
        connect(tray, &TrayBackend::hostsChanged, this, &StatusItem::chooseTray);
        connect(tray, &TrayBackend::lost, this, [this, tray] {
            if (m_tray == tray) {
                m_tray = nullptr;
                emit trayChanged();
                QTimer::singleShot(kHostSettleMs, this, &StatusItem::chooseTray);
            }
        });
    }
    chooseTray();
    updateMenuView();
}

void StatusItem::chooseTray()
{
    for (TrayBackend *tray : std::as_const(m_trays)) {
        if (tray == m_tray)
            return; // nothing better came
        if (tray->attach()) {
            if (m_tray)
                m_tray->detach();
            m_tray = tray;
            emit trayChanged();
            return;
        }
    }
}

const char *StatusItem::trayKind() const
{
    return m_tray ? m_tray->name() : "none";
}

StatusNotifierItem *StatusItem::statusNotifierItem() const
{
    auto *sni = m_trays.isEmpty() ? nullptr : qobject_cast<StatusNotifierBackend *>(m_trays.first());
    return sni ? sni->item() : nullptr;
}

// A fresh native window for every docking: its visual is fixed when it is made.
IconView *StatusItem::makeIconView(bool translucent)
{
    delete m_iconView;
    m_iconView = new IconView;
    m_iconView->setDelegate(this);
    m_iconView->setAttribute(Qt::WA_TranslucentBackground, translucent);
    // The tray reads the size it gives from the size hints.
    m_iconView->setMinimumSize(kDefaultThickness, kDefaultThickness);
    m_iconView->resize(kDefaultThickness, kDefaultThickness);
    m_iconAnimation->setImageView(m_iconView);
    m_iconAnimation->updateIconImage();
    return m_iconView;
}

bool StatusItem::hasTray() const
{
    return m_tray && m_tray->shown();
}

int StatusItem::thickness() const
{
    const int t = m_tray ? m_tray->thickness() : 0;
    return t > 0 ? t : kDefaultThickness;
}

QRect StatusItem::iconScreenRect() const
{
    const QRect icon = m_tray ? m_tray->iconNativeRect() : QRect();
    return icon.isValid() ? toLogical(icon) : QRect();
}

void StatusItem::updateMenuView()
{
    if (m_pendingMenuView)
        setMenuView(m_pendingMenuView);
}

void StatusItem::setMenuView(MenuView *view)
{
    m_pendingMenuView = view;
    if (m_iconView)
        installMenuView(view); // otherwise installed with the icon
}

void StatusItem::installMenuView(MenuView *view)
{
    if (m_menuView == view)
        return;
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
// panel at the top of the screen and stands above one at the bottom, inside
// the work area of the icon's screen.
void StatusItem::positionMenuWindowForView(QWidget *view)
{
    if (!view)
        return;
    const QSize size = view->sizeHint().expandedTo(view->size());
    QRect icon = iconScreenRect(), panel;
    if (icon.isValid()) {
        const QRect nativePanel = m_tray->panelNativeRect();
        panel = nativePanel.isValid() ? toLogical(nativePanel) : icon;
    } else if (m_anchorIcon.isValid()) {
        icon = m_anchorIcon;
        panel = m_anchorPanel;
    }
    QScreen *screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1280, 800);
    const QRect work = screen ? screen->availableGeometry() : screenRect;
    if (!icon.isValid()) // no tray told us: the top right corner of the work area
        panel = icon = QRect(work.right() + 1 - thickness(), work.top(), thickness(), thickness());
    const MenuPlacement placement = placeMenu(icon, panel, size, screenRect, work);
    if (auto *menu = qobject_cast<MenuView *>(view))
        menu->setMirrored(placement.above);
    menuWindow()->setGeometry(placement.frame);
}

bool StatusItem::holdsKeyboard() const
{
    QWidget *grabber = QWidget::keyboardGrabber();
    return m_open && grabber && m_menuWindow && m_menuWindow->isAncestorOf(grabber);
}

void StatusItem::activateAt(const QPoint &nativePoint)
{
    if (m_open) {
        setOpen(false);
        return;
    }
    if (m_closed.isValid() && m_closed.elapsed() < kReopenGuardMs)
        return;
    const QPoint point = toLogical(nativePoint);
    QScreen *screen = QGuiApplication::screenAt(point);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    anchorForPoint(point, screen ? screen->geometry() : QRect(0, 0, 1280, 800), &m_anchorIcon, &m_anchorPanel);
    setOpen(true);
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
        if (!m_menuView && m_pendingMenuView)
            installMenuView(m_pendingMenuView); // opened before the icon was set up
        m_open = true;
        m_iconAnimation->updateIconImage();
        if (m_iconView)
            m_iconView->update();
        if (m_menuView) {
            m_menuView->unhighlightAll();
            m_menuView->validateItems();
        }
        positionMenuWindow();
        // Only through XWayland: a native Wayland window could not lie over others.
        if (kWaylandSession && qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            m_clickShield = new ClickShield;
            connect(m_clickShield, &ClickShield::pressed, this, [this] { setOpen(false); });
            m_clickShield->cover();
        }
        MenuWindow *window = menuWindow();
        window->show();
        window->raise();
        window->activateWindow();
        window->takeFocus();
        SearchField *search = searchField();
        if (QWidget *target = selectSearch ? static_cast<QWidget *>(search) : decoyTextField()) {
            target->setFocus(Qt::PopupFocusReason);
            // XWayland's window manager keeps X clients from taking the focus
            // themselves; keys reach the drop-down through a keyboard grab.
            if (kWaylandSession)
                target->grabKeyboard();
        }
        // Typing after the hotkey replaces the last query.
        if (selectSearch && search)
            search->selectAll();
    } else {
        if (QWidget *grabber = QWidget::keyboardGrabber())
            grabber->releaseKeyboard();
        if (m_menuWindow)
            m_menuWindow->hide();
        if (m_clickShield) {
            // Its screen-sized buffer is not kept while closed; it may be in its own click handler.
            m_clickShield->hide();
            m_clickShield->deleteLater();
            m_clickShield = nullptr;
        }
        if (m_menuView)
            m_menuView->unhighlightAll();
        m_open = false;
        m_closed.start();
        m_iconAnimation->updateIconImage();
        if (m_iconView)
            m_iconView->update();
    }
}
