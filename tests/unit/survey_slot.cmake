# A surveyed meter's texts, the slot fields it fills and the mark of a slot that differs.
quarn_add_test(NAME survey_slot_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/survey_slot_test.cpp
  LIBS quarn_link
  LABELS unit)
target_include_directories(survey_slot_test PRIVATE ${PROJECT_SOURCE_DIR})
