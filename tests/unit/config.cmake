# The start-up file reader (in quarn_text) and the help launcher are plain code; the launcher is compiled in here
# directly so the test also runs in builds without the GUI.
quarn_add_test(NAME appcore_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/help_opener_test.cpp
          ${PROJECT_SOURCE_DIR}/app/help_opener.cpp
  LIBS quarn_text
  LABELS unit asuser)
target_include_directories(appcore_test PRIVATE ${PROJECT_SOURCE_DIR})
