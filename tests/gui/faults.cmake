# The real window's event loop under device faults (hang-up, stall, flood, odd status codes and
# lengths) against quarn-sim: the largest gap of a 10 ms timer must stay under 100 ms.
# QUARN_LONG_FAULTS=1 makes the wireless flood run 30 s instead of 3 s.
quarn_add_test(NAME faults_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_gui_support util
  LABELS gui)
target_include_directories(faults_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(faults_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(faults_test quarn-sim)
# Each fault case bounds the longest gap in the window's event loop: a test beside it on the other
# core would be measured too.
quarn_run_serial(faults_test ".")
