# The preferences window on the real X server, driven with xdotool.
rivulet_rig_test(test_prefs_window ${CMAKE_CURRENT_LIST_DIR}/test_prefs_window.sh)
