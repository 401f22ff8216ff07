// Port discovery, the port list and the dongle search against umockdev's mock udev and real ptys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <poll.h>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>
#include <vector>

#include "serial/com_port_list.h"
#include "serial/device_monitor.h"
#include "dongle/dongle_frame.h"
#include "dongle/dongle_link.h"
#include "serial/port_discovery.h"
#include "serial/usb_instance_id.h"
#include "tests/unit/serial_pty.h"

namespace {

// A USB dongle, a same-vendor bridge of another product, a dongle without the ZJ serial, a plain
// ACM port, a ttyS with a UART (pnp), a ttyS without one (platform) and a virtual console.
const char* const mockDevices =
    "P: /devices/pci0000:00/usb1/1-1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=10c4\nA: idProduct=0003\nA: serial=ZJ001234\nA: product=Wireless M-Bus Stick\n\n"
    "P: /devices/pci0000:00/usb1/1-1/1-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n"
    "P: /devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0\nE: SUBSYSTEM=tty\n"
    "E: DEVNAME=/dev/ttyUSB0\nA: dev=188:0\n\n"
    "P: /devices/pci0000:00/usb1/1-2\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=10c4\nA: idProduct=ea60\nA: serial=0001\nA: product=CP2102 USB to UART\n\n"
    "P: /devices/pci0000:00/usb1/1-2/1-2:1.0/ttyUSB1/tty/ttyUSB1\nE: SUBSYSTEM=tty\n"
    "E: DEVNAME=/dev/ttyUSB1\nA: dev=188:1\n\n"
    "P: /devices/pci0000:00/usb1/1-3\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=10c4\nA: idProduct=0003\nA: serial=AB001234\nA: product=Other Stick\n\n"
    "P: /devices/pci0000:00/usb1/1-3/1-3:1.0/ttyUSB2/tty/ttyUSB2\nE: SUBSYSTEM=tty\n"
    "E: DEVNAME=/dev/ttyUSB2\nA: dev=188:2\n\n"
    "P: /devices/pci0000:00/usb1/1-4\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=2341\nA: idProduct=0043\n\n"
    "P: /devices/pci0000:00/usb1/1-4/1-4:1.0/tty/ttyACM0\nE: SUBSYSTEM=tty\n"
    "E: DEVNAME=/dev/ttyACM0\nE: ID_MODEL=Uno_R3\nA: dev=166:0\n\n"
    "P: /devices/pnp0/00:05\nE: SUBSYSTEM=pnp\n\n"
    "P: /devices/pnp0/00:05/tty/ttyS4\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS4\nA: dev=4:68\n\n"
    "P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\n\n"
    "P: /devices/platform/serial8250/tty/ttyS0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/ttyS0\nA: dev=4:64\n\n"
    "P: /devices/virtual/tty/tty0\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty0\nA: dev=4:0\n";

// A stick plugged in and pulled out, told through the testbed's uevents.
const char* const pluggedStick =
    "P: /devices/pci0000:00/usb1/1-1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
    "A: idVendor=10c4\nA: idProduct=0003\nA: serial=ZJ009876\nA: product=Wireless M-Bus Stick\n\n"
    "P: /devices/pci0000:00/usb1/1-1/1-1:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\n"
    "P: /devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB3/tty/ttyUSB3\nE: SUBSYSTEM=tty\n"
    "E: DEVNAME=/dev/ttyUSB3\nA: dev=188:3\n\n"
    "P: /devices/virtual/tty/tty7\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/tty7\nA: dev=4:7\n";
const char* const stickTty = "/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB3/tty/ttyUSB3";

class MockSystem : public ::testing::Test {
protected:
  UMockdevTestbed* testbed = nullptr;
  std::string tempDir;

  void SetUp() override {
    testbed = umockdev_testbed_new();
    char pattern[] = "/tmp/quarn-serial-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    tempDir = pattern;
    unsetenv(virtualPortsVariable);
  }
  void TearDown() override {
    unsetenv(virtualPortsVariable);
    for (const std::string& link : links) unlink(link.c_str());
    rmdir(tempDir.c_str());
    g_object_unref(testbed);
  }
  void addDevices() {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, mockDevices, &error))
        << (error ? error->message : "");
  }
  // A name in the temp folder for a pty slave: umockdev leaves paths outside /dev alone.
  std::string link(const PtyPair& pty, const std::string& name) {
    std::string path = tempDir + "/" + name;
    EXPECT_EQ(0, symlink(pty.slavePath.c_str(), path.c_str()));
    links.push_back(path);
    return path;
  }
  void addStick() {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, pluggedStick, &error)) << (error ? error->message : "");
  }
  std::vector<std::string> links;
};

