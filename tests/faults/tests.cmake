# Faults, each repeatable from this one command (RIVULET_FAULTS_FULL=1 for the slow full set).
rivulet_rig_test(test_faults ${CMAKE_CURRENT_LIST_DIR}/test_faults.sh TIMEOUT 900)
# Its kill -9 rounds race the watcher on purpose: alone, no other test stretches the windows.
set_tests_properties(test_faults PROPERTIES RUN_SERIAL TRUE)
