# The watcher's tests once more with the polling used for network folders.
add_test(NAME test_differ_polling COMMAND test_differ_passes whichFoldersCount)
set_tests_properties(test_differ_polling PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_FORCE_POLLING=1;RIVULET_POLL_SECONDS=0.5")
