// Converter and meter key lists, loaded once at start from ";"-separated text files.
#include "codec/key_list.h"

#include <dirent.h>

#include <cstdio>
#include <cstring>

#include "text/hex_text.h"
#include "text/regular_file.h"

namespace {

constexpr size_t linePieceCapacity = 1024;  // at most 1,023 characters and a NUL
constexpr size_t pathCapacity = 256;        // at most 255 characters and a NUL
constexpr size_t readBlockSize = 4096;
constexpr size_t idBytes = 4;
constexpr size_t keyBytes = 16;
constexpr char fieldSeparator = ';';
constexpr char lineEnd = '\n';
constexpr char carriageReturn = '\r';
constexpr char commentMark = '#';
constexpr char hiddenMark = '.';

// Reads a file as text: a CR directly before an LF is dropped, as Windows text mode does,
// so CR LF files load like LF files. Everything else, NUL bytes included, comes through.
struct TextReader {
  FILE* file;
  unsigned char block[readBlockSize];
  size_t position;
  size_t filled;
  bool ended;
  size_t budget;  // bytes this file may still give
};

int nextRawByte(TextReader& reader) {
  if (reader.position == reader.filled) {
    if (reader.ended || reader.budget == 0) return EOF;
    const size_t want = reader.budget < sizeof reader.block ? reader.budget : sizeof reader.block;
    reader.filled = std::fread(reader.block, 1, want, reader.file);
    reader.budget -= reader.filled;
    reader.position = 0;
    if (reader.filled == 0) {
      reader.ended = true;  // end of file or a read error: either way nothing more
      return EOF;
    }
  }
  return reader.block[reader.position++];
}

int peekRawByte(TextReader& reader) {
  const int c = nextRawByte(reader);
  if (c != EOF) --reader.position;  // the byte stays in the block
  return c;
}

int nextTextByte(TextReader& reader) {
  const int c = nextRawByte(reader);
  if (c == carriageReturn && peekRawByte(reader) == lineEnd) return nextRawByte(reader);
  return c;
}

// The next piece of a line, as fgets gives it: up to and including the LF, at most
// 1,023 characters. Returns false at the end of the file.
bool readLinePiece(TextReader& reader, char (&piece)[linePieceCapacity]) {
  size_t count = 0;
  while (count < linePieceCapacity - 1) {
    const int c = nextTextByte(reader);
    if (c == EOF) break;
    piece[count++] = static_cast<char>(c);
    if (c == lineEnd) break;
  }
  piece[count] = '\0';
  return count > 0;
}

// Like strtok_r with one delimiter: a run of delimiters separates, leading ones are
// skipped, and the text ends at its first NUL.
char* nextField(char*& cursor, char delimiter) {
  while (*cursor == delimiter) ++cursor;
  if (*cursor == '\0') return nullptr;
  char* start = cursor;
  while (*cursor != '\0' && *cursor != delimiter) ++cursor;
  if (*cursor == delimiter) *cursor++ = '\0';
  return start;
}

bool addConverterLine(char* line, ConverterKeyList& list) {
  char* cursor = line;
  nextField(cursor, fieldSeparator);  // label
  const char* id = nextField(cursor, fieldSeparator);
  const char* key = nextField(cursor, fieldSeparator);
  if (id == nullptr || key == nullptr) return false;
  ConverterKeyEntry entry{};
  hexTextToBytes(id, entry.id, idBytes);
  hexTextToBytes(key, entry.key, keyBytes);
  list.entries[list.count++] = entry;
  return true;
}

bool addMeterLine(char* line, MeterKeyList& list) {
  char* cursor = line;
  nextField(cursor, fieldSeparator);  // label
  const char* id = nextField(cursor, fieldSeparator);
  const char* firstKey = nextField(cursor, fieldSeparator);
  if (id == nullptr || firstKey == nullptr) return false;
  MeterKeyEntry entry{};
  hexTextToBytes(id, entry.id, idBytes);
  hexTextToBytes(firstKey, entry.firstKey, keyBytes);
  // The second key runs to the line end, so a ";" inside it is part of it.
  const char* secondKey = nextField(cursor, lineEnd);
  if (secondKey != nullptr) hexTextToBytes(secondKey, entry.secondKey, keyBytes);
  list.entries[list.count++] = entry;
  return true;
}

bool isFull(const ConverterKeyList& list) { return list.count >= keyListCapacity; }
bool isFull(const MeterKeyList& list) { return list.count >= keyListCapacity; }
bool addLine(char* line, ConverterKeyList& list) { return addConverterLine(line, list); }
bool addLine(char* line, MeterKeyList& list) { return addMeterLine(line, list); }

// Returns false once the list is full, so that the caller stops loading it.
template <typename List>
bool loadKeyFile(FILE* file, List& list) {
  TextReader reader{};
  reader.file = file;
  reader.budget = keyFileByteLimit;
  char piece[linePieceCapacity];
  while (readLinePiece(reader, piece)) {
    if (piece[0] == commentMark) continue;
    if (isFull(list)) return false;
    addLine(piece, list);
  }
  return true;
}

template <typename List>
void loadKeyDirectory(const char* directory, List& list) {
  if (directory == nullptr || isFull(list)) return;
  DIR* dir = opendir(directory);
  if (dir == nullptr) return;
  bool more = true;
  while (more) {
    const dirent* item = readdir(dir);
    if (item == nullptr) break;
    if (item->d_name[0] == hiddenMark) continue;
    char path[pathCapacity];
    const int length = std::snprintf(path, sizeof path, "%s/%s", directory, item->d_name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) continue;  // too long
    FILE* file = openRegularFileStream(path);  // FIFOs and devices are skipped
    if (file == nullptr) continue;
    more = loadKeyFile(file, list);
    std::fclose(file);
  }
  closedir(dir);
}

template <typename Entry>
const Entry* findEntry(const Entry* entries, uint32_t count, const uint8_t id[4]) {
  const uint32_t bounded = count < keyListCapacity ? count : keyListCapacity;
  for (uint32_t i = 0; i < bounded; ++i) {
    if (std::memcmp(entries[i].id, id, idBytes) == 0) return &entries[i];
  }
  return nullptr;
}

}  // namespace

void loadKeyList(const char* directory, ConverterKeyList& list) {
  loadKeyDirectory(directory, list);
}

void loadKeyList(const char* directory, MeterKeyList& list) { loadKeyDirectory(directory, list); }

const ConverterKeyEntry* findConverterKey(const ConverterKeyList& list, const uint8_t id[4]) {
  return findEntry(list.entries, list.count, id);
}

const MeterKeyEntry* findMeterKeys(const MeterKeyList& list, const uint8_t id[4]) {
  return findEntry(list.entries, list.count, id);
}
