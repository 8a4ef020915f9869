# Desktop tests driven from the shell with xdotool, each in a private X server.
foreach(script tray firstrun newcomer)
  rivulet_rig_test(test_${script} ${CMAKE_CURRENT_LIST_DIR}/test_${script}.sh)
endforeach()
rivulet_rig_test(test_notray ${CMAKE_CURRENT_LIST_DIR}/test_notray.sh ENV RIG_NO_TRAY=1)
