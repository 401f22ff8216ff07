quarn_add_test(NAME log_pace_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_pace_test.cpp
  LIBS quarn_text
  LABELS unit)
