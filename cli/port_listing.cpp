// Port listing for quarn-cli: the window's port search, with the by-id links beside it.
#include "cli/port_listing.h"

#include <cstdio>
#include <filesystem>

#include "dongle/dongle_link.h"
#include "serial/port_discovery.h"
#include "serial/usb_instance_id.h"

namespace {

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
  UsbInstanceId usb;
  if (!parseUsbInstanceId(instanceId, usb)) return;
  char usbId[10];
  std::snprintf(usbId, sizeof usbId, "%04x:%04x", usb.vendorId, usb.productId);
  listing.usbId = usbId;
  if (usb.serial != nullptr) listing.serial = usb.serial;
}

std::vector<PortListing> listPorts(const std::string& byIdFolder) {
  std::vector<PortListing> ports;
  Collect collect{&ports, byIdFolder};
  enumeratePorts(visit, &collect);
  return ports;
}
