# Desktop tests driven from the shell with xdotool, each in a private X server.
foreach(script tray firstrun newcomer)
  rivulet_rig_test(test_${script} ${CMAKE_CURRENT_LIST_DIR}/test_${script}.sh)
endforeach()
# A real Wayland session (headless sway, swaybar as the tray host), run as an
# unprivileged user; it starts its own session, so not inside the X rig.
add_test(NAME test_wayland COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/wayland-rig.sh $<TARGET_FILE:rivulet> ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(test_wayland PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE)
# Trays that come late and restart, and of other sizes: one rig, each tray of its own.
rivulet_rig_test(test_tray_sizes ${CMAKE_CURRENT_LIST_DIR}/test_tray_sizes.sh ENV RIG_NO_TRAY=1)
# Window placement on a scaled screen and the palettes, under a window manager.
foreach(scale 1 1.5 2)
  string(REPLACE "." "_" scale_name ${scale})
  rivulet_rig_test(test_prefs_look_scale${scale_name} ${CMAKE_CURRENT_LIST_DIR}/test_prefs_look.sh ENV QT_SCALE_FACTOR=${scale})
endforeach()
# It grabs its hotkeys on the shared X server: alone, as the hotkeys tests.
set_tests_properties(test_preferences PROPERTIES RUN_SERIAL TRUE)
