// The counter and version records: finding their headers and reading their values.
#include "text/records.h"

#include "text/bytes.h"

namespace {

constexpr uint16_t recordScanTail = 4;  // positions up to length-4 are scanned
constexpr uint16_t recordScanMax = 0xFFFF;
constexpr size_t recordHeaderSize = 3;
constexpr size_t counterRecordSize = recordHeaderSize + 4;
constexpr size_t versionRecordSize = recordHeaderSize + 2;

constexpr uint8_t counterRecordHeader[recordHeaderSize] = {0x04, 0xFD, 0x08};
constexpr uint8_t versionRecordHeader[recordHeaderSize] = {0x02, 0xFD, 0x0C};

int findRecordHeader(const uint8_t* bytes, uint16_t length, const uint8_t header[recordHeaderSize]) {
  if (bytes == nullptr || length < recordScanTail) return 0;
  const uint16_t last = static_cast<uint16_t>(length - recordScanTail);
  for (uint16_t i = 0; i <= last; ++i) {
    if (bytes[i] == header[0] && bytes[i + 1] == header[1] && bytes[i + 2] == header[2]) {
      return i;
    }
  }
  return 0;
}

uint16_t scanLength(size_t length) { return static_cast<uint16_t>(length < recordScanMax ? length : recordScanMax); }

}  // namespace

int findCounterRecord(const uint8_t* bytes, uint16_t length) {
  return findRecordHeader(bytes, length, counterRecordHeader);
}

int findVersionRecord(const uint8_t* bytes, uint16_t length) {
  return findRecordHeader(bytes, length, versionRecordHeader);
}

bool readCounterRecord(const uint8_t* bytes, size_t length, uint32_t& value) {
  const int at = findCounterRecord(bytes, scanLength(length));
  if (at == 0 || static_cast<size_t>(at) + counterRecordSize > length) return false;
  value = readLe32(bytes + at + recordHeaderSize);
  return true;
}

bool readVersionRecord(const uint8_t* bytes, size_t length, uint16_t& value) {
  const int at = findVersionRecord(bytes, scanLength(length));
  if (at == 0 || static_cast<size_t>(at) + versionRecordSize > length) return false;
  value = readLe16(bytes + at + recordHeaderSize);
  return true;
}
