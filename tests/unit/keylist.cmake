quarn_add_test(NAME keylist_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/keylist_test.cpp
  LIBS quarn_codec
  LABELS unit asuser)