std::vector<PortInfo> collectPorts(int* status = nullptr) {
  std::vector<PortInfo> ports;
  int result = enumeratePorts(
      [](const PortInfo& port, void* context) { static_cast<std::vector<PortInfo>*>(context)->push_back(port); },
      &ports);
  if (status) *status = result;
  return ports;
}

const PortInfo* findPort(const std::vector<PortInfo>& ports, const char* name) {
  for (const PortInfo& port : ports) {
    if (std::strcmp(port.name, name) == 0) return &port;
  }
  return nullptr;
}

TEST_F(MockSystem, OnlyRealSerialPortsAreFoundWithTheirIdentity) {
  addDevices();
  int status = -1;
  std::vector<PortInfo> ports = collectPorts(&status);
  EXPECT_EQ(portSourceUdev, status);
  EXPECT_EQ(5u, ports.size());
  struct Expected {
    const char* name;
    const char* path;
    const char* instanceId;
    const char* description;
  };
  const Expected table[] = {
      {"ttyUSB0", "/dev/ttyUSB0", "USB\\VID_10C4&PID_0003\\ZJ001234", "Wireless M-Bus Stick"},
      {"ttyUSB1", "/dev/ttyUSB1", "USB\\VID_10C4&PID_EA60\\0001", "CP2102 USB to UART"},
      {"ttyUSB2", "/dev/ttyUSB2", "USB\\VID_10C4&PID_0003\\AB001234", "Other Stick"},
      {"ttyACM0", "/dev/ttyACM0", "USB\\VID_2341&PID_0043\\", "Uno_R3"},
      {"ttyS4", "/dev/ttyS4", "TTY\\ttyS4", ""},
  };
  for (const Expected& want : table) {
    const PortInfo* port = findPort(ports, want.name);
    ASSERT_NE(nullptr, port) << want.name;
    EXPECT_STREQ(want.path, port->devicePath);
    EXPECT_STREQ(want.instanceId, port->instanceId);
    EXPECT_STREQ(want.description, port->description);
  }
  EXPECT_EQ(nullptr, findPort(ports, "ttyS0"));  // platform port without a UART
  EXPECT_EQ(nullptr, findPort(ports, "tty0"));   // virtual console
}

TEST_F(MockSystem, ListIsSortedByPlainBytesAndKeepsPaths) {
  addDevices();
  std::string entries = tempDir + "/COM2;" + tempDir + "/COM10|X|Y;" + tempDir + "/COM1;;" + tempDir + "/ttyS10";
  setenv(virtualPortsVariable, entries.c_str(), 1);
  static ComPortList list;
  std::memset(&list, 0, sizeof list);
  ASSERT_EQ(9, listComPorts(list));
  const char* order[] = {"COM1", "COM10", "COM2", "ttyACM0", "ttyS10", "ttyS4", "ttyUSB0", "ttyUSB1", "ttyUSB2"};
  // The empty entry between COM1 and ttyS10 adds nothing.
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(order[i], comPortName(list, i)) << i;
  EXPECT_EQ(tempDir + "/COM10", comPortPath(list, 1));
  EXPECT_STREQ("/dev/ttyUSB0", comPortPath(list, 6));
  EXPECT_EQ(9, listComPorts(list));  // listing again starts from 0
}

