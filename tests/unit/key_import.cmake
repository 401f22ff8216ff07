# Manufacturer key lists read for meterKeys/: writes files, so also as a user.
quarn_add_test(NAME key_import_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/key_import_test.cpp
  LIBS quarn_settings quarn_codec
  LABELS unit asuser)
target_include_directories(key_import_test PRIVATE ${PROJECT_SOURCE_DIR})
