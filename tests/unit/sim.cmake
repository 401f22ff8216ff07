# quarn-sim: converter model in-process, and the real binary on a PTY.
find_package(OpenSSL REQUIRED)
quarn_add_test(NAME sim_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_test.cpp
  LIBS quarn_simcore OpenSSL::Crypto
  LABELS unit asuser)
add_dependencies(sim_test quarn-sim)

# The simulator's meters read by Quarn's own key check: OpenSSL on one side, Quarn's AES on the other.
quarn_add_test(NAME sim_meters_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_meters_test.cpp
  LIBS quarn_simcore quarn_codec
  LABELS unit)
