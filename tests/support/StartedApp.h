#pragma once
// The program after its first run in a private HOME, with its windows (and its tray when asked).
#include "TestSupport.h"
#include "app/Rivulet_AppDelegate.h"
#include "settings/Settings.h"
#include <memory>

struct StartedApp {
    TempHome home;
    std::unique_ptr<Rivulet_AppDelegate> app;
    explicit StartedApp(bool withInterface = false)
    {
        Settings::setDidFirstLoad(true);
        app = std::make_unique<Rivulet_AppDelegate>(true);
        if (withInterface)
            app->buildInterface();
        app->awakeFromNib();
    }
};
