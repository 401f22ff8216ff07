# The plain libraries driving whole exchanges with quarn-sim over PTYs.
foreach(part wired wireless)
  quarn_add_test(NAME ${part}_e2e_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${part}_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
    LIBS quarn_link quarn_dongle quarn_converter quarn_codec quarn_serial quarn_mbus quarn_text
    LABELS e2e asuser)
  target_include_directories(${part}_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${part}_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
  add_dependencies(${part}_e2e_test quarn-sim)
endforeach()

# Requests not sent, links hanging up and answers not coming; they use ports, so they also run
# as an unprivileged user.
quarn_add_test(NAME failures_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/failures_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
  LIBS quarn_link quarn_dongle quarn_converter quarn_codec quarn_serial quarn_mbus quarn_text
  LABELS e2e asuser)
target_include_directories(failures_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(failures_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(failures_e2e_test quarn-sim)

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
  LIBS quarn_text
  LABELS e2e asuser)
target_include_directories(cli_files_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(cli_files_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>"
  QUARN_CLI_PATH="$<TARGET_FILE:quarn-cli>")
add_dependencies(cli_files_e2e_test quarn-sim quarn-cli)

# The one link object's typed outcomes on both links, against quarn-sim.
quarn_add_test(NAME converter_link_e2e_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/converter_link_e2e_test.cpp ${CMAKE_CURRENT_LIST_DIR}/sim_harness.cpp
  LIBS quarn_link quarn_dongle quarn_converter quarn_codec quarn_serial quarn_mbus quarn_text
  LABELS e2e asuser)
target_include_directories(converter_link_e2e_test PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(converter_link_e2e_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(converter_link_e2e_test quarn-sim)
