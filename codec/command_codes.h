// The converter command codes: byte 2 of every command and of the converter's answer to it.
#pragma once
#include <cstdint>

constexpr uint8_t commandGetData = 0x92;
constexpr uint8_t commandSetData = 0x93;
constexpr uint8_t commandScan = 0x96;
constexpr uint8_t commandReadOptions = 0x97;
constexpr uint8_t commandWriteOptions = 0x98;
