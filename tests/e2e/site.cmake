# quarn-cli's site commands on plan files and key folders: runs the binary on files, so also as a user.
find_package(nlohmann_json 3.10 REQUIRED)
quarn_add_test(NAME site_cli_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_cli_test.cpp
  LIBS nlohmann_json::nlohmann_json
  LABELS e2e asuser)
target_include_directories(site_cli_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(site_cli_test PRIVATE QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(site_cli_test quarn-cli)

# Site runs against quarn-sim with several converters behind one stick: ports and files, so also as a user.
quarn_add_test(NAME site_apply_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_apply_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
  LIBS nlohmann_json::nlohmann_json
  LABELS e2e asuser)
target_include_directories(site_apply_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(site_apply_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>"
  QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(site_apply_e2e_test quarn-sim quarn-cli)