TEST_F(MockSystem, ListLeavesOutLongNamesAndPortsBeyondTheTable) {
  std::string name31(31, 'a');
  std::string name32(32, 'b');
  std::string entries = tempDir + "/" + name31 + ";" + tempDir + "/" + name32;
  for (int i = 0; i < 105; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%03d", 104 - i);
    entries += ";" + tempDir + "/" + name;
  }
  setenv(virtualPortsVariable, entries.c_str(), 1);
  static ComPortList list;
  std::memset(&list, 0x7E, sizeof list);
  ASSERT_EQ(100, listComPorts(list));
  EXPECT_EQ(name31, comPortName(list, 0));
  // Only the first 99 short names fit beside it: p104 down to p006 (the last five are left out).
  EXPECT_STREQ("p006", comPortName(list, 1));
  EXPECT_STREQ("p104", comPortName(list, 99));
  EXPECT_STREQ("p104", comPortName(list, 150));
  for (int i = 0; i < 100; ++i) EXPECT_NE(name32, comPortName(list, i));
  EXPECT_EQ(0x7E, static_cast<unsigned char>(list.names[1][5]));  // bytes after a name stay
}

TEST_F(MockSystem, VirtualEntriesAreParsedWithinBounds) {
  std::string longPath = tempDir + "/" + std::string(300, 'x');
  std::string entries = ";/tmp/only-path;/tmp/with-id|USB\\VID_1234&PID_5678\\S1;" + longPath +
                        "|USB\\VID_10C4&PID_0003\\ZJ1|d;/tmp/dir/|i|d;/tmp/full|id|desc|more";
  std::vector<PortInfo> ports;
  enumerateVirtualPorts(entries.c_str(),
                        [](const PortInfo& port, void* context) {
                          static_cast<std::vector<PortInfo>*>(context)->push_back(port);
                        },
                        &ports);
  ASSERT_EQ(3u, ports.size());
  EXPECT_STREQ("only-path", ports[0].name);
  EXPECT_STREQ("", ports[0].instanceId);
  EXPECT_STREQ("with-id", ports[1].name);
  EXPECT_STREQ("USB\\VID_1234&PID_5678\\S1", ports[1].instanceId);
  EXPECT_STREQ("", ports[1].description);
  EXPECT_STREQ("/tmp/full", ports[2].devicePath);
  EXPECT_STREQ("desc|more", ports[2].description);
  std::string longId = "/tmp/p|" + std::string(400, 'I') + "|" + std::string(400, 'D');
  ports.clear();
  enumerateVirtualPorts(longId.c_str(),
                        [](const PortInfo& port, void* context) {
                          static_cast<std::vector<PortInfo>*>(context)->push_back(port);
                        },
                        &ports);
  ASSERT_EQ(1u, ports.size());
  EXPECT_EQ(portTextSize - 1, std::strlen(ports[0].instanceId));
  EXPECT_EQ(portTextSize - 1, std::strlen(ports[0].description));
}

TEST_F(MockSystem, DongleSearchTracesEveryUdevPortAndPassesOverUnopenable) {
  addDevices();
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { EXPECT_EQ(0, findDongle(record, link)); });
  // udev's order is the sysfs order; check each port's block rather than the sequence.
  EXPECT_EQ(0u, trace.find("PORTS class GUID found.\nhDevInfoSet found.\n"));
  EXPECT_NE(std::string::npos,
            trace.find("Found instanceID: [USB\\VID_10C4&PID_0003\\ZJ001234]\n"
                       "Found one instance, serial: [ZJ001234]\n"
                       "Found PortName: [ttyUSB0]\n"
                       "Found friendly name: [Wireless M-Bus Stick]\r\n"
                       "COM port ttyUSB0 not found\n"));
  EXPECT_NE(std::string::npos, trace.find("Found instanceID: [USB\\VID_10C4&PID_EA60\\0001]\nFound instanceID"));
  EXPECT_NE(std::string::npos, trace.find("Found one instance, serial: [AB001234]\n"));
  EXPECT_NE(std::string::npos, trace.find("COM port ttyUSB2 not found\n"));
  EXPECT_EQ(std::string::npos, trace.find("Silabs CDC found."));
  EXPECT_EQ(0, record.found);
  EXPECT_EQ(dongleLinkNone, link.mode);
}

