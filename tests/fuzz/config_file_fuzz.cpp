// The start-up configuration file with arbitrary contents, checked against a small model of
// what the two reads must give: fgets pieces of at most 255 characters, the line end (LF or
// CR LF) removed, the text ending at an embedded NUL. The second line then becomes the
// converter key, as at start-up.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/config_file.h"
#include "codec/message_codec.h"
#include "fuzz_support.h"
#include "text/hex_text.h"

namespace {

std::string path;

// One read as the model sees it, starting at `at`; moves `at` past what was consumed.
std::string modelLine(const uint8_t* data, size_t size, size_t& at) {
  std::string piece;
  while (at < size && piece.size() < configLineSize - 1) {
    const char c = static_cast<char>(data[at++]);
    piece.push_back(c);
    if (c == '\n') break;
  }
  piece = piece.substr(0, std::strlen(piece.c_str()));
  if (!piece.empty() && piece.back() == '\n') {
    piece.pop_back();
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
  }
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/quarn-config-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  path = std::string(pattern) + "/" + configFileName;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  auto config = std::make_unique<ConfigFile>();
  std::memset(config->configLine1, 'x', configLineSize);  // no terminator unless the read puts one
  std::memset(config->configLine2, 'y', configLineSize);
  readConfigFile(path.c_str(), *config);
  FUZZ_CHECK(config->configLoaded);
  FUZZ_CHECK(std::memchr(config->configLine1, '\0', configLineSize) != nullptr);
  FUZZ_CHECK(std::memchr(config->configLine2, '\0', configLineSize) != nullptr);

  size_t at = 0;
  const std::string line1 = modelLine(data, size, at);
  const std::string line2 = modelLine(data, size, at);
  FUZZ_CHECK(line1 == config->configLine1);
  FUZZ_CHECK(line2 == config->configLine2);

  ConverterLinkState link;
  std::memset(link.converterKey, 0xA5, sizeof link.converterKey);
  loadConverterKey(config->configLine2, link);
  uint8_t expected[16] = {};
  hexTextToBytes(line2.c_str(), expected, sizeof expected);
  FUZZ_CHECK(std::memcmp(link.converterKey, expected, sizeof expected) == 0);
  return 0;
}
