# More generated histories (test_watch_history runs seeds 1 and 2), one on the polling backend of network folders.
add_test(NAME test_watch_history_more COMMAND test_watch_history)
set_tests_properties(test_watch_history_more PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_HISTORY_SEEDS=3 4")
add_test(NAME test_watch_history_polling COMMAND test_watch_history)
set_tests_properties(test_watch_history_polling PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_FORCE_POLLING=1;RIVULET_POLL_SECONDS=0.3;RIVULET_HISTORY_SEED=7")
# The histories judge timing (a file unchanged long enough is owed): run alone, not skewed by other tests' load.
set_tests_properties(test_watch_history test_watch_history_more test_watch_history_polling PROPERTIES RUN_SERIAL TRUE)
