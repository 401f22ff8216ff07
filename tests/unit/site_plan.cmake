if(TARGET quarn_settings)
  # Makes links and files and follows them: also run as an unprivileged user.
  quarn_add_test(NAME site_plan_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_plan_test.cpp
    LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text
    LABELS unit asuser)
endif()
