# The log's font against a plain FXFont of the same description: the same widths (Xvfb).
quarn_add_test(NAME log_font_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_font_test.cpp
  LIBS quarn_gui_support
  LABELS gui)
