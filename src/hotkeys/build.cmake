# The keyboard layout watcher listens to XKB events on the X connection.
pkg_check_modules(XCB_XKB REQUIRED IMPORTED_TARGET xcb-xkb)
target_link_libraries(rivulet_hotkeys PUBLIC PkgConfig::XCB_XKB)
