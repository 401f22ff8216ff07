# Every quoted label, menu text, title, font description and dialog padding of the shell, in
# one table against the live window (run under Xvfb).
quarn_add_test(NAME texts_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/texts_test.cpp
  LIBS quarn_gui_support
  LABELS gui)
