// Telegram lines in hex: the log forms accepted, and the refusals with their line numbers.
#include "codec/telegram_lines.h"

#include <cstdarg>
#include <cstring>

#include "text/hex_text.h"
#include "text/printf_format.h"

namespace {

const char telegramMark[] = "telegram=|";
constexpr char commentMark = '#';

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '_'; }

QUARN_PRINTF(3, 4) TelegramLine refuse(char* why, size_t capacity, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(why, capacity, format, arguments);
  va_end(arguments);
  return TelegramLine::refused;
}

// A byte shown in a refusal: printable ASCII as itself, anything else as its code.
void describeByte(unsigned char c, char* dest, size_t capacity) {
  if (c >= 0x20 && c < 0x7F && c != '"') std::snprintf(dest, capacity, "\"%c\"", c);
  else std::snprintf(dest, capacity, "byte 0x%02X", c);
}

void addRefusal(TelegramFileCheck& check, uint32_t lineNumber, const char* why) {
  if (check.refusedCount < refusedLinesKept) {
    RefusedLine& r = check.refused[check.refusedCount];
    r.line = lineNumber;
    std::snprintf(r.reason, sizeof r.reason, "%s", why);
  }
  ++check.refusedCount;
}

}  // namespace

TelegramLine telegramFromLine(const char* line, size_t length, uint8_t* bytes, size_t capacity, size_t& count,
                              char* why, size_t whyCapacity) {
  count = 0;
  size_t from = 0;
  size_t to = length;
  while (from < to && isSeparator(line[from])) ++from;
  while (to > from && (isSeparator(line[to - 1]) || line[to - 1] == '\r')) --to;
  if (from == to || line[from] == commentMark) return TelegramLine::blank;
  const size_t markLength = sizeof telegramMark - 1;
  for (size_t i = from; i + markLength <= to; ++i) {
    if (std::memcmp(line + i, telegramMark, markLength) != 0) continue;
    from = i + markLength;
    size_t bar = from;
    while (bar < to && line[bar] != '|') ++bar;
    if (bar == to) return refuse(why, whyCapacity, "\"telegram=|\" without its closing \"|\"");
    to = bar;
    break;
  }
  size_t digits = 0;
  uint8_t high = 0;
  for (size_t i = from; i < to; ++i) {
    const char c = line[i];
    if (isSeparator(c)) {
      if (digits % 2 != 0) return refuse(why, whyCapacity, "a lone hex digit before column %zu", i + 1);
      continue;
    }
    if (!isHexDigit(c)) {
      char shown[16];
      describeByte(static_cast<unsigned char>(c), shown, sizeof shown);
      return refuse(why, whyCapacity, "not hex: %s at column %zu", shown, i + 1);
    }
    if (digits % 2 == 0) {
      high = hexDigitValue(c);
    } else {
      if (count == capacity) return refuse(why, whyCapacity, "longer than %zu bytes", capacity);
      bytes[count++] = static_cast<uint8_t>(high << 4 | hexDigitValue(c));
    }
    ++digits;
  }
  if (digits % 2 != 0) return refuse(why, whyCapacity, "an odd number of hex digits (%zu)", digits);
  if (count == 0) return refuse(why, whyCapacity, "no hex digits");
  return TelegramLine::telegram;
}

void checkTelegramLine(TelegramFileCheck& check, uint32_t lineNumber, const char* line, size_t length) {
  ++check.lines;
  uint8_t bytes[telegramMaxBytes];
  size_t count = 0;
  char why[96];
  const TelegramLine kind = telegramFromLine(line, length, bytes, sizeof bytes, count, why, sizeof why);
  if (kind == TelegramLine::blank) return;
  if (kind == TelegramLine::refused) return addRefusal(check, lineNumber, why);
  MeterTelegram telegram;
  if (parseMeterTelegram(bytes, count, LengthByte::detect, telegram) != TelegramStatus::ok)
    return addRefusal(check, lineNumber, telegram.problem);
  ++check.telegrams;
  if (recordHeardMeter(check.meters, telegram, lineNumber) == nullptr) {
    char text[96];
    std::snprintf(text, sizeof text, "more than %u meters: this one is not listed", unsigned(heardMeterCapacity));
    addRefusal(check, lineNumber, text);
  }
}

bool checkTelegramStream(FILE* stream, TelegramFileCheck& check) {
  char line[telegramLineMax + 1];
  size_t length = 0;
  bool tooLong = false;
  uint32_t lineNumber = 0;
  for (;;) {
    const int c = std::fgetc(stream);
    if (c == EOF || c == '\n') {
      if (c == EOF && length == 0 && !tooLong) break;
      ++lineNumber;
      if (tooLong) {
        ++check.lines;
        char text[64];
        std::snprintf(text, sizeof text, "longer than %zu characters", telegramLineMax);
        addRefusal(check, lineNumber, text);
      } else {
        checkTelegramLine(check, lineNumber, line, length);
      }
      length = 0;
      tooLong = false;
      if (c == EOF) break;
      continue;
    }
    if (length < telegramLineMax) line[length++] = static_cast<char>(c);
    else tooLong = true;
  }
  return std::ferror(stream) == 0;
}
