# The connection choice, the port and partner dialogs and the receive timers, on a real FOX
# application (under Xvfb) against quarn-sim over PTYs.
quarn_add_test(NAME connect_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/connect_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_app
  LABELS gui)
target_include_directories(connect_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(connect_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(connect_test quarn-sim)
