# The real quarn program beside quarn-sim on an X server of its own, driven with xdotool
# through the start-up dialogs, wired and wireless; screenshots land in the build folder.
quarn_add_test(NAME smoke_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/smoke_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_serial quarn_private_display
  LABELS gui asuser)
target_include_directories(smoke_test PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(smoke_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(smoke_test quarn quarn-sim)
