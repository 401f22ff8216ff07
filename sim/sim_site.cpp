// Several converters behind the simulated stick, read from a file of one converter a line.
#include "sim_site.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "sim_bytes.h"

namespace {

bool parseHexExact(const std::string& text, uint8_t* dest, size_t count) {
  return simParseHex(text.c_str(), dest, count) == static_cast<int>(count);
}

// Every line that is not blank or a "#" comment goes to take; false with "line N: reason" from the
// first one it refuses, or when the file cannot be read.
template <typename Take>
bool readEachLine(const std::string& path, std::string& error, Take take) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line, reason;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    if (!take(line, reason)) {
      error = "line " + std::to_string(number) + ": " + reason;
      return false;
    }
  }
  return true;
}

}  // namespace

bool simParseConverterLine(const std::string& line, SimConverter& c, std::string& error) {
  simConverterInit(c);
  std::istringstream words(line);
  std::string id, key, word;
  uint8_t bytes[4];
  if (!(words >> id) || !parseHexExact(id, bytes, 4)) {
    error = "expected the converter ID (8 hex digits) first";
    return false;
  }
  for (int i = 0; i < 4; ++i) c.id[i] = bytes[3 - i];
  if (!(words >> key) || !parseHexExact(key, c.key, simKeySize)) {
    error = "expected the converter key (32 hex digits) after the ID";
    return false;
  }
  while (words >> word) {
    const size_t eq = word.find('=');
    const std::string name = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (word == "silent") {
      c.silent = true;
    } else if (word == "wrong-key") {
      c.key[simKeySize - 1] ^= 0xFF;
    } else if (word == "stores-wrongly") {
      c.storesWrongly = true;
    } else if (name == "options" && parseHexExact(value, c.options, simOptionCount)) {
    } else if (name.size() == 5 && name.compare(0, 4, "slot") == 0 && name[4] >= '1' && name[4] <= '4' &&
               parseHexExact(value, bytes, 4)) {
      uint8_t* rec = c.slots[name[4] - '1'];
      simPut32(rec + 4, 1);
      for (int i = 0; i < 4; ++i) rec[8 + i] = bytes[3 - i];
    } else {
      error = "unknown or bad word \"" + word + "\"";
      return false;
    }
  }
  return true;
}

bool simLoadSite(const std::string& path, SimSession& s, std::string& error) {
  size_t count = 0;
  const bool read = readEachLine(path, error, [&](const std::string& line, std::string& reason) {
    if (count > simOthersMax) {
      reason = "more than " + std::to_string(simOthersMax + 1) + " converters";
      return false;
    }
    if (!simParseConverterLine(line, count == 0 ? s.conv : s.others[count - 1], reason)) return false;
    ++count;
    return true;
  });
  if (!read) return false;
  if (count == 0) {
    error = path + ": no converter";
    return false;
  }
  s.otherCount = count - 1;
  return true;
}

bool simLoadMeters(const std::string& path, SimSession& s, std::string& error) {
  s.playedCount = 0;
  const bool read = readEachLine(path, error, [&s](const std::string& line, std::string& reason) {
    if (s.playedCount == simPlayedMeterMax) {
      reason = "more than " + std::to_string(simPlayedMeterMax) + " meters";
      return false;
    }
    if (!simParseMeterLine(line, s.played[s.playedCount], reason)) return false;
    ++s.playedCount;
    return true;
  });
  if (!read) return false;
  if (s.playedCount == 0) {
    error = path + ": no meter";
    return false;
  }
  return true;
}
