// The controller's side of the desktop: the tray icon and its drop-down,
// one window at a time in the window slot, alerts, and the music search.
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "ui/IconAnimation.h"
#include "ui/MenuView.h"
#include "ui/SearchAddress.h"
#include "ui/SearchField.h"
#include "ui/SearchPageServer.h"
#include "ui/StartupWindow.h"
#include "ui/StatusItem.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "hotkeys/Hotkey.h"
#include "hotkeys/KeyDownApplication.h"
#include "ui/UpdateChecker.h"
#include "ui/Windows.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

void Rivulet_AppDelegate::buildInterface()
{
    m_iconAnimation = new IconAnimation(this);
    m_statusItem = new StatusItem(m_iconAnimation, this);
    m_updater = new UpdateChecker(this);
    // The default music search is a page of ours on the loopback, at a port
    // the kernel picks: only this run's listener serves this user's queries.
    SearchPageServer::start();
    auto *search = new SearchField;
    search->setEditingDelegate(this);
    m_menuView = new MenuView;
    m_menuView->build({QString(), tr("About Rivulet"), tr("Check for Updates…"), tr("Rivulet Preferences…"), tr("Quit Rivulet")}, search);
    m_statusItem->setMenuView(m_menuView);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        // Under XWayland the window manager takes the X focus back from the
        // drop-down at once; while its keyboard grab holds, that is no resignation.
        if (state == Qt::ApplicationInactive && !(m_statusItem && m_statusItem->holdsKeyboard()))
            applicationWillResignActive();
    });
    MenuActions actions;
    actions.handleQuit = [this] { handleQuit(); };
    actions.openPreferencesWindow = [this] { openPreferencesWindow(); };
    actions.checkForUpdates = [this] { m_updater->checkForUpdates(); };
    actions.openAboutWindow = [this] { openAboutWindow(); };
    actions.validateMenuItem = [this](const QString &name) { return validateMenuItem(name); };
    m_menuView->awakeFromNib(actions);
    m_statusItem->awakeFromNib();
    m_iconAnimation->awakeFromNib();
}

void Rivulet_AppDelegate::makeWindows()
{
    m_preferencesWC = new PreferencesWindow(this);
    KeyDownApplication::setCaptureTarget(m_preferencesWC);
    m_aboutWC = new AboutWindow;
    // Closing any of the windows empties the slot, so Quit is allowed again.
    for (TrackedWindow *w : {static_cast<TrackedWindow *>(m_preferencesWC), m_aboutWC}) {
        connect(w, &TrackedWindow::closed, this, [this, w] {
            if (m_modalWindow == w)
                setModalWindow(nullptr);
            stopModal();
        });
    }
}

void Rivulet_AppDelegate::tearDownInterface()
{
    if (qGuiApp)
        disconnect(qGuiApp, nullptr, this, nullptr);
    DDHotKeyCenter().unregisterHotKeysWithTarget(this);
    KeyDownApplication::setCaptureTarget(nullptr);
    delete m_statusItem; // with the drop-down, whose search field reports to us
    m_statusItem = nullptr;
    delete m_iconAnimation;
    m_iconAnimation = nullptr;
    delete m_notifications;
    m_notifications = nullptr;
    delete m_startupWC;
    delete m_preferencesWC;
    delete m_aboutWC;
    m_startupWC = m_preferencesWC = nullptr;
    m_aboutWC = nullptr;
}

void Rivulet_AppDelegate::showFirstRunWindow()
{
    auto *startup = new StartupWindow([this](bool) {
        m_preferencesWC->setUI();
        m_startupWC->close();
        openWindowForController(m_preferencesWC, false);
    });
    // Without a tray the window says how else to open Rivulet.
    const auto sayWhere = [this, startup] {
        const QString hotkey =
            Settings::useDownloadHotkey() ? Hotkey::hotkeyWithLongLong(Settings::downloadHotkey()).stringValue().value_or(QString()) : QString();
        startup->setTrayPresent(m_statusItem && m_statusItem->hasTray(), hotkey);
    };
    sayWhere();
    if (m_statusItem)
        connect(m_statusItem, &StatusItem::trayChanged, startup, sayWhere);
    m_startupWC = startup;
    connect(startup, &TrackedWindow::closed, this, [this] {
        if (m_modalWindow == m_startupWC)
            setModalWindow(nullptr);
        stopModal();
    });
    openWindowForController(startup, false, false, true);
}
QWidget *Rivulet_AppDelegate::aboutWC() const { return m_aboutWC; }

void Rivulet_AppDelegate::startIconAnimation()
{
    if (m_iconAnimation)
        m_iconAnimation->start();
}

void Rivulet_AppDelegate::stopIconAnimation()
{
    if (m_iconAnimation)
        m_iconAnimation->stop();
}

void Rivulet_AppDelegate::setModalWindow(QWidget *window)
{
    m_modalWindow = window;
}

