# The real quarn program writing its trace lines into a pipe whose reader has gone
# (needs Xvfb and xdotool).
quarn_add_test(NAME closed_pipe_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/closed_pipe_test.cpp
  LIBS quarn_private_display
  LABELS gui asuser)
add_dependencies(closed_pipe_test quarn)
