// Finding the USB wireless M-Bus dongle among the serial ports and opening its port.
#pragma once
#include <cstdint>
#include <string>

#include "serial/port_discovery.h"
#include "dongle/dongle_frame_reader.h"
#include "serial/serial_port.h"

constexpr int dongleSerialSize = 16;
constexpr int dongleDescriptionSize = 64;
constexpr int donglePortNameSize = 64;
constexpr int donglePathSize = 255;

// Silicon Labs CDC bridge, vendor 10C4 product 0003, as a device instance identifier prefix.
extern const char* const dongleInstancePrefix;
constexpr int dongleInstancePrefixLength = 22;
extern const char* const dongleSerialPrefix;  // "ZJ"

// The last recognised dongle; all zero at start. Text fields that fill their width carry no
// terminator: read them through dongleSerial / dongleDescription.
struct DongleRecord {
  int32_t found;
  char serial[dongleSerialSize];
  char description[dongleDescriptionSize];
  char portName[donglePortNameSize];
  char devicePath[donglePathSize];  // always terminated; what openDonglePort opens
};

enum DongleLinkMode : int { dongleLinkNone = 0, dongleLinkDongle = 1 };

struct DongleLink {
  DongleLinkMode mode = dongleLinkNone;  // becomes dongle when a dongle is recognised, never set back
  SerialPort port;
  DongleFrameReader reader;  // the frame under way between two wake-ups
};

// The stick's two tests: its vendor and product, and a serial beginning "ZJ".
bool isStickPort(const PortInfo& port);

// Searches udev and virtual ports for the dongle, tracing every step on standard output.
// Every match is examined; the last one whose port opens and whose serial begins "ZJ" is
// recorded. With wanted given (not empty), only the stick it names counts: its serial, its port
// name or its device path. Returns 1 when record.found is 1 afterwards.
int findDongle(DongleRecord& record, DongleLink& link, const char* wanted = nullptr);

// Whether port is a stick that wanted names: its serial, its port name or its device path.
bool isWantedStick(const PortInfo& port, const char* wanted);

// The sticks among the ports (vendor, product and a "ZJ" serial), without opening any and
// without tracing: up to capacity of them in sticks. Returns how many there are.
int listSticks(PortInfo* sticks, int capacity);
// Sticks a choice lists at most; more are counted but not listed.
constexpr int stickChoiceMax = 8;

// 1 when port is the recorded stick: the stick's vendor and product and the recorded serial
// (its first dongleSerialSize bytes, as the record holds it). 0 before any stick was found.
int isRecordedDongle(const DongleRecord& record, const PortInfo& port);

// After a hang-up: searches the ports as findDongle does, without tracing (the caller may
// search on every port that comes and says what came of it), for the recorded stick whose
// port opens; the last such wins. When found, only portName and devicePath change and 1 is
// returned; else the record stays as it was and 0 is returned.
int findDongleAgain(DongleRecord& record);

// In dongle mode: (re)opens the recorded port with the dongle profile. Returns 1 when open
// and configured; on failure traces the message, leaves the port closed and returns 0.
int openDonglePort(const DongleRecord& record, DongleLink& link);

// The serial, description and port name as text, cut to 15, 63 and 63 characters.
std::string dongleSerial(const DongleRecord& record);
std::string dongleDescription(const DongleRecord& record);
std::string donglePortName(const DongleRecord& record);

// Traces "COM port %s not found" or "Error opening COM port %s" for a failed open, followed by
// the fixable cause on a line of its own when there is one.
void traceOpenFailure(const char* portName, int error);