// A device's own strings reach the trace escaped, so they cannot steer the terminal.
TEST_F(MockSystem, DeviceStringsAreTracedWithControlsEscaped) {
  const char* const device =
      "P: /devices/pci0000:00/usb1/1-5\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
      "A: idVendor=10c4\nA: idProduct=0003\nA: serial=ZJ\x1B[2J\nA: product=Stick\x1B]0;owned\x07 Z\xC3\xA4hler\n\n"
      "P: /devices/pci0000:00/usb1/1-5/1-5:1.0/ttyUSB5/tty/ttyUSB5\nE: SUBSYSTEM=tty\n"
      "E: DEVNAME=/dev/ttyUSB5\nA: dev=188:5\n";
  GError* error = nullptr;
  ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, device, &error)) << (error ? error->message : "");
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { findDongle(record, link); });
  EXPECT_NE(std::string::npos,
            trace.find("Found instanceID: [USB\\VID_10C4&PID_0003\\ZJ\\x1B[2J]\n"
                       "Found one instance, serial: [ZJ\\x1B[2J]\n"
                       "Found PortName: [ttyUSB5]\n"
                       "Found friendly name: [Stick\\x1B]0;owned\\x07 Z\xC3\xA4hler]\r\n"))
      << trace;
  EXPECT_EQ(std::string::npos, trace.find('\x1B'));
  EXPECT_EQ(std::string::npos, trace.find('\x07'));
}

TEST_F(MockSystem, NoPortsGiveEmptyListAndNoDongle) {
  static ComPortList list;
  EXPECT_EQ(0, listComPorts(list));
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { EXPECT_EQ(0, findDongle(record, link)); });
  EXPECT_EQ("PORTS class GUID found.\nhDevInfoSet found.\n", trace);
}

TEST_F(MockSystem, VirtualDongleIsFoundOpenedAndCarriesFrames) {
  PtyPair pty;
  std::string path = link(pty, "ttySIM1");
  std::string entries = path + "|USB\\VID_10C4&PID_0003\\ZJ000042|Wireless M-Bus stick (simulated)";
  setenv(virtualPortsVariable, entries.c_str(), 1);
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { EXPECT_EQ(1, findDongle(record, link)); });
  EXPECT_EQ("PORTS class GUID found.\nhDevInfoSet found.\n"
            "Found instanceID: [USB\\VID_10C4&PID_0003\\ZJ000042]\n"
            "Found one instance, serial: [ZJ000042]\n"
            "Found PortName: [ttySIM1]\n"
            "Found friendly name: [Wireless M-Bus stick (simulated)]\r\n"
            "Silabs CDC found.\n",
            trace);
  EXPECT_EQ(1, record.found);
  EXPECT_EQ(dongleLinkDongle, link.mode);
  EXPECT_EQ("ZJ000042", dongleSerial(record));
  EXPECT_EQ("Wireless M-Bus stick (simulated)", dongleDescription(record));
  EXPECT_STREQ("ttySIM1", record.portName);
  EXPECT_EQ(path, record.devicePath);
  EXPECT_EQ(-1, link.port.fd);  // the probe closed its handle

  ASSERT_EQ(1, openDonglePort(record, link)) << link.port.failedStep << " " << std::strerror(link.port.lastError);
  termios state{};
  ASSERT_EQ(0, tcgetattr(link.port.fd, &state));
  EXPECT_EQ(static_cast<speed_t>(B2000000), cfgetospeed(&state));
  const uint8_t start[] = {0xAB, 0x00, 0x00};
  EXPECT_EQ(1, writeDongleFrame(link, start, sizeof start));
  EXPECT_EQ((std::vector<uint8_t>{0xAB, 0x00, 0x00}), pty.received());
  ASSERT_EQ(1, openDonglePort(record, link)) << link.port.failedStep << " " << std::strerror(link.port.lastError);
  closeSerialPort(link.port);
}

