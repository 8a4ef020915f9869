# The Debian package built, validated, installed with apt, run and removed; alone, since it installs a package.
add_test(NAME test_package COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/test_package.sh ${CMAKE_BINARY_DIR})
set_tests_properties(test_package PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
