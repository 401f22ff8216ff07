quarn_add_test(NAME mbus_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mbus_test.cpp
  LIBS quarn_mbus
  LABELS unit)
