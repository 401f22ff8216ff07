# The real quarn under valgrind's memcheck beside quarn-sim, driven through the wired start-up
# dialogs with xdotool and ended with Ctrl+Q: no invalid access, no definite leak outside the
# libraries named in tests/data/valgrind.supp. About 10 s here; the limit leaves room for a
# loaded machine.
find_program(QUARN_VALGRIND valgrind)
find_program(QUARN_XVFB Xvfb)
find_program(QUARN_XDOTOOL xdotool)
if(QUARN_VALGRIND AND QUARN_XVFB AND QUARN_XDOTOOL)
  add_test(NAME valgrind_smoke
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/valgrind-smoke.sh ${PROJECT_BINARY_DIR})
  # Alone, so that memcheck's slow start does not race other tests for the two cores; 77
  # means memcheck cannot run programs on this machine at all.
  set_tests_properties(valgrind_smoke PROPERTIES LABELS gui TIMEOUT 420 RUN_SERIAL TRUE
    SKIP_RETURN_CODE 77)
endif()
