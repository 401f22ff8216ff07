// comPortIndex: the slot of a port name in a listed ComPortList.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <stdlib.h>

#include "serial/com_port_list.h"
#include "tests/support/test_env.h"

namespace {

std::unique_ptr<ComPortList> listOf(std::initializer_list<const char*> names) {
  auto list = std::make_unique<ComPortList>();
  std::memset(list.get(), 0, sizeof *list);
  for (const char* name : names) {
    std::strncpy(list->names[list->count], name, comPortNameSize - 1);
    ++list->count;
  }
  return list;
}

struct IndexCase {
  const char* name;
  int index;
};

TEST(ComPortIndex, FindsExactNamesOnly) {
  auto list = listOf({"COM10", "COM2", "ttyS0", "ttyUSB0"});
  const IndexCase cases[] = {
      {"COM10", 0}, {"COM2", 1}, {"ttyS0", 2}, {"ttyUSB0", 3},
      {"COM1", -1},     // a prefix of a listed name
      {"ttyUSB00", -1}, // a listed name is a prefix of it
      {"com2", -1},     // case matters, as in the list's own order
      {"", -1},
  };
  for (const IndexCase& c : cases) EXPECT_EQ(comPortIndex(*list, c.name), c.index) << c.name;
  EXPECT_EQ(comPortIndex(*list, nullptr), -1);
}

TEST(ComPortIndex, IgnoresSlotsBeyondTheCount) {
  auto list = listOf({"ttyA", "ttyB"});
  std::strcpy(list->names[2], "ttyC");  // left over from an earlier, longer list
  EXPECT_EQ(comPortIndex(*list, "ttyC"), -1);
  list->count = 0;
  EXPECT_EQ(comPortIndex(*list, "ttyA"), -1);
}

TEST(ComPortIndex, ACountAboveTheSlotsIsBounded) {
  auto list = listOf({"ttyA"});
  list->count = comPortSlots + 50;  // never read past the table
  EXPECT_EQ(comPortIndex(*list, "ttyA"), 0);
  EXPECT_EQ(comPortIndex(*list, "nowhere"), -1);
}

TEST(ComPortIndex, FindsAVirtualPortAfterListing) {
  // Virtual ports need no device behind them to be listed by name; the list is sorted first.
#ifdef _WIN32
  const char *first = "COM98", *second = "COM99";
  ASSERT_EQ(setTestEnv("QUARN_VIRTUAL_PORTS", "COM99;COM98"), 0);
#else
  const char *first = "ttyQA", *second = "ttyQB";
  ASSERT_EQ(setTestEnv("QUARN_VIRTUAL_PORTS", "/tmp/quarn-none/ttyQB;/tmp/quarn-none/ttyQA"), 0);
#endif
  auto list = std::make_unique<ComPortList>();
  listComPorts(*list);
  unsetTestEnv("QUARN_VIRTUAL_PORTS");
  const int a = comPortIndex(*list, first);
  const int b = comPortIndex(*list, second);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_LT(a, b);
  EXPECT_STREQ(comPortName(*list, a), first);
}

}  // namespace