TEST_F(MockSystem, LastRecognisedDongleWinsAndOthersArePassedOver) {
  PtyPair first;
  PtyPair notZj;
  PtyPair otherProduct;
  PtyPair second;
  std::string entries = link(first, "ttySIM0") + "|USB\\VID_10C4&PID_0003\\ZJ000001|First;" +
                        link(notZj, "ttySIM1") + "|USB\\VID_10C4&PID_0003\\AB001234|Not ours;" +
                        link(otherProduct, "ttySIM2") + "|USB\\VID_10C4&PID_EA60\\ZJ000003|Bridge;" +
                        link(second, "ttySIM3") + "|USB\\VID_10C4&PID_0003\\ZJ000004|Second;" +
                        tempDir + "/gone|USB\\VID_10C4&PID_0003\\ZJ000005|Gone";
  setenv(virtualPortsVariable, entries.c_str(), 1);
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { EXPECT_EQ(1, findDongle(record, link)); });
  EXPECT_EQ("ZJ000004", dongleSerial(record));
  EXPECT_EQ("Second", dongleDescription(record));
  EXPECT_STREQ("ttySIM3", record.portName);
  size_t found = 0;
  for (size_t at = trace.find("Silabs CDC found."); at != std::string::npos;
       at = trace.find("Silabs CDC found.", at + 1)) {
    ++found;
  }
  EXPECT_EQ(2u, found);
  EXPECT_NE(std::string::npos, trace.find("Found instanceID: [USB\\VID_10C4&PID_EA60\\ZJ000003]\nFound instanceID"));
  EXPECT_NE(std::string::npos, trace.find("Found friendly name: [Not ours]\r\nFound instanceID"));
  EXPECT_NE(std::string::npos, trace.find("Found friendly name: [Gone]\r\nCOM port gone not found\n"));
}

// A busy stick is found, so that its open says it is in use (not "not found"); a free stick
// elsewhere is still preferred.
TEST_F(MockSystem, BusyDonglePortIsFoundAndItsOpenGivesTheCause) {
  PtyPair busyPty, freePty;
  const std::string busy = link(busyPty, "ttySIM0"), free = link(freePty, "ttySIM1");
  SerialPort holder;
  ASSERT_EQ(1, openSerialPort(holder, busy.c_str()));
  for (const std::string& entries : {busy + "|USB\\VID_10C4&PID_0003\\ZJ000042|Busy",
                                     free + "|USB\\VID_10C4&PID_0003\\ZJ000043|Free;" + busy +
                                         "|USB\\VID_10C4&PID_0003\\ZJ000042|Busy"}) {
    setenv(virtualPortsVariable, entries.c_str(), 1);
    DongleRecord record{};
    DongleLink link;
    EXPECT_EQ(1, findDongle(record, link));
    const bool freeListed = entries.find("Free") != std::string::npos;
    std::string trace = captureStdout([&] { EXPECT_EQ(freeListed ? 1 : 0, openDonglePort(record, link)); });
    EXPECT_EQ(freeListed ? "" : "Error opening COM port ttySIM0\nThe port is in use by another program.\n", trace);
    closeSerialPort(link.port);
  }
  closeSerialPort(holder);
}

TEST_F(MockSystem, OpeningWithoutDongleDoesNothingAndAVanishedPortIsTraced) {
  DongleRecord record{};
  DongleLink link;
  std::string trace = captureStdout([&] { EXPECT_EQ(0, openDonglePort(record, link)); });
  EXPECT_EQ("", trace);
  link.mode = dongleLinkDongle;
  std::memcpy(record.portName, "ttySIM9", 8);
  std::snprintf(record.devicePath, sizeof record.devicePath, "%s/ttySIM9", tempDir.c_str());
  trace = captureStdout([&] { EXPECT_EQ(0, openDonglePort(record, link)); });
  EXPECT_EQ("COM port ttySIM9 not found\n", trace);
  EXPECT_EQ(-1, link.port.fd);
  std::snprintf(record.devicePath, sizeof record.devicePath, "/dev/null");
  std::memcpy(record.portName, "null", 5);
  trace = captureStdout([&] { EXPECT_EQ(0, openDonglePort(record, link)); });
  EXPECT_EQ("Error opening COM port null\n", trace);
}

int waitReadable(int fd) {
  pollfd state{fd, POLLIN, 0};
  return poll(&state, 1, 2000) > 0 && (state.revents & POLLIN) ? 1 : 0;
}

