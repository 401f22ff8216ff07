quarn_add_test(NAME dongle_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dongle_test.cpp
  LIBS quarn_link util
  LABELS unit asuser)
target_include_directories(dongle_test PRIVATE ${PROJECT_SOURCE_DIR})
