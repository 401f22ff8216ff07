# quarn-cli keys check against telegrams the openssl command line built (enc, mac): every
# verdict; and keys import. It runs the binary on files, so also as a user.
add_test(NAME keys_cli_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/keys_cli_test.sh $<TARGET_FILE:quarn-cli>)
set_tests_properties(keys_cli_test PROPERTIES LABELS "e2e;asuser" TIMEOUT 120)
