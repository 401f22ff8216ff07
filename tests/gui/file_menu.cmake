# The File menu's settings and log files, with the file choosers answered by a dialog script (Xvfb).
quarn_add_test(NAME file_menu_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_menu_test.cpp
  LIBS quarn_gui_support util
  LABELS gui asuser)
