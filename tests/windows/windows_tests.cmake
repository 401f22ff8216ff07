# The plain libraries' unit tests, cross-built for Windows and run under Wine (the toolchain's
# emulator). GoogleTest is built here from Debian's own sources by the cross compiler. Each test
# program is one CTest test: Wine takes about a second to start, once per program is enough.
# Left out: tests that need OpenSSL as their reference (codec), PTYs, fork or umockdev.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own code is not ours to keep warning-free.
foreach(target gtest gtest_main)
  target_compile_options(${target} PRIVATE -w)
endforeach()

function(quarn_add_windows_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest -static)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    QUARN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUARN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME windows.${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(windows.${name} PROPERTIES LABELS "unit;windows" TIMEOUT 300
    ENVIRONMENT "WINEDEBUG=-all")
endfunction()

set(unit ${PROJECT_SOURCE_DIR}/tests/unit)
quarn_add_windows_test(text_test SOURCES ${unit}/text_test.cpp LIBS quarn_text)
quarn_add_windows_test(log_bound_test SOURCES ${unit}/log_bound_test.cpp LIBS quarn_text)
quarn_add_windows_test(private_files_win_test SOURCES ${unit}/private_files_win_test.cpp LIBS quarn_text)
quarn_add_windows_test(crypto_test SOURCES ${unit}/crypto_test.cpp LIBS quarn_crypto)
quarn_add_windows_test(mbus_test SOURCES ${unit}/mbus_test.cpp LIBS quarn_mbus)
quarn_add_windows_test(wired_answer_test SOURCES ${unit}/wired_answer_test.cpp LIBS quarn_link)
quarn_add_windows_test(dongle_test SOURCES ${unit}/dongle_test.cpp LIBS quarn_link)
quarn_add_windows_test(dongle_frame_reader_test SOURCES ${unit}/dongle_frame_reader_test.cpp
  LIBS quarn_dongle)
quarn_add_windows_test(port_list_diff_test SOURCES ${unit}/port_list_diff_test.cpp LIBS quarn_serial)
quarn_add_windows_test(com_port_index_test SOURCES ${unit}/com_port_index_test.cpp
  LIBS quarn_serial)
quarn_add_windows_test(converter_test SOURCES ${unit}/converter_test.cpp
  LIBS quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text)
quarn_add_windows_test(settings_file_test
  SOURCES ${unit}/settings_file_test.cpp ${unit}/view_settings_test.cpp
  LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text)
quarn_add_windows_test(output_file_test SOURCES ${unit}/output_file_test.cpp
  LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text)
quarn_add_windows_test(key_import_test SOURCES ${unit}/key_import_test.cpp
  LIBS quarn_settings quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text)

# The device-change broadcast the smoke run sends when it maps or unmaps a COM port.
add_executable(quarn_post_device_change ${CMAKE_CURRENT_LIST_DIR}/post_device_change.cpp)
target_link_libraries(quarn_post_device_change PRIVATE -static)
