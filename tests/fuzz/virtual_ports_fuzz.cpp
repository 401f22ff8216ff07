// The QUARN_VIRTUAL_PORTS text ("path" or "path|instanceId|description", ";"-separated) with
// arbitrary contents, checked against a small model of the ports it must name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "serial/port_discovery.h"

namespace {

struct ModelPort {
  std::string path, name, instanceId, description;
};

std::string cut(const std::string& text) { return text.substr(0, portTextSize - 1); }

std::vector<ModelPort> model(const std::string& text) {
  std::vector<ModelPort> ports;
  size_t at = 0;
  for (;;) {
    const size_t end = text.find(';', at);
    const std::string entry = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string fields[3];
    size_t field = 0;
    for (char c : entry) {
      if (c == '|' && field < 2) {
        ++field;
        continue;
      }
      fields[field].push_back(c);
    }
    if (!fields[0].empty() && fields[0].size() < portTextSize) {
      const size_t slash = fields[0].rfind('/');
      const std::string name = slash == std::string::npos ? fields[0] : fields[0].substr(slash + 1);
      if (!name.empty()) ports.push_back({fields[0], name, cut(fields[1]), cut(fields[2])});
    }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return ports;
}

void terminated(const char (&field)[portTextSize]) {
  FUZZ_CHECK(std::memchr(field, '\0', portTextSize) != nullptr);
}

void collect(const PortInfo& port, void* context) {
  terminated(port.name);
  terminated(port.devicePath);
  terminated(port.instanceId);
  terminated(port.description);
  static_cast<std::vector<ModelPort>*>(context)->push_back(
      {port.devicePath, port.name, port.instanceId, port.description});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text.resize(std::strlen(text.c_str()));  // an environment text ends at its first NUL
  auto copy = exactCopy(reinterpret_cast<const uint8_t*>(text.c_str()), text.size() + 1);
  std::vector<ModelPort> seen;
  enumerateVirtualPorts(reinterpret_cast<const char*>(copy.get()), collect, &seen);
  const std::vector<ModelPort> expected = model(text);
  FUZZ_CHECK(seen.size() == expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    FUZZ_CHECK(seen[i].path == expected[i].path);
    FUZZ_CHECK(seen[i].name == expected[i].name);
    FUZZ_CHECK(seen[i].instanceId == expected[i].instanceId);
    FUZZ_CHECK(seen[i].description == expected[i].description);
  }
  return 0;
}
