// The quarn program as a user starts it, next to quarn-sim: the connection dialog and the port
// dialog answered through the X server with xdotool (a click on "Wired connection", OK, the
// simulated port picked in the list, "Connect"), the answer checked from the simulator's side,
// screenshots of the settings page and the log saved in the build folder, Reconnect from the
// menu (a second open of the same port), then Ctrl+Q. The wireless run picks the default,
// waits for the converter's beacons and chooses it in the partner dialog. Each run has an X
// server of its own.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "private_display.h"
#include "serial/com_port_list.h"
#include "sim_harness.h"

namespace {

// Where the widgets sit in their windows; the layout is fixed by the program's sizes.
constexpr int wiredRadioX = 30, wiredRadioY = 69;        // connection dialog
constexpr int portListX = 120, portListY = 28;           // port dialog
constexpr int logTabX = 131, logTabY = 44;               // main window
constexpr int findConverterX = 747, findConverterY = 114; // main window
constexpr int wiredMenuX = 320, wiredMenuY = 12;    // "Wired connection options"
constexpr int reconnectItemX = 325, reconnectItemY = 52;  // "Reconnect COM port"

// Screenshots and traces go to QUARN_TEST_OUTPUT when set (an unprivileged run cannot write
// into a build folder that root made), else to the build folder.
std::string outputPath(const std::string& name) {
  const char* folder = std::getenv("QUARN_TEST_OUTPUT");
  return std::string(folder != nullptr && *folder != '\0' ? folder : QUARN_BINARY_DIR) + "/" + name;
}

// The first visible window with exactly this title, waiting up to ten seconds. xdotool's --sync
// search gives up at once when a window it looks at is destroyed meanwhile (a dialog closing as
// the next one opens), so the search is repeated until the ten seconds pass.
std::string findWindow(const std::string& title) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string found;
  while (found.empty() && std::chrono::steady_clock::now() < until) {
    found = runCommand("timeout 10 xdotool search --sync --onlyvisible --name '^" + title + "$' 2>/dev/null");
    if (found.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return found.substr(0, found.find('\n'));
}

bool windowShown(const std::string& title) {
  return !runCommand("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null").empty();
}

void key(const std::string& window, const std::string& keys) {
  runCommand("xdotool windowfocus --sync " + window + " 2>/dev/null; xdotool key " + keys + " 2>/dev/null");
}

void clickAt(const std::string& window, int x, int y, int button = 1) {
  runCommand("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
      " click " + std::to_string(button) + " 2>/dev/null");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// A menu item takes the click only once the pointer has moved onto it: a warp alone enters no
// item, so the pointer comes in from just beside it.
void pickMenuItem(const std::string& window, int x, int y) {
  runCommand("xdotool mousemove --window " + window + " " + std::to_string(x - 1) + " " + std::to_string(y - 2) +
      " sleep 0.2 mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
      " sleep 0.2 click 1 2>/dev/null");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

bool waitFor(const std::function<bool()>& done, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 50) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The quarn program in a scratch folder with a scratch HOME, its output kept in a file.
struct QuarnProcess {
  pid_t pid = 0;
  TempDir dir;
  std::string tracePath;

  bool start(const std::string& trace) {
    tracePath = trace;
    const std::string home = dir.path() + "/home";
    if (mkdir(home.c_str(), 0755) != 0) return false;
    const int error = spawnProgram(QUARN_BINARY_DIR "/app/quarn", dir.path(), home, tracePath, pid);
    if (error != 0) pid = 0;
    return error == 0;
  }

  bool alive() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

  // Ctrl+Q in the main window; true when the program ended with status 0.
  bool quit(const std::string& window) {
    key(window, "ctrl+q");
    int status = 0;
    if (!waitForExit(pid, status, 5000)) return false;
    pid = 0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  ~QuarnProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

void screenshot(const std::string& name) {
  const std::string path = outputPath(name);
  runCommand("import -window root '" + path + "' 2>/dev/null");
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  EXPECT_GT(st.st_size, 10000) << path;
}

class SmokeTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(std::system("command -v xdotool >/dev/null && command -v import >/dev/null"), 0)
        << "xdotool and ImageMagick's import are needed";
    ASSERT_TRUE(display.start()) << "Xvfb did not start";
    setenv("DISPLAY", display.name.c_str(), 1);
  }
  void TearDown() override { unsetenv("QUARN_VIRTUAL_PORTS"); }

  PrivateDisplay display;
};

// Starts quarn, chooses the wired link and the simulator's port, and waits for its REQ_UD2.
void startWiredRun(SimProcess& sim, QuarnProcess& quarn, const std::string& trace) {
  ASSERT_TRUE(sim.running()) << sim.failure();
  setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1);
  // Where the simulated port sits among the system's own ports in the sorted list.
  auto ports = std::make_unique<ComPortList>();
  listComPorts(*ports);
  const int index = comPortIndex(*ports, "ttySIM0");
  ASSERT_GE(index, 0);

  ASSERT_TRUE(quarn.start(outputPath(trace)));
  const std::string choice = findWindow("Select wired or wireless operation.");
  ASSERT_FALSE(choice.empty()) << "no connection dialog";
  clickAt(choice, wiredRadioX, wiredRadioY);
  key(choice, "Return");

  const std::string portDialog = findWindow("Select wired parameters.");
  ASSERT_FALSE(portDialog.empty()) << "no port dialog after choosing wired";
  EXPECT_FALSE(windowShown("Select wired or wireless operation."));
  for (int i = 0; i < index; ++i) clickAt(portDialog, portListX, portListY, 5);  // wheel down
  // Named after the run: two wired runs may take their screenshots at the same moment.
  screenshot(trace.substr(0, trace.rfind("-trace")) + "-port-dialog.png");
  key(portDialog, "Return");

  ASSERT_TRUE(waitFor([&] { return sim.transcriptMatching({"REQ_UD2", "105BFB5616", "accepted"}).size() == 1; },
                      5000))
      << "quarn-sim saw no REQ_UD2";
}

TEST_F(SmokeTest, WiredRunAsAUserDrivesIt) {
  SimProcess sim("wired", {});
  QuarnProcess quarn;
  startWiredRun(sim, quarn, "smoke-wired-trace.txt");
  if (HasFatalFailure()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // time for the answer to arrive and be shown
  EXPECT_TRUE(quarn.alive());
  EXPECT_FALSE(windowShown("Quarn"));  // no error box
  EXPECT_FALSE(windowShown("Select wired parameters."));
  const std::string main = findWindow("Quarn v1.3.0");
  ASSERT_FALSE(main.empty());
  screenshot("smoke-wired.png");
  clickAt(main, logTabX, logTabY);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  screenshot("smoke-wired-log.png");

  // Reconnect closes and opens the same port again: a normal user's second open must work.
  clickAt(main, wiredMenuX, wiredMenuY);
  pickMenuItem(main, reconnectItemX, reconnectItemY);
  const std::string reconnected = findWindow("Information");
  ASSERT_FALSE(reconnected.empty()) << "no box after Reconnect COM port";
  EXPECT_FALSE(windowShown("Quarn")) << "Reconnect failed with an error box";
  key(reconnected, "Return");
  EXPECT_TRUE(waitFor([&] { return sim.transcriptMatching({"REQ_UD2", "105BFB5616", "accepted"}).size() == 2; },
                      5000))
      << "no second REQ_UD2 after Reconnect";

  EXPECT_TRUE(quarn.quit(main)) << "Ctrl+Q did not end the program cleanly";
  // A wired run never looks for the dongle.
  EXPECT_EQ(fileText(quarn.tracePath).find("Silabs CDC found."), std::string::npos);
}

// Ended by a signal, the window lets go of its port: the flag that locks out every other
// account is cleared (TIOCGEXCL tells root too), and the process ends by that signal.
TEST_F(SmokeTest, SigtermLeavesThePortUsable) {
  SimProcess sim("wired", {});
  QuarnProcess quarn;
  startWiredRun(sim, quarn, "smoke-sigterm-trace.txt");
  if (HasFatalFailure()) return;
  ASSERT_EQ(kill(quarn.pid, SIGTERM), 0);
  int status = 0;
  ASSERT_TRUE(waitForExit(quarn.pid, status, 5000));
  quarn.pid = 0;
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  const int fd = open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0) << std::strerror(errno) << ": the next open by this account";
  int exclusive = -1;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  close(fd);
}

TEST_F(SmokeTest, WirelessRunFindsTheStickAndChoosesThePartner) {
  SimProcess sim("dongle", {"--beacon-ms", "200"});
  ASSERT_TRUE(sim.running()) << sim.failure();
  setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1);

  QuarnProcess quarn;
  ASSERT_TRUE(quarn.start(outputPath("smoke-wireless-trace.txt")));
  const std::string choice = findWindow("Select wired or wireless operation.");
  ASSERT_FALSE(choice.empty()) << "no connection dialog";
  key(choice, "Return");  // wireless is the default

  ASSERT_TRUE(waitFor([&] { return sim.transcriptMatching({"dongle 0xAB", "AB0000", "accepted"}).size() == 1; },
                      5000))
      << "the stick was not asked with AB 00 00";
  EXPECT_NE(fileText(quarn.tracePath).find("Found one instance, serial: [ZJ000042]"), std::string::npos);
  EXPECT_FALSE(windowShown("USB wireless MBUS dongle not found!"));
  EXPECT_FALSE(windowShown("Select wired parameters."));
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // beacons: the converter is heard

  const std::string main = findWindow("Quarn v1.3.0");
  ASSERT_FALSE(main.empty());
  clickAt(main, findConverterX, findConverterY);
  const std::string partner = findWindow("Select wireless partner.");
  ASSERT_FALSE(partner.empty()) << "no partner dialog after Find converter";
  screenshot("smoke-partner-dialog.png");
  key(partner, "Return");  // "Select" with the one converter heard
  ASSERT_TRUE(waitFor([&] { return sim.transcriptMatching({"dongle 0x01", "0108008F19785634120136"}).size() == 1; },
                      5000))
      << "the partner frame did not reach the stick";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(quarn.alive());
  screenshot("smoke-wireless.png");
  clickAt(main, logTabX, logTabY);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  screenshot("smoke-wireless-log.png");
  EXPECT_TRUE(quarn.quit(main)) << "Ctrl+Q did not end the program cleanly";
}

}  // namespace
