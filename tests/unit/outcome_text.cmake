# The one line per command outcome that the status line and quarn-cli show.
quarn_add_test(NAME outcome_text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/outcome_text_test.cpp
  LIBS quarn_link
  LABELS unit)
target_include_directories(outcome_text_test PRIVATE ${PROJECT_SOURCE_DIR})
