// The converter command codes: byte 2 of every command and of the converter's answer to it.
#pragma once
#include <cstdint>

// Bytes 0 and 1 of every command and answer.
constexpr uint8_t converterCommandPrefix0 = 0x0F;
constexpr uint8_t converterCommandPrefix1 = 0x35;

constexpr uint8_t commandGetData = 0x92;
constexpr uint8_t commandSetData = 0x93;
constexpr uint8_t commandScan = 0x96;
constexpr uint8_t commandReadOptions = 0x97;
constexpr uint8_t commandWriteOptions = 0x98;
