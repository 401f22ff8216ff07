// Setting a fresh port list against the last one: the adds and removes the Windows device
// monitor reports after WM_DEVICECHANGE.
#include "serial/port_list_diff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

PortInfo port(const char* name, const char* instanceId = "") {
  PortInfo info;
  std::memset(&info, 0, sizeof info);
  std::snprintf(info.name, sizeof info.name, "%s", name);
  std::snprintf(info.devicePath, sizeof info.devicePath, "\\\\.\\%s", name);
  std::snprintf(info.instanceId, sizeof info.instanceId, "%s", instanceId);
  return info;
}

WatchedPorts listOf(std::initializer_list<const char*> names) {
  static WatchedPorts list;
  list.count = 0;
  for (const char* name : names) addWatchedPort(list, port(name));
  return list;
}

std::string eventsText(const DeviceEvent* events, int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += std::string(events[i].kind == deviceAdded ? "+" : "-") + events[i].port.name + " ";
  return text;
}

}  // namespace

TEST(PortListDiff, RemovesComeBeforeAddsAndTheKnownListFollows) {
  struct Case {
    std::initializer_list<const char*> before, after;
    const char* events;
  };
  const Case cases[] = {
      {{"COM1", "COM6"}, {"COM1", "COM6"}, ""},
      {{"COM1", "COM6"}, {"COM1"}, "-COM6 "},
      {{"COM1"}, {"COM1", "COM6"}, "+COM6 "},
      {{"COM1", "COM6"}, {"COM7", "COM1"}, "-COM6 +COM7 "},  // order of listing does not matter
      {{}, {"COM3", "COM4"}, "+COM3 +COM4 "},
  };
  for (const Case& c : cases) {
    static WatchedPorts known;
    known = listOf(c.before);
    const WatchedPorts now = listOf(c.after);
    DeviceEvent events[deviceEventsPerRead];
    const int count = diffWatchedPorts(known, now, events, deviceEventsPerRead);
    EXPECT_EQ(eventsText(events, count), c.events);
    // A second look at the same list finds nothing more.
    EXPECT_EQ(diffWatchedPorts(known, now, events, deviceEventsPerRead), 0) << c.events;
  }
}

TEST(PortListDiff, WhatDoesNotFitComesOutOfTheNextCall) {
  static WatchedPorts known;
  known = listOf({"COM1", "COM2"});
  const WatchedPorts now = listOf({"COM3", "COM4"});
  DeviceEvent events[2];
  ASSERT_EQ(diffWatchedPorts(known, now, events, 2), 2);
  EXPECT_EQ(eventsText(events, 2), "-COM1 -COM2 ");
  ASSERT_EQ(diffWatchedPorts(known, now, events, 2), 2);
  EXPECT_EQ(eventsText(events, 2), "+COM3 +COM4 ");
  EXPECT_EQ(diffWatchedPorts(known, now, events, 2), 0);
}

TEST(PortListDiff, AVirtualEntryLendsItsIdentityToTheSystemPortOfItsPath) {
  static WatchedPorts now;
  now.count = 0;
  addWatchedPort(now, port("COM7", "\\Device\\Serial6"));
  EXPECT_EQ(lendIdentity(now, port("COM7", "USB\\VID_10C4&PID_0003\\ZJ000042")), 1);
  EXPECT_EQ(lendIdentity(now, port("COM8", "USB\\VID_10C4&PID_0003\\ZJ000043")), 0);  // not listed: stays out
  ASSERT_EQ(now.count, 1);
  EXPECT_STREQ(now.ports[0].instanceId, "USB\\VID_10C4&PID_0003\\ZJ000042");
  static WatchedPorts known;
  known.count = 0;
  DeviceEvent events[deviceEventsPerRead];
  ASSERT_EQ(diffWatchedPorts(known, now, events, deviceEventsPerRead), 1);
  EXPECT_STREQ(events[0].port.instanceId, "USB\\VID_10C4&PID_0003\\ZJ000042");  // the stick is recognised
}

TEST(PortListDiff, AFullListKeepsWhatItHas) {
  static WatchedPorts list;
  list.count = 0;
  char name[16];
  for (int i = 0; i < watchedPortsMax; ++i) {
    std::snprintf(name, sizeof name, "COM%d", i + 1);
    ASSERT_EQ(addWatchedPort(list, port(name)), 1);
  }
  EXPECT_EQ(addWatchedPort(list, port("COM200")), 0);
  EXPECT_EQ(addWatchedPort(list, port("COM1")), 1);  // already there
  EXPECT_EQ(list.count, watchedPortsMax);
}
