# Generated histories against the watcher: more seeds, and one on the polling
# backend used for network folders. test_watch_history itself runs seeds 1 and 2.
add_test(NAME test_watch_history_more COMMAND test_watch_history)
set_tests_properties(test_watch_history_more PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_HISTORY_SEEDS=3 4")
add_test(NAME test_watch_history_polling COMMAND test_watch_history)
set_tests_properties(test_watch_history_polling PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_FORCE_POLLING=1;RIVULET_POLL_SECONDS=0.3;RIVULET_HISTORY_SEED=7")
