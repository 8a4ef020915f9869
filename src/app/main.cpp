// Rivulet: imports music that settles in the download folders into the music library.
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "base/StandardFolders.h"
#include "hotkeys/DDHotKeyCenter.h"
#include "app/InstanceLock.h"
#include "app/InstanceService.h"
#include "hotkeys/KeyDownApplication.h"
#include "ui/StatusItem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <xcb/xcb.h>

namespace {
const char *kHelp =
    "NAME\n"
    "    rivulet - import the music you download into your music library\n"
    "\n"
    "SYNOPSIS\n"
    "    rivulet [--toggle] [--no-tray] [--help] [--version]\n"
    "\n"
    "DESCRIPTION\n"
    "    Rivulet watches your download folders (the XDG Downloads folder and\n"
    "    ~/Mail Downloads by default) and imports every new music file (mp3, m4a,\n"
    "    aiff) into your MPD music library, in the playlist \"Rivulet\", once it has\n"
    "    stopped changing. Zip and rar archives are unpacked and their music\n"
    "    imported together. A tray icon opens a drop-down with a music search, the\n"
    "    preferences and About; Alt+D opens it from anywhere.\n"
    "    One Rivulet runs per user: starting it again opens the running one's\n"
    "    drop-down.\n"
    "\n"
    "OPTIONS\n"
    "    --toggle    open the running Rivulet's drop-down with the search field\n"
    "                focused, or close it (bind it to a key in the desktop's\n"
    "                keyboard settings; on Wayland this is the hotkey that always\n"
    "                works); starts Rivulet when it is not running\n"
    "    --no-tray   run without tray icon and windows (also when there is no display)\n"
    "    --help      show this text\n"
    "    --version   show the version\n"
    "\n"
    "FILES\n"
    "    ~/.local/share/Rivulet/storedata     what the watched folders hold\n"
    "    ~/.config/Rivulet/Rivulet.conf       the preferences\n"
    "    ~/.config/autostart/rivulet.desktop  start at login\n"
    "    ~/.local/share/Rivulet/mpd           a private MPD, when you have none\n"
    "\n"
    "    ~/.local/share/Rivulet/instance.lock held by the running Rivulet\n"
    "\n"
    "ENVIRONMENT\n"
    "    MPD_HOST, MPD_PORT     the MPD to use\n"
    "    RIVULET_MPD_OUTPUT     audio output type of a private MPD (\"null\": silent)\n"
    "    RIVULET_UNPACK_LIMIT   largest archive contents to unpack, in bytes\n"
    "    RIVULET_UPDATE_FEED    where Check for Updates looks\n"
    "    RIVULET_POLL_SECONDS   seconds between looks at polled folders (default 10)\n"
    "\n"
    "    Qt's own options (-style Fusion, -platform xcb, ...) are accepted too.\n";

// Qt's options that take a value; Qt reads and removes them itself.
bool qtOptionWithValue(const char *arg)
{
    static const char *const kOptions[] = {"style", "stylesheet", "platform", "platformpluginpath", "platformtheme", "plugin", "display",
                                           "qwindowgeometry", "qwindowtitle", "qwindowicon", "geometry", "title", "name", "session"};
    const char *name = arg + (arg[1] == '-' ? 2 : 1);
    for (const char *o : kOptions)
        if (!strcmp(name, o))
            return true;
    return false;
}

// Qt's options without a value, or with one after "=".
bool qtOption(const char *arg)
{
    static const char *const kFlags[] = {"reverse", "nograb", "dograb", "sync", "widgetcount", "qmljsdebugger"};
    const char *name = arg + (arg[1] == '-' ? 2 : 1);
    for (const char *o : kFlags)
        if (!strncmp(name, o, strlen(o)) && (name[strlen(o)] == 0 || name[strlen(o)] == '='))
            return true;
    const char *eq = strchr(name, '=');
    if (!eq)
        return false;
    const std::string key(name, size_t(eq - name));
    return qtOptionWithValue(("-" + key).c_str());
}

// How long a second start waits for the running one to answer on the bus.
constexpr int kHandOverWaitMs = 3000;
// A --toggle that had to start Rivulet opens the drop-down once the icon is set up.
constexpr int kToggleAfterStartMs = 300;

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool xDisplayReachable()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const bool ok = c && !xcb_connection_has_error(c);
    if (c)
        xcb_disconnect(c);
    return ok;
}

// In a Wayland session the tray, the key grab, the click monitor and our own
// placement of the drop-down all need X: run through XWayland when it is
// there. Must happen before the application object is made.
void choosePlatform()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        Log::f("Wayland session: QT_QPA_PLATFORM is %@, as set", qgetenv("QT_QPA_PLATFORM"));
        return;
    }
    if (xDisplayReachable()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        Log::f("Wayland session: running through XWayland (display %@) for the tray icon, the hotkey and the drop-down's placement",
               qgetenv("DISPLAY"));
    } else {
        Log::f("Wayland session without XWayland: the tray icon and windows work, but the global hotkey and the exact placement "
               "of the drop-down need XWayland; bind rivulet --toggle to a key instead");
    }
}

