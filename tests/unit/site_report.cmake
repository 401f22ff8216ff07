# The site report generator and its input readers, on records and texts only.
quarn_add_test(NAME site_report_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/site_report_test.cpp
  LIBS quarn_site_report quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text
  LABELS unit)
