# Generated histories against the watcher: more seeds, and one on the polling
# backend used for network folders. test_watch_history itself runs seeds 1 and 2.
add_test(NAME test_watch_history_more COMMAND test_watch_history)
set_tests_properties(test_watch_history_more PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_HISTORY_SEEDS=3 4")
add_test(NAME test_watch_history_polling COMMAND test_watch_history)
set_tests_properties(test_watch_history_polling PROPERTIES TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RIVULET_FORCE_POLLING=1;RIVULET_POLL_SECONDS=0.3;RIVULET_HISTORY_SEED=7")
# The generated histories judge timing (a file unchanged for long enough must
# be handed over): they run alone, so another test's load does not skew them.
set_tests_properties(test_watch_history test_watch_history_more test_watch_history_polling PROPERTIES RUN_SERIAL TRUE)
