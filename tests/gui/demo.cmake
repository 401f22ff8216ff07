# The demo's quarn-cli shell against its simulators: the example site plan applied to every
# converter the simulated stick hears. Runs the programs on PTYs and files, so also as a user.
add_test(NAME demo_cli_site_apply
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/demo_test.sh ${PROJECT_BINARY_DIR})
set_tests_properties(demo_cli_site_apply PROPERTIES LABELS "e2e;asuser" TIMEOUT 120)
