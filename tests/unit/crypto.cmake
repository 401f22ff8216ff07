# OpenSSL's libcrypto is the independent reference for the cipher tests only.
find_package(OpenSSL REQUIRED)
quarn_add_test(NAME crypto_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crypto_test.cpp
  LIBS quarn_crypto OpenSSL::Crypto
  LABELS unit)
