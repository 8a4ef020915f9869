// Rivulet: imports music that settles in the download folders into the music library.
#include "app/Log.h"
#include "app/Rivulet_AppDelegate.h"
#include "hotkeys/KeyDownApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
const char *kHelp =
    "Usage: rivulet [--no-tray] [--help] [--version]\n"
    "\n"
    "Rivulet watches your download folders and imports every new music file\n"
    "(mp3, m4a, aiff) into your MPD music library, in the playlist \"Rivulet\".\n"
    "Zip and rar archives are unpacked and their music imported too.\n"
    "\n"
    "  --no-tray   run without tray icon or windows (also used when there is no display)\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

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
