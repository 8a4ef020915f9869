# Crafted downloads that try to leave Downloads, follow links or fill the disk.
rivulet_rig_test(test_hostile ${CMAKE_CURRENT_LIST_DIR}/test_hostile.sh TIMEOUT 600 ENV RIG_NO_TRAY=1)
