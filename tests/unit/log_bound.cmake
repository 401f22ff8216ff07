quarn_add_test(NAME log_bound_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_bound_test.cpp
  LIBS quarn_text
  LABELS unit)
