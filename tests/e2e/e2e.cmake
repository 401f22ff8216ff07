# The plain libraries driving whole exchanges with quarn-sim over PTYs: each link, requests not
# sent, links hanging up and answers not coming, and ConverterLink's typed outcomes on both links.
# They use ports, so they also run as an unprivileged user.
foreach(part wired wireless failures converter_link)
  quarn_add_test(NAME ${part}_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${part}_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
    LIBS quarn_link quarn_dongle quarn_converter quarn_codec quarn_serial quarn_mbus quarn_text
    LABELS e2e asuser)
  target_include_directories(${part}_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${part}_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
  add_dependencies(${part}_e2e_test quarn-sim)
endforeach()

# The real quarn-cli against quarn-sim: runs a binary on ports and files, so also as a user.
quarn_add_test(NAME cli_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
  LIBS quarn_text quarn_json
  LABELS e2e asuser)
target_include_directories(cli_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(cli_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>"
  QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(cli_e2e_test quarn-sim quarn-cli)

# quarn-cli meeting hostile output files and ended by signals on a port: also as a user, whom an
# exclusive flag left behind would lock out.
quarn_add_test(NAME cli_files_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli_files_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
  LIBS quarn_text quarn_json
  LABELS e2e asuser)
target_include_directories(cli_files_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(cli_files_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>"
  QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(cli_files_e2e_test quarn-sim quarn-cli)

