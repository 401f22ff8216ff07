// The ports QUARN_VIRTUAL_PORTS adds, after the system's own: the part of discovery both halves
// of the port layer share.
#include <cstdlib>
#include <cstring>

#include "serial/port_platform.h"

const char* const virtualPortsVariable = "QUARN_VIRTUAL_PORTS";

namespace {

// "first|instance identifier|description"; the last two fields may be missing.
void visitVirtualEntry(const char* entry, size_t length, PortVisitor visit, void* context) {
  const char* fields[3] = {entry, nullptr, nullptr};
  size_t lengths[3] = {length, 0, 0};
  int field = 0;
  for (size_t i = 0; i < length && field < 2; ++i) {
    if (entry[i] == '|') {
      lengths[field] = static_cast<size_t>(entry + i - fields[field]);
      ++field;
      fields[field] = entry + i + 1;
      lengths[field] = static_cast<size_t>(entry + length - fields[field]);
    }
  }
  if (lengths[0] == 0 || lengths[0] >= portTextSize) return;
  PortInfo port;
  std::memset(&port, 0, sizeof port);
  char first[portTextSize] = {};
  copyCut(first, sizeof first, fields[0], lengths[0]);
  if (!virtualPortPaths(first, port)) return;
  if (fields[1] != nullptr) copyCut(port.instanceId, sizeof port.instanceId, fields[1], lengths[1]);
  if (fields[2] != nullptr) copyCut(port.description, sizeof port.description, fields[2], lengths[2]);
  visit(port, context);
}

}  // namespace

void copyCut(char* out, size_t outSize, const char* src, size_t srcLen) {
  size_t n = srcLen < outSize - 1 ? srcLen : outSize - 1;
  if (n > 0) std::memcpy(out, src, n);
  out[n] = '\0';
}

void copyCut(char* out, size_t outSize, const char* src) {
  copyCut(out, outSize, src ? src : "", src ? std::strlen(src) : 0);
}

void enumerateVirtualPorts(const char* text, PortVisitor visit, void* context) {
  if (text == nullptr) return;
  const char* entry = text;
  for (;;) {
    const char* end = std::strchr(entry, ';');
    size_t length = end ? static_cast<size_t>(end - entry) : std::strlen(entry);
    visitVirtualEntry(entry, length, visit, context);
    if (end == nullptr) break;
    entry = end + 1;
  }
}

int enumeratePorts(PortVisitor visit, void* context, PortSourceReport report) {
  int status = enumerateSystemPorts(visit, context, report);
  enumerateVirtualPorts(std::getenv(virtualPortsVariable), visit, context);
  return status;
}
