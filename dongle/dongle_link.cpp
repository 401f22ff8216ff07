// Finding the USB wireless M-Bus dongle among the serial ports and opening its port.
#include "dongle/dongle_link.h"

#include <cerrno>
#include <cstring>

#include "serial/port_discovery.h"
#include "serial/serial_trace.h"
#include "text/printable_text.h"

const char* const dongleInstancePrefix = "USB\\VID_10C4&PID_0003\\";
const char* const dongleSerialPrefix = "ZJ";

namespace {

struct DongleSearch {
  DongleRecord* record;
  DongleLink* link;
  int openable;        // the recorded stick's port opened (rather than being refused)
  const char* wanted;  // the stick's serial, port name or device path; empty or null: any stick
};

struct StickList {
  PortInfo* sticks;
  int capacity;
  int count;
};

void collectStick(const PortInfo& port, void* context) {
  StickList& list = *static_cast<StickList*>(context);
  if (!isStickPort(port)) return;
  if (list.count < list.capacity) list.sticks[list.count] = port;
  ++list.count;
}

enum ProbeResult { probeFailed = 0, probeOpened = 1, probeRefused = 2 };

// Copies exactly width bytes of a terminated source buffer of portTextSize bytes.
void copyField(char* field, size_t width, const char (&source)[portTextSize]) {
  std::memcpy(field, source, width);
}

// Refused: another program holds the port or the user may not open it. Such a stick is still
// found, so that its open gives that cause (in use, not in the dialout group), not "not found".
ProbeResult probePort(const PortInfo& port, int trace) {
  SerialPort probe;
  if (!openSerialPort(probe, port.devicePath)) {
    if (serialOpenCauseText(probe.lastError) != nullptr) return probeRefused;  // traced by that open
    if (trace) traceOpenFailure(port.name, probe.lastError);
    return probeFailed;
  }
  closeSerialPort(probe);
  return probeOpened;
}

// The serial after the stick's vendor and product, or nullptr for any other device.
const char* stickSerial(const PortInfo& port) {
  if (std::strncmp(port.instanceId, dongleInstancePrefix, dongleInstancePrefixLength) != 0) return nullptr;
  return port.instanceId + dongleInstancePrefixLength;
}

// The serial as the record keeps it: its first bytes, padded with zeros.
void serialField(char (&field)[dongleSerialSize], const char* serial) {
  char serialBuffer[portTextSize] = {};  // the serial in a buffer of the common width
  std::strncpy(serialBuffer, serial, portTextSize - 1);
  copyField(field, sizeof field, serialBuffer);
}

void recordPort(DongleRecord& record, const PortInfo& port) {
  copyField(record.portName, sizeof record.portName, port.name);
  std::memcpy(record.devicePath, port.devicePath, sizeof record.devicePath);
}

void examinePort(const PortInfo& port, void* context) {
  DongleSearch& search = *static_cast<DongleSearch*>(context);
  // Identifiers, serials and names come from the device: printed escaped, they cannot
  // steer the terminal.
  serialTrace("Found instanceID: [%s]\n", printableText(port.instanceId).c_str());
  const char* serial = stickSerial(port);
  if (serial == nullptr) return;
  serialTrace("Found one instance, serial: [%s]\n", printableText(serial).c_str());
  serialTrace("Found PortName: [%s]\n", printableText(port.name).c_str());
  serialTrace("Found friendly name: [%s]\r\n", printableText(port.description).c_str());
  if (search.wanted != nullptr && search.wanted[0] != '\0' && !isWantedStick(port, search.wanted)) return;
  const ProbeResult probe = probePort(port, 1);
  if (probe == probeFailed) return;
  if (std::strncmp(serial, dongleSerialPrefix, 2) != 0) return;
  if (probe == probeRefused && search.openable) return;  // a stick that opens is the better choice

  search.openable = probe == probeOpened;
  DongleRecord& record = *search.record;
  record.found = 1;
  serialField(record.serial, serial);
  copyField(record.description, sizeof record.description, port.description);
  recordPort(record, port);
  search.link->mode = dongleLinkDongle;
  serialTrace("Silabs CDC found.\n");
}

struct RecordedSearch {
  DongleRecord* record;
  PortInfo port;  // the last match whose port opened
  int found;
};

void examineForRecorded(const PortInfo& port, void* context) {
  RecordedSearch& search = *static_cast<RecordedSearch*>(context);
  if (!isRecordedDongle(*search.record, port) || probePort(port, 0) != probeOpened) return;
  search.port = port;
  search.found = 1;
}

// The two lines stand for the Windows class and device-set steps that udev replaces.
void reportPortSource(int status, void*) {
  if (status == portSourceNoUdev) {
    serialTrace("Could not find the PORTS class GUID.\n");
    return;
  }
  serialTrace("PORTS class GUID found.\n");
  if (status == portSourceNoDeviceSet) {
    serialTrace("hDevInfoSet not found.\n");
  } else {
    serialTrace("hDevInfoSet found.\n");
  }
}

std::string fieldText(const char* field, size_t maxChars) {
  size_t length = 0;
  while (length < maxChars && field[length] != '\0') ++length;
  return std::string(field, length);
}

}  // namespace

