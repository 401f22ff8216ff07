if(TARGET quarn_codec AND TARGET quarn_mbus)
  find_package(OpenSSL REQUIRED)
  quarn_add_test(NAME codec_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/codec_test.cpp
    LIBS quarn_codec quarn_crypto quarn_mbus quarn_text OpenSSL::Crypto
    LABELS unit)
endif()
