if(TARGET quarn_codec AND TARGET quarn_mbus)
  find_package(OpenSSL REQUIRED)
  quarn_add_test(NAME codec_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_test.cpp
    LIBS quarn_codec quarn_crypto quarn_mbus quarn_text OpenSSL::Crypto
    LABELS unit)
endif()

# Meter telegrams and key verdicts, the telegrams built by OpenSSL's libcrypto.
if(TARGET quarn_codec)
  find_package(OpenSSL REQUIRED)
  quarn_add_test(NAME meter_key_check_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/meter_key_check_test.cpp
    LIBS quarn_codec quarn_crypto quarn_text OpenSSL::Crypto
    LABELS unit)
endif()
