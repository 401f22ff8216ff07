# quarn-cli keys check against telegrams the openssl command line built (enc, mac): every
# verdict; and keys import. It runs the binary on files, so also as a user.
add_test(NAME keys_cli_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/keys_cli_test.sh $<TARGET_FILE:quarn-cli>)
set_tests_properties(keys_cli_test PROPERTIES LABELS "e2e;asuser" TIMEOUT 120)

# quarn-cli survey against quarn-sim's meters over the simulated stick: every verdict, RSSI within
# what the simulator plays. Ports and files, so also as a user.
add_test(NAME survey_cli_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/survey_cli_test.sh $<TARGET_FILE:quarn-sim> $<TARGET_FILE:quarn-cli>)
set_tests_properties(survey_cli_test PROPERTIES LABELS "e2e;asuser" TIMEOUT 120)
