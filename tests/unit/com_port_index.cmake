# Finding a listed port again by its name (the port dialog preselects the previous choice).
quarn_add_test(NAME com_port_index_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/com_port_index_test.cpp
  LIBS quarn_serial
  LABELS unit)
