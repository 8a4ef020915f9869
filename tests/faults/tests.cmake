# Faults, each repeatable from this one command.
rivulet_rig_test(test_faults ${CMAKE_CURRENT_LIST_DIR}/test_faults.sh TIMEOUT 900)
# Its kill -9 rounds race the watcher on purpose: alone, no other test stretches the windows.
set_tests_properties(test_faults PROPERTIES RUN_SERIAL TRUE)