void Rivulet_AppDelegate::openWindowForController(QWidget *window, bool modal, bool reopen, bool inFront)
{
    if (!window || (window->isVisible() && !reopen))
        return;
    closeWindows();
    // Centred in the available area of its screen (panels left out), and made
    // to fit it, title bar included, at any scale.
    if (QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        // The frame is known once the window was shown; before, a title bar of about two lines is assumed.
        QMargins frame(0, 2 * window->fontMetrics().height(), 0, 0);
        if (window->testAttribute(Qt::WA_WState_Created) && window->frameGeometry() != window->geometry())
            frame = QMargins(window->geometry().left() - window->frameGeometry().left(), window->geometry().top() - window->frameGeometry().top(),
                             window->frameGeometry().right() - window->geometry().right(),
                             window->frameGeometry().bottom() - window->geometry().bottom());
        window->ensurePolished();
        QSize size = window->testAttribute(Qt::WA_Resized) ? window->size() : window->sizeHint();
        size = size.expandedTo(window->minimumSizeHint()).boundedTo(area.size().shrunkBy(frame)).expandedTo(QSize(1, 1));
        if (size != window->size() && window->minimumSize() != window->maximumSize())
            window->resize(size);
        const QSize outer = window->size().grownBy(frame);
        const QPoint topLeft(area.left() + qMax(0, (area.width() - outer.width()) / 2), area.top() + qMax(0, (area.height() - outer.height()) / 2));
        window->move(topLeft);
    }
    window->show();
    setModalWindow(window);
    if (modal) {
        QEventLoop loop;
        m_modalLoop = &loop;
        loop.exec();
    }
    if (inFront) {
        window->raise();
        window->activateWindow();
    }
}

void Rivulet_AppDelegate::openPreferencesWindow()
{
    openWindowForController(m_preferencesWC, false);
}

void Rivulet_AppDelegate::openAboutWindow()
{
    openWindowForController(m_aboutWC, false);
}

void Rivulet_AppDelegate::closeWindows()
{
    if (m_modalWindow)
        m_modalWindow->close();
}

void Rivulet_AppDelegate::stopModal()
{
    if (m_modalLoop)
        m_modalLoop->quit();
}

void Rivulet_AppDelegate::alertWithTitle(const QString &title, const QString &text)
{
    if (!m_withUi) {
        Log::f("%@: %@", title, text);
        return;
    }
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Rivulet"), title);
    alert.setInformativeText(text);
    alert.addButton(tr("Dismiss"), QMessageBox::AcceptRole);
    alert.exec();
}

bool Rivulet_AppDelegate::validateMenuItem(const QString &actionName) const
{
    if (actionName == QLatin1String("handleQuit:"))
        return !m_modalWindow;
    return true;
}

void Rivulet_AppDelegate::applicationWillResignActive()
{
    Log::f("applicationWillResignActive");
    stopModal();
    if (m_statusItem)
        m_statusItem->setOpen(false);
}

SearchField *Rivulet_AppDelegate::searchField() const
{
    return m_statusItem ? m_statusItem->searchField() : nullptr;
}

// The stored default stands for the built-in page, wherever this run serves it.
static QString searchLocationNow()
{
    const SearchPageServer *page = SearchPageServer::running();
    return SearchAddress::onThisRunsPage(Settings::searchLocation(), page ? page->pageUrl() : QUrl());
}

bool Rivulet_AppDelegate::controlTextViewDoCommandBySelector(QLineEdit *control, const QString &command)
{
    Log::f(control->text().isEmpty() ? "zero length" : "nonzero length");
    if (command == QLatin1String("insertNewline:")) {
        if (control->text().trimmed().isEmpty())
            return false; // nothing to search for
        const QString location = searchLocationNow();
        // Only http and https addresses reach the desktop; anything else is explained.
        if (location.isEmpty())
            alertWithTitle(tr("The music search cannot be opened."), tr("Rivulet's own search page is not running."));
        else if (const QString problem = SearchAddress::problem(location); !problem.isEmpty())
            alertWithTitle(tr("The music search cannot be opened."), problem);
        else if (QDesktopServices::openUrl(QUrl(SearchAddress::forQuery(location, control->text()), QUrl::StrictMode))) {
            Log::f("Music search opened"); // the query is the user's own: never logged
            // The browser comes to the front: the drop-down closes rather than
            // stay above it holding the keys (XWayland hears of no focus change).
            if (m_statusItem)
                m_statusItem->setOpen(false);
        }
    } else if ((command == QLatin1String("moveDown:") || command == QLatin1String("moveUp:")) && m_menuView) {
        // Arrows leave the field for the rows; the decoy takes the keys there.
        QLineEdit *decoy = m_menuView->decoyTextField();
        decoy->setFocus(Qt::OtherFocusReason);
        if (QWidget::keyboardGrabber() == control)
            decoy->grabKeyboard();
        m_menuView->moveHighlight(command == QLatin1String("moveDown:") ? 1 : -1);
        return true;
    } else if (command == QLatin1String("cancelOperation:")) {
        if (m_statusItem)
            m_statusItem->setOpen(false);
    }
    return false;
}

void Rivulet_AppDelegate::globalEventMonitorEventOccured(GlobalEventMonitor *, const MonitorEvent &)
{
    if (m_statusItem)
        m_statusItem->setOpen(false);
}

void Rivulet_AppDelegate::rivuletHotKeyPressed()
{
    Log::f("Hotkey");
    if (m_statusItem)
        m_statusItem->setOpen(!m_statusItem->open(), true);
}
