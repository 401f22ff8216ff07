quarn_add_test(NAME wired_answer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wired_answer_test.cpp
  LIBS quarn_link
  LABELS unit)
target_include_directories(wired_answer_test PRIVATE ${PROJECT_SOURCE_DIR})
