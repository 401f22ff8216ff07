# The connection choice, the port and partner dialogs and the receive timers, on a real FOX
# application (under Xvfb) against quarn-sim over PTYs.
quarn_add_test(NAME connect_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/connect_test.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/sim_harness.cpp
  LIBS quarn_gui_support
  LABELS gui asuser)
target_include_directories(connect_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
target_compile_definitions(connect_test PRIVATE QUARN_SIM_PATH="$<TARGET_FILE:quarn-sim>")
add_dependencies(connect_test quarn-sim)

# Under umockdev-run udev knows no devices at all, so the empty port list really happens.
find_program(QUARN_UMOCKDEV_RUN umockdev-run)
if(QUARN_UMOCKDEV_RUN)
  add_test(NAME WiredRunTest.AnEmptyPortListConnectsNothing.umockdev
    COMMAND ${QUARN_UMOCKDEV_RUN} -- $<TARGET_FILE:connect_test>
            --gtest_filter=WiredRunTest.AnEmptyPortListConnectsNothing)
  set_tests_properties(WiredRunTest.AnEmptyPortListConnectsNothing.umockdev PROPERTIES
    ENVIRONMENT "QUARN_EXPECT_NO_PORTS=1" LABELS "gui;asuser" TIMEOUT 60)
endif()
