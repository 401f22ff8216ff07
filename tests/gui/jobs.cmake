# The window's jobs (apply, verify, site plan) against quarn-sim, compared with quarn-cli's (Xvfb).
quarn_add_test(NAME jobs_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/jobs_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_gui_support nlohmann_json::nlohmann_json
  LABELS gui asuser)
target_include_directories(jobs_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e ${PROJECT_SOURCE_DIR})
target_compile_definitions(jobs_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>"
  QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(jobs_test quarn-sim quarn-cli)
