quarn_add_test(NAME text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp
  LIBS quarn_text
  LABELS unit)
quarn_add_test(NAME private_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/private_files_test.cpp
  LIBS quarn_text
  LABELS unit asuser)