bool isStickPort(const PortInfo& port) {
  const char* serial = stickSerial(port);
  return serial != nullptr && std::strncmp(serial, dongleSerialPrefix, 2) == 0;
}

void traceOpenFailure(const char* portName, int error) {
  const std::string name = printableText(portName);
  if (error == ENOENT) {
    serialTrace("COM port %s not found\n", name.c_str());
  } else {
    serialTrace("Error opening COM port %s\n", name.c_str());
  }
  const char* cause = serialOpenCauseText(error);
  if (cause != nullptr) serialTrace("%s\n", cause);
}

bool isWantedStick(const PortInfo& port, const char* wanted) {
  if (!isStickPort(port) || wanted == nullptr) return false;
  return std::strcmp(port.instanceId + dongleInstancePrefixLength, wanted) == 0 ||
         std::strcmp(port.name, wanted) == 0 || std::strcmp(port.devicePath, wanted) == 0;
}

int listSticks(PortInfo* sticks, int capacity) {
  StickList list{sticks, capacity, 0};
  enumeratePorts(collectStick, &list);
  return list.count;
}

int findDongle(DongleRecord& record, DongleLink& link, const char* wanted) {
  DongleSearch search{&record, &link, 0, wanted};
  // Without udev the system's ports are unknown, but virtual ports are still searched.
  enumeratePorts(examinePort, &search, reportPortSource);
  return record.found == 1 ? 1 : 0;
}

int isRecordedDongle(const DongleRecord& record, const PortInfo& port) {
  const char* serial = stickSerial(port);
  if (record.found != 1 || serial == nullptr) return 0;
  char field[dongleSerialSize];
  serialField(field, serial);
  return std::memcmp(field, record.serial, sizeof field) == 0 ? 1 : 0;
}

int findDongleAgain(DongleRecord& record) {
  RecordedSearch search{&record, {}, 0};
  enumeratePorts(examineForRecorded, &search);
  if (!search.found) return 0;
  recordPort(record, search.port);
  return 1;
}

int openDonglePort(const DongleRecord& record, DongleLink& link) {
  if (link.mode != dongleLinkDongle) return 0;
  closeSerialPort(link.port);
  char portName[donglePortNameSize + 1] = {};
  std::memcpy(portName, record.portName, donglePortNameSize);
  char path[donglePathSize + 1] = {};
  std::memcpy(path, record.devicePath, donglePathSize);
  if (!openSerialPort(link.port, path)) {
    traceOpenFailure(portName, link.port.lastError);
    return 0;
  }
  if (!applyProfile(link.port, dongleSerialProfile)) {
    const char* message = serialStepMessage(link.port.failedStep);
    serialTrace("%s\n", message ? message : "Error setting serial parameters.");
    closeSerialPort(link.port);
    return 0;
  }
  return 1;
}

std::string dongleSerial(const DongleRecord& record) {
  return fieldText(record.serial, dongleSerialSize - 1);
}

std::string dongleDescription(const DongleRecord& record) {
  return fieldText(record.description, dongleDescriptionSize - 1);
}

std::string donglePortName(const DongleRecord& record) {
  return fieldText(record.portName, donglePortNameSize - 1);
}
