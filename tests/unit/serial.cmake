quarn_add_test(NAME serial_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_test.cpp
  LIBS quarn_dongle util
  LABELS unit asuser)

# Discovery runs against umockdev's mock udev; the test starts itself under umockdev-run.
pkg_check_modules(UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
quarn_add_test(NAME serial_discovery_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_discovery_test.cpp
  LIBS quarn_dongle PkgConfig::UMOCKDEV util
  LABELS unit asuser)

quarn_add_test(NAME dongle_frame_reader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dongle_frame_reader_test.cpp
  LIBS quarn_dongle
  LABELS unit)
