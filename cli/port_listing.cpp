// Port listing for quarn-cli: the window's port search, with the by-id links beside it.
#include "cli/port_listing.h"

#include <cctype>
#include <cstring>
#include <filesystem>

#include "dongle/dongle_link.h"
#include "serial/port_discovery.h"

namespace {

constexpr const char* vidLead = "USB\\VID_";
constexpr const char* pidLead = "&PID_";

std::string lowerText(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Collect {
  std::vector<PortListing>* out;
  std::string byIdFolder;
};

// The link in folder that resolves to the device; without the folder the device itself is not
// looked at.
std::string byIdLinkFor(const std::string& folder, const char* devicePath) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::directory_iterator entry(folder, error);
  if (error) return "";
  const fs::path target = fs::canonical(devicePath, error);
  if (error) return "";
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const fs::path link = entry->path();
    if (link.filename().string().rfind('.', 0) == 0) continue;
    std::error_code resolveError;
    if (fs::canonical(link, resolveError) == target && !resolveError) return link.string();
  }
  return "";
}

void visit(const PortInfo& port, void* context) {
  Collect& collect = *static_cast<Collect*>(context);
  PortListing listing;
  listing.name = port.name;
  listing.devicePath = port.devicePath;
  listing.description = port.description;
  describeInstance(port.instanceId, listing);
  listing.byIdLink = byIdLinkFor(collect.byIdFolder, port.devicePath);
  listing.stick = isStickPort(port);
  collect.out->push_back(listing);
}

}  // namespace

void describeInstance(const char* instanceId, PortListing& listing) {
  const std::string id = instanceId;
  const size_t vidLength = std::strlen(vidLead), pidLength = std::strlen(pidLead);
  if (id.compare(0, vidLength, vidLead) != 0 || id.size() < vidLength + 4 + pidLength + 4 ||
      id.compare(vidLength + 4, pidLength, pidLead) != 0)
    return;
  const std::string vendor = id.substr(vidLength, 4);
  const std::string product = id.substr(vidLength + 4 + pidLength, 4);
  if (vendor.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos ||
      product.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
    return;
  listing.usbId = lowerText(vendor) + ":" + lowerText(product);
  const size_t serialAt = vidLength + 4 + pidLength + 4;
  if (id.size() > serialAt && id[serialAt] == '\\') listing.serial = id.substr(serialAt + 1);
}

std::vector<PortListing> listPorts(const std::string& byIdFolder) {
  std::vector<PortListing> ports;
  Collect collect{&ports, byIdFolder};
  enumeratePorts(visit, &collect);
  return ports;
}
