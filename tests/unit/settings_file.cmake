if(TARGET quarn_settings)
  # Reads and writes files: also run as an unprivileged user.
  quarn_add_test(NAME settings_file_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_file_test.cpp ${CMAKE_CURRENT_LIST_DIR}/view_settings_test.cpp
    LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text
    LABELS unit asuser)
  # Replacing files whole; also cross-built for Windows, where the rename is a different call.
  quarn_add_test(NAME output_file_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/output_file_test.cpp
    LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text
    LABELS unit asuser)
endif()
