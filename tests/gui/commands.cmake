# QuarnWindow's converter commands and their dialogs, in-process on a real FOX application (Xvfb).
quarn_add_test(NAME commands_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/commands_test.cpp
  LIBS quarn_gui_support util
  LABELS gui)
