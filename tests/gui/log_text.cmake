# The log's text widget against a plain FXText: the same operations leave the same state (Xvfb).
quarn_add_test(NAME log_text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_text_test.cpp
  LIBS quarn_gui_support
  LABELS gui)