// Which way the hotkey reaches us, said in the log (the portal's outcome is
// said when it answers the hotkey's registration).
void logHotkeyPath()
{
    if (!Settings::useDownloadHotkey()) {
        Log::f("Hotkey path: the hotkey is off; rivulet --toggle still opens the drop-down");
        return;
    }
    if (DDHotKeyCenter::path() == DDHotKeyCenter::Path::XGrab)
        Log::f("Hotkey path: X key grab");
    else if (DDHotKeyCenter::path() == DDHotKeyCenter::Path::CommandOnly)
        Log::f("%@", QString::fromLatin1(DDHotKeyCenter::kCommandOnlyNote));
}

// The data folder, where the store lives: one Rivulet per such folder.
QByteArray dataFolder()
{
    return StandardFolders::applicationSupport();
}
}

int main(int argc, char **argv)
{
    bool noTray = false;
    bool toggle = false;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(kHelp, stdout);
            return 0;
        }
        if (!strcmp(argv[i], "--version")) {
            printf("Rivulet %s\n", RIVULET_VERSION);
            return 0;
        }
        if (!strcmp(argv[i], "--no-tray")) {
            noTray = true;
        } else if (!strcmp(argv[i], "--toggle")) {
            toggle = true;
        } else if (argv[i][0] == '-' && qtOptionWithValue(argv[i]) && i + 1 < argc) {
            ++i; // Qt's, with its value
        } else if (argv[i][0] == '-' && qtOption(argv[i])) {
            continue;
        } else {
            fprintf(stderr, "rivulet: unknown option %s (rivulet --help lists the options)\n", argv[i]);
            return 2;
        }
    }

    choosePlatform();
    // The data folder is private before the lock or anything else goes in it.
    if (const QString problem = StandardFolders::prepareApplicationSupport(); !problem.isEmpty()) {
        Log::f("Rivulet cannot use its data folder %@: %@. Not starting.", dataFolder(), problem);
        return 1;
    }
    InstanceLock lock;
    const InstanceLock::Result locked = lock.acquire(dataFolder());
    if (locked == InstanceLock::Result::Failed) {
        // Without the lock nothing keeps a second copy from importing the same files.
        Log::f("Rivulet cannot make sure it runs only once: the lock %@ cannot be taken (%@). Not starting.", lock.path(),
               lock.problem());
        return 1;
    }
    if (locked == InstanceLock::Result::HeldByOther) {
        QCoreApplication handing(argc, argv);
        const auto request = toggle ? InstanceService::Request::Toggle : InstanceService::Request::Open;
        if (InstanceService::handOver(QDBusConnection::sessionBus(), request, lock.holderPid(), kHandOverWaitMs)
            == InstanceService::HandOver::Delivered) {
            // --toggle is a hotkey's command: nothing to say each time.
            if (!toggle)
                Log::f("Rivulet already runs (process %i); its drop-down was opened", int(lock.holderPid()));
            return 0;
        }
        Log::f("Rivulet already runs (process %i); not starting a second one", int(lock.holderPid()));
        return 0;
    }

    const bool display = hasDisplay();
    const bool withUi = display && !noTray;
    std::unique_ptr<QCoreApplication> app;
    if (withUi) {
        app = std::make_unique<KeyDownApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Rivulet"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RIVULET_VERSION));
    if (!display && !noTray)
        Log::f("No display found; running without tray icon and windows.");

    Rivulet_AppDelegate delegate(withUi);
    // Test-only: shorter watcher timings, so fault tests can run many rounds.
    if (qgetenv("RIVULET_TEST_TIMINGS") == "fast") {
        DirectoryDiffer::Timings t = DirectoryDiffer::Timings::fast();
        t.idleSeconds = 2;
        delegate.setDifferTimings(t);
    }
    if (withUi)
        delegate.buildInterface();
    delegate.awakeFromNib();

    // Later starts and `rivulet --toggle` reach this instance over the bus.
    InstanceService service(QDBusConnection::sessionBus());
    service.setOpenState([&delegate] { return delegate.statusItem() && delegate.statusItem()->open(); });
    QObject::connect(&service, &InstanceService::toggleRequested, &delegate, [&delegate] {
        if (delegate.statusItem())
            delegate.rivuletHotKeyPressed();
    });
    QObject::connect(&service, &InstanceService::openRequested, &delegate, [&delegate] {
        if (delegate.statusItem())
            delegate.statusItem()->setOpen(true, true);
    });
    service.publish();
    if (withUi)
        logHotkeyPath();
    if (toggle && withUi)
        QTimer::singleShot(kToggleAfterStartMs, &delegate, [&delegate] { delegate.rivuletHotKeyPressed(); });
    return app->exec();
}
