# Placement on a scaled screen and the light and dark palettes, with screenshots.
foreach(scale 1 1.5 2)
  string(REPLACE "." "_" scale_name ${scale})
  rivulet_rig_test(test_prefs_look_scale${scale_name} ${CMAKE_CURRENT_LIST_DIR}/test_prefs_look.sh ENV QT_SCALE_FACTOR=${scale})
endforeach()
