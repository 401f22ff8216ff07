# The real quarn binary started on a private Xvfb, found by its title, and quit with Ctrl+Q
# (needs Xvfb and xdotool).
quarn_add_test(NAME start_quit_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/start_quit_test.cpp
  LIBS quarn_private_display
  LABELS gui asuser)
add_dependencies(start_quit_test quarn)
