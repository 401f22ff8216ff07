# The log's text widget against a plain FXText: the same operations leave the same state (Xvfb).
quarn_add_test(NAME log_text_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_text_test.cpp
  LIBS quarn_gui_support
  LABELS gui)
# The pixel comparison reads the widget back from the X server: another test's window placed over
# it on the shared server would show through.
quarn_run_serial(log_text_test "HeldAppends|PaintsWhatAPlainTextPaints")
