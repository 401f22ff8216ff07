# The Survey tab against quarn-sim's meters over the simulated stick: every verdict, and a meter
# put in a slot.
quarn_add_test(NAME survey_tab_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/survey_tab_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_gui_support
  LABELS gui asuser)
target_include_directories(survey_tab_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(survey_tab_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(survey_tab_test quarn-sim)
