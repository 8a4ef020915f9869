#include "ui/StatusItem.h"
#include "base/Log.h"
#include "ui/MenuPlacement.h"
#include "ui/SearchField.h"
#include "ui/StatusNotifierItem.h"
#include "ui/XEmbedTray.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
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
    connect(m_iconAnimation, &IconAnimation::frameShown, this, &StatusItem::showFrameOnStatusNotifier);
}

StatusItem::~StatusItem()
{
    delete m_sni;
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
    if (XEmbedTray::available()) {
        m_xembed = new XEmbedTray(this);
        connect(m_xembed, &XEmbedTray::embeddedChanged, this, [this](bool embedded) {
            if (embedded) {
                const QColor background = m_xembed->panelBackground();
                m_iconView->setPanel(m_iconView->testAttribute(Qt::WA_TranslucentBackground) ? IconArt::Panel::Unknown : IconArt::panelFor(background),
                                     background);
                squareIcon();
                m_iconView->show();
                emit iconShown();
            } else if (m_dock == Dock::XEmbed) {
                Log::f("The system tray went away");
                m_dock = Dock::None;
                QTimer::singleShot(kHostSettleMs, this, &StatusItem::chooseDock);
            }
        });
        connect(m_xembed, &XEmbedTray::backgroundChanged, this, [this](const QColor &background) {
            if (m_iconView && !m_iconView->testAttribute(Qt::WA_TranslucentBackground))
                m_iconView->setPanel(IconArt::panelFor(background), background);
        });
        connect(m_xembed, &XEmbedTray::trayAppeared, this, [this] {
            if (m_dock != Dock::StatusNotifier)
                useXEmbed();
        });
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_watcherWatch = new QDBusServiceWatcher(QString::fromLatin1(StatusNotifierItem::kWatcherService), bus,
                                                 QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcherWatch, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
            QTimer::singleShot(kHostSettleMs, this, &StatusItem::statusNotifierHostsChanged);
        });
        for (const char *signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(QString(), QString::fromLatin1(StatusNotifierItem::kWatcherPath), QStringLiteral("org.kde.StatusNotifierWatcher"),
                        QString::fromLatin1(signal), this, SLOT(statusNotifierHostsChanged()));
    }
    chooseDock();
    updateMenuView();
}

// A watcher or host came or went: register again with the new one, or move.
void StatusItem::statusNotifierHostsChanged()
{
    if (m_dock == Dock::StatusNotifier) {
        delete m_sni;
        m_sni = nullptr;
        m_dock = Dock::None;
    }
    chooseDock();
}

void StatusItem::chooseDock()
{
    if (StatusNotifierItem::hostAvailable(QDBusConnection::sessionBus()) && useStatusNotifier())
        return;
    if (m_dock == Dock::XEmbed || useXEmbed())
        return;
    useNoTray();
}

bool StatusItem::useStatusNotifier()
{
    if (m_dock == Dock::StatusNotifier)
        return true;
    auto *sni = new StatusNotifierItem(QDBusConnection::sessionBus());
    m_sni = sni;
    showFrameOnStatusNotifier(m_frame);
    if (!sni->registerWithWatcher()) {
        delete sni;
        m_sni = nullptr;
        return false;
    }
    connect(sni, &StatusNotifierItem::activated, this, &StatusItem::activateAt);
    leaveXEmbed();
    m_dock = Dock::StatusNotifier;
    m_saidNoTray = false;
    Log::f("Tray icon: status notifier item %@", sni->serviceName());
    emit iconShown();
    return true;
}

void StatusItem::leaveXEmbed()
{
    if (m_xembed && m_dock == Dock::XEmbed) {
        m_dock = Dock::None;
        m_xembed->undock();
        makeIconView(false); // an embedded window cannot be taken back cleanly
    }
}

bool StatusItem::useXEmbed()
{
    if (!m_xembed || !m_xembed->trayPresent())
        return false;
    // The visual the tray asks for: 32-bit only when it offers one, else
    // the panel's own colour painted behind the icon.
    const bool translucent = m_xembed->trayVisualDepth() == 32;
    makeIconView(translucent);
    if (!m_xembed->dock(m_iconView))
        return false;
    if (m_sni) {
        delete m_sni;
        m_sni = nullptr;
    }
    m_dock = Dock::XEmbed;
    m_saidNoTray = false;
    Log::f("Tray icon: XEmbed tray (%@ visual)", translucent ? "32-bit" : "default");
    return true;
}

void StatusItem::useNoTray()
{
    m_dock = Dock::None;
    if (!m_saidNoTray)
        Log::f("No system tray is available; open Rivulet with its hotkey");
    m_saidNoTray = true;
}

// A fresh native window for every docking: its visual is fixed when it is made.
void StatusItem::makeIconView(bool translucent)
{
    delete m_iconView;
    m_iconView = new IconView;
    m_iconView->setDelegate(this);
    m_iconView->setAttribute(Qt::WA_TranslucentBackground, translucent);
    // The tray reads the size it gives from the size hints.
    m_iconView->setMinimumSize(kDefaultThickness, kDefaultThickness);
    m_iconView->resize(kDefaultThickness, kDefaultThickness);
    connect(m_iconView, &IconView::resized, this, &StatusItem::squareIcon);
    m_iconAnimation->setImageView(m_iconView);
    m_iconAnimation->updateIconImage();
}

// Square at whatever height the tray gives, every time it gives one.
void StatusItem::squareIcon()
{
    if (!m_iconView || !m_xembed || !m_xembed->embedded())
        return;
    const int t = m_iconView->height();
    if (t > 0 && (m_iconView->width() != t || m_iconView->minimumWidth() != t)) {
        m_iconView->setMinimumSize(t, t);
        m_iconView->resize(t, t);
    }
}

void StatusItem::showFrameOnStatusNotifier(int index)
{
    m_frame = index;
    if (m_sni)
        m_sni->setIcon(StatusNotifierItem::pixmapsFor([index](int size) { return IconArt::render(index, size, IconArt::Panel::Unknown); }));
}

bool StatusItem::hasTray() const
{
    return m_dock == Dock::StatusNotifier || (m_dock == Dock::XEmbed && m_xembed->embedded());
}

int StatusItem::thickness() const
{
    if (m_iconView && m_xembed && m_dock == Dock::XEmbed && m_xembed->embedded())
        return m_iconView->height();
    return kDefaultThickness;
}

QRect StatusItem::iconScreenRect() const
{
    if (m_dock == Dock::XEmbed && m_xembed->embedded())
        return toLogical(m_xembed->iconNativeRect());
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
    QRect icon, panel;
    if (m_dock == Dock::XEmbed && m_xembed->embedded()) {
        icon = toLogical(m_xembed->iconNativeRect());
        const QRect nativePanel = m_xembed->panelNativeRect();
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
        if (m_menuView)
            m_menuView->unhighlightAll();
        m_open = false;
        m_closed.start();
        m_iconAnimation->updateIconImage();
        if (m_iconView)
            m_iconView->update();
    }
}
