# The main window built in-process on a real FOX application (run under Xvfb).
quarn_add_test(NAME shell_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell_test.cpp
  LIBS quarn_gui_support
  LABELS gui)
