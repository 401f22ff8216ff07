if(TARGET quarn_converter AND TARGET quarn_codec AND TARGET quarn_mbus)
  quarn_add_test(NAME converter_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/converter_test.cpp
    LIBS quarn_converter quarn_codec quarn_crypto quarn_mbus quarn_text
    LABELS unit)
endif()