TEST_F(MockSystem, MonitorTellsTheStickAddedWithItsIdentityAndRemovedWithItsNode) {
  addStick();  // before the monitor opens: the testbed's own add events are not seen
  DeviceMonitor monitor;
  ASSERT_EQ(1, openDeviceMonitor(monitor));
  ASSERT_GE(monitor.handle, 0);
  DeviceEvent events[4];
  EXPECT_EQ(0, readDeviceEvents(monitor, events, 4));  // nothing waits: no blocking
  // Passed over: a USB device (other subsystem), a console, a change of the port itself.
  umockdev_testbed_uevent(testbed, "/sys/devices/pci0000:00/usb1/1-1", "add");
  umockdev_testbed_uevent(testbed, "/sys/devices/virtual/tty/tty7", "add");
  umockdev_testbed_uevent(testbed, stickTty, "change");
  umockdev_testbed_uevent(testbed, stickTty, "add");
  ASSERT_EQ(1, waitReadable(static_cast<int>(monitor.handle)));
  ASSERT_EQ(1, readDeviceEvents(monitor, events, 4));
  EXPECT_EQ(deviceAdded, events[0].kind);
  EXPECT_STREQ("ttyUSB3", events[0].port.name);
  EXPECT_STREQ("/dev/ttyUSB3", events[0].port.devicePath);
  EXPECT_STREQ("USB\\VID_10C4&PID_0003\\ZJ009876", events[0].port.instanceId);
  EXPECT_STREQ("Wireless M-Bus Stick", events[0].port.description);

  umockdev_testbed_uevent(testbed, stickTty, "remove");
  umockdev_testbed_remove_device(testbed, "/sys/devices/pci0000:00/usb1/1-1");
  ASSERT_EQ(1, waitReadable(static_cast<int>(monitor.handle)));
  ASSERT_EQ(1, readDeviceEvents(monitor, events, 4));
  EXPECT_EQ(deviceRemoved, events[0].kind);
  EXPECT_STREQ("ttyUSB3", events[0].port.name);
  EXPECT_STREQ("/dev/ttyUSB3", events[0].port.devicePath);
  EXPECT_STREQ("", events[0].port.instanceId);
  closeDeviceMonitor(monitor);
  EXPECT_EQ(-1, monitor.handle);
  closeDeviceMonitor(monitor);  // twice is harmless
}

TEST_F(MockSystem, MonitorTakesABoundedNumberOfEventsPerCall) {
  addStick();
  DeviceMonitor monitor;
  ASSERT_EQ(1, openDeviceMonitor(monitor));
  // Ten: the testbed's sender gives up once the socket's queue is full.
  for (int i = 0; i < 10; ++i) umockdev_testbed_uevent(testbed, stickTty, i % 2 ? "remove" : "add");
  ASSERT_EQ(1, waitReadable(static_cast<int>(monitor.handle)));
  DeviceEvent events[16];
  struct Step {
    int capacity;
    int expected;
  };
  const Step steps[] = {{16, deviceEventsPerRead}, {1, 1}, {16, 1}, {16, 0}};
  for (const Step& step : steps) EXPECT_EQ(step.expected, readDeviceEvents(monitor, events, step.capacity));
  EXPECT_EQ(deviceRemoved, events[0].kind);  // the tenth
  closeDeviceMonitor(monitor);
}

// The stick of the run comes back: which entry is taken again, quietly, with only its port updated.
TEST_F(MockSystem, RecordedStickIsFoundAgainBySerialOnly) {
  PtyPair first;
  PtyPair other;
  PtyPair back;
  PtyPair later;
  const std::string firstPath = link(first, "ttySIM1");
  const std::string otherPath = link(other, "ttySIM2");
  const std::string backPath = link(back, "ttySIM5");
  const std::string laterPath = link(later, "ttySIM6");
  const std::string gonePath = tempDir + "/ttySIM9";
  const std::string stick = "|USB\\VID_10C4&PID_0003\\";
  struct Case {
    const char* what;
    std::string entries;
    int found;
    const char* portName;
  };
  const Case cases[] = {
      {"another ttyUSB number", otherPath + stick + "ZJ000007|Other;" + backPath + stick + "ZJ000042|New", 1,
       "ttySIM5"},
      {"not back yet", gonePath + stick + "ZJ000042|Gone", 0, "ttySIM1"},
      {"other product", backPath + "|USB\\VID_10C4&PID_EA60\\ZJ000042|Bridge", 0, "ttySIM1"},
      {"longer serial", backPath + stick + "ZJ0000421|Longer", 0, "ttySIM1"},
      {"last one that opens", backPath + stick + "ZJ000042;" + laterPath + stick + "ZJ000042;" + gonePath +
                                   stick + "ZJ000042", 1, "ttySIM6"},
  };
  for (const Case& c : cases) {
    setenv(virtualPortsVariable, (firstPath + stick + "ZJ000042|Stick").c_str(), 1);
    DongleRecord record{};
    DongleLink link;
    captureStdout([&] { ASSERT_EQ(1, findDongle(record, link)); });
    const DongleRecord before = record;
    setenv(virtualPortsVariable, c.entries.c_str(), 1);
    std::string trace = captureStdout([&] { EXPECT_EQ(c.found, findDongleAgain(record)) << c.what; });
    EXPECT_EQ("", trace) << c.what;
    EXPECT_STREQ(c.portName, record.portName) << c.what;
    EXPECT_EQ(c.found ? tempDir + "/" + c.portName : firstPath, record.devicePath) << c.what;
    EXPECT_EQ(0, std::memcmp(before.serial, record.serial, sizeof record.serial)) << c.what;
    EXPECT_EQ(0, std::memcmp(before.description, record.description, sizeof record.description)) << c.what;
    EXPECT_EQ(1, record.found) << c.what;
    EXPECT_EQ(-1, link.port.fd) << c.what;
  }
  DongleRecord never{};
  setenv(virtualPortsVariable, (backPath + stick).c_str(), 1);  // no stick found yet: nothing to find again
  EXPECT_EQ(0, findDongleAgain(never));
  EXPECT_STREQ("", never.portName);
}

