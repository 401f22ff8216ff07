# The Windows build's smoke run under Wine (scripts/windows-test.sh), registered only when
# scripts/build-windows.sh has made quarn.exe (configure again after building it). It runs on its
# own: Wine on two cores would disturb the timing tests beside it.
set(QUARN_WINDOWS_EXE "${PROJECT_SOURCE_DIR}/build/windows/app/quarn.exe" CACHE FILEPATH
  "quarn.exe for the Wine smoke run")
if(NOT WIN32 AND NOT QUARN_SANITIZE AND EXISTS "${QUARN_WINDOWS_EXE}")
  add_test(NAME WindowsUnderWine.SmokeRun
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/windows-test.sh ${CMAKE_CURRENT_BINARY_DIR}/windows-smoke)
  set_tests_properties(WindowsUnderWine.SmokeRun PROPERTIES
    ENVIRONMENT "QUARN_WIN_EXE=${QUARN_WINDOWS_EXE};QUARN_SIM=$<TARGET_FILE:quarn-sim>"
    LABELS "windows"
    SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE
    TIMEOUT 300)
  message(STATUS "Wine smoke run of ${QUARN_WINDOWS_EXE} registered (label windows)")
endif()
