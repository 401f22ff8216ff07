# Finding a listed port again by its name (the port dialog preselects the previous choice).
quarn_add_test(NAME com_port_index_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/com_port_index_test.cpp
  LIBS quarn_serial
  LABELS unit)

# The adds and removes found by setting a fresh port list against the last one.
quarn_add_test(NAME port_list_diff_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/port_list_diff_test.cpp
  LIBS quarn_serial
  LABELS unit)