TEST(DongleRecordText, FullFieldsAreCutNotOverrun) {
  struct Padded {
    DongleRecord record;
    char after[8];
  };
  Padded padded;
  std::memset(&padded, 'Q', sizeof padded);
  std::memset(padded.record.serial, 'S', sizeof padded.record.serial);
  std::memset(padded.record.description, 'D', sizeof padded.record.description);
  EXPECT_EQ(std::string(15, 'S'), dongleSerial(padded.record));
  EXPECT_EQ(std::string(63, 'D'), dongleDescription(padded.record));
  std::memcpy(padded.record.serial, "ZJ1\0", 4);
  EXPECT_EQ("ZJ1", dongleSerial(padded.record));
}

// What the listing reads back is what discovery wrote; anything else is no USB identity.
TEST(UsbInstanceId, FormatsUpperCaseHexCutsAndReadsBackWhatItWrites) {
  struct Case {
    const char* text;
    bool ok;
    unsigned vendor, product;
    const char* serial;
  };
  char written[64];
  formatUsbInstanceId(written, sizeof written, 0x10c4, 0xea60, "ZJ9");
  EXPECT_STREQ("USB\\VID_10C4&PID_EA60\\ZJ9", written);  // upper-case hex
  char small[10];
  formatUsbInstanceId(small, sizeof small, 0x10c4, 0x0003, "ZJ9");
  EXPECT_STREQ("USB\\VID_1", small);  // cut to the buffer
  const Case cases[] = {
      {written, true, 0x10c4, 0xea60, "ZJ9"},
      {"USB\\VID_abcd&PID_00Ef", true, 0xabcd, 0x00ef, nullptr},
      {"USB\\VID_10C4&PID_0003\\", true, 0x10c4, 0x0003, ""},
      {"USB\\VID_10C4&PID_003", false, 0, 0, nullptr},
      {"USB\\VID_10G4&PID_0003\\ZJ1", false, 0, 0, nullptr},
      {"usb\\vid_10C4&PID_0003\\ZJ1", false, 0, 0, nullptr},
      {"PCI\\VEN_8086", false, 0, 0, nullptr},
      {"", false, 0, 0, nullptr},
  };
  for (const Case& c : cases) {
    UsbInstanceId id;
    ASSERT_EQ(c.ok, parseUsbInstanceId(c.text, id)) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(c.vendor, id.vendorId) << c.text;
    EXPECT_EQ(c.product, id.productId) << c.text;
    if (c.serial == nullptr) EXPECT_EQ(nullptr, id.serial) << c.text;
    else EXPECT_STREQ(c.serial, id.serial) << c.text;
  }
}

}  // namespace

// The mock udev needs umockdev's preload library: start again under umockdev-run if it is missing.
int main(int argc, char** argv) {
  if (!umockdev_in_mock_environment()) {
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    std::vector<char*> args;
    args.push_back(const_cast<char*>("umockdev-run"));
    args.push_back(const_cast<char*>("--"));
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp("umockdev-run", args.data());
    std::perror("umockdev-run");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
