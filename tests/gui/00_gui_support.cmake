# What the in-process window tests share (the one FXApp and window, widget look-ups, dialog
# scripts). Its name sorts first, so the test files included after it can link the library.
add_library(quarn_gui_support STATIC ${CMAKE_CURRENT_LIST_DIR}/gui_support.cpp)
target_link_libraries(quarn_gui_support PUBLIC quarn_app GTest::gtest)
target_include_directories(quarn_gui_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})

# For the tests that run the real program: a private Xvfb and the commands that drive it.
add_library(quarn_private_display STATIC ${CMAKE_CURRENT_LIST_DIR}/private_display.cpp)
target_include_directories(quarn_private_display PUBLIC ${CMAKE_CURRENT_LIST_DIR})
