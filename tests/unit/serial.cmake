quarn_add_test(NAME serial_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_test.cpp
  LIBS quarn_serial util
  LABELS unit)
