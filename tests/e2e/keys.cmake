# quarn-cli keys check against telegrams the openssl command line built (enc, mac): every
# verdict; it runs the binary on files, so also as a user.
add_test(NAME keys_check_openssl
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/keys_check_openssl.sh $<TARGET_FILE:quarn-cli>)
set_tests_properties(keys_check_openssl PROPERTIES LABELS "e2e;asuser" TIMEOUT 120)
