// Rivulet: imports music that settles in the download folders into the music library.
#include "base/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "hotkeys/KeyDownApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
const char *kHelp =
    "NAME\n"
    "    rivulet - import the music you download into your music library\n"
    "\n"
    "SYNOPSIS\n"
    "    rivulet [--no-tray] [--help] [--version]\n"
    "\n"
    "DESCRIPTION\n"
    "    Rivulet watches your download folders (the XDG Downloads folder and\n"
    "    ~/Mail Downloads by default) and imports every new music file (mp3, m4a,\n"
    "    aiff) into your MPD music library, in the playlist \"Rivulet\", once it has\n"
    "    stopped changing. Zip and rar archives are unpacked and their music\n"
    "    imported together. A tray icon opens a drop-down with a music search, the\n"
    "    preferences and About; Alt+D opens it from anywhere.\n"
    "\n"
    "OPTIONS\n"
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
    "ENVIRONMENT\n"
    "    MPD_HOST, MPD_PORT     the MPD to use\n"
    "    RIVULET_MPD_OUTPUT     audio output type of a private MPD (\"null\": silent)\n"
    "    RIVULET_UNPACK_LIMIT   largest archive contents to unpack, in bytes\n"
    "    RIVULET_UPDATE_FEED    where Check for Updates looks\n";

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
}

int main(int argc, char **argv)
{
    bool noTray = false;
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
        } else {
            fprintf(stderr, "rivulet: unknown option %s\n%s", argv[i], kHelp);
            return 2;
        }
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
        DirectoryDiffer::Timings t;
        t.settleSeconds = 0.5;
        t.passSeconds = 0.1;
        t.latencySeconds = 0.3;
        delegate.setDifferTimings(t);
    }
    if (withUi)
        delegate.buildInterface();
    delegate.awakeFromNib();
    return app->exec();
}
