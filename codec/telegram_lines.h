// Telegrams read from text, one a line in hex (as the stick delivers them or as meter-reading
// logs write them, "telegram=|...|"), counted into a heard-meter table with a refusal per bad line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "codec/heard_meters.h"

constexpr size_t telegramLineMax = 4096;      // characters of one line; a longer one is refused
constexpr size_t refusedLinesKept = 1000;     // refusals listed; further ones only counted

enum class TelegramLine { blank, telegram, refused };

// One line (without its line end): blank or "#" comment, a telegram (hex digits with spaces,
// tabs or "_" between them, alone or between the bars of "telegram=|...|"), or refused with why.
TelegramLine telegramFromLine(const char* line, size_t length, uint8_t* bytes, size_t capacity, size_t& count,
                              char* why, size_t whyCapacity);

struct RefusedLine {
  uint32_t line;
  char reason[112];
};

// Everything an offline key check read: the meters and the lines refused.
struct TelegramFileCheck {
  HeardMeterTable meters;
  uint32_t lines = 0;
  uint32_t telegrams = 0;
  RefusedLine refused[refusedLinesKept] = {};
  uint32_t refusedCount = 0;  // all of them, also those past refusedLinesKept
};

// Counts one line (numbered from 1) into check; a telegram's "seen" time is its line number.
void checkTelegramLine(TelegramFileCheck& check, uint32_t lineNumber, const char* line, size_t length);

// Reads a whole stream line by line (LF or CR LF; a NUL or any other byte is the line's own and
// refuses it). Returns false on a read error.
bool checkTelegramStream(FILE* stream, TelegramFileCheck& check);
