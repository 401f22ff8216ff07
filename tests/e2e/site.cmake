# quarn-cli's site commands on plan files and key folders: runs the binary on files, so also as a user.
find_package(nlohmann_json 3.10 REQUIRED)
quarn_add_test(NAME site_cli_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_cli_test.cpp
  LIBS nlohmann_json::nlohmann_json
  LABELS e2e asuser)
target_compile_definitions(site_cli_test PRIVATE QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(site_cli_test quarn-cli)
