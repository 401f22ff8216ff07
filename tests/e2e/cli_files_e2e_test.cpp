// The real quarn-cli meeting hostile output files, and ended by signals while it holds a port.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/sim_harness.h"

namespace {

const char* const simKey = "000102030405060708090A0B0C0D0E0F";

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The simulator's port listed for the runs started meanwhile: quarn-cli opens listed ports only.
struct Listed {
  explicit Listed(const SimProcess& sim) { setenv("QUARN_VIRTUAL_PORTS", sim.portEntry().c_str(), 1); }
  ~Listed() { unsetenv("QUARN_VIRTUAL_PORTS"); }
};

// Starts quarn-cli with its output in dir's out.txt and err.txt; with a file size limit when
// fsizeLimit > 0 (the limit's signal left at its default, as a shell leaves it).
pid_t startCli(const TempDir& dir, std::vector<std::string> args, rlim_t fsizeLimit = 0) {
  args.insert(args.begin(), QUARN_CLI_PATH);
  const std::string out = dir.path() + "/out.txt", err = dir.path() + "/err.txt";
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(126);
  if (fsizeLimit > 0) {
    const rlimit limit{fsizeLimit, fsizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// The exit code, or 128 + the signal that ended it; -1 when it is still running after 10 s.
int waitCli(pid_t pid) {
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// The kinds of path a user may hand to a file the run writes by mistake, or another account on
// purpose; input: a file the same run reads (the key file, the site plan).
enum class Kind { fifo, symlink, device, directory, input, fileTooLarge };

// Every command that writes a file, and how it says it refused one ("OUT" the path, "KIND" what it is).
struct Writer {
  const char* name;
  std::vector<std::string> args;  // "OUT" the path; "PORT", "PLAN", "KEYFILE", "TEMPLATE" as below
  const char* refusal;
};

const Writer writers[] = {
    {"--log", {"--key-file", "KEYFILE", "--port", "PORT", "--log", "OUT", "identify"}, "cannot open log file OUT: KIND"},
    {"export", {"--key-file", "KEYFILE", "--port", "PORT", "export", "OUT"}, "cannot write OUT: KIND; not replaced"},
    {"site apply --report", {"--template", "TEMPLATE", "--report", "OUT", "site", "apply", "PLAN"},
     "--report OUT: KIND; nothing was sent"},
    {"site apply --log", {"--template", "TEMPLATE", "--log", "OUT", "site", "apply", "PLAN"},
     "cannot open log file OUT: KIND"},
    {"site verify --report", {"--report", "OUT", "site", "verify", "PLAN"}, "--report OUT: KIND; nothing was sent"},
    {"site export --report", {"--report", "OUT", "site", "export", "PLAN"}, "--report OUT: KIND; nothing was sent"},
};

const char* kindText(Kind kind) {
  switch (kind) {
    case Kind::fifo: return "a FIFO";
    case Kind::symlink: return "a symbolic link";
    case Kind::device: return "a device";
    case Kind::directory: return "a directory";
    case Kind::input: return "a file this run reads";
    case Kind::fileTooLarge: break;
  }
  return "";
}

// Makes the entry; the device is /dev/full, or a private node of it where root may make one
// (so that a fault here could never destroy the system's own).
std::string makeEntry(const TempDir& dir, Kind kind, const std::string& input) {
  const std::string path = dir.path() + "/out";
  switch (kind) {
    case Kind::fifo: return mkfifo(path.c_str(), 0600) == 0 ? path : "";
    case Kind::symlink:
      return symlink((dir.write("target", "kept\n")).c_str(), path.c_str()) == 0 ? path : "";
    case Kind::device:
      if (geteuid() != 0) return "/dev/full";
      return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0 ? path : "";
    case Kind::directory: return mkdir(path.c_str(), 0700) == 0 ? path : "";
    case Kind::input: return input;
    case Kind::fileTooLarge: return dir.write("log.txt", std::string(1024, 'x'));
  }
  return "";
}

void replaceIn(std::vector<std::string>& args, const std::string& from, const std::string& to) {
  for (std::string& a : args)
    if (a == from) a = to;
}

// Every file a command writes, against every kind of path it must refuse: refused before anything
// is sent, the entry left as it was, never a hang.
TEST(CliFiles, EveryWriterRefusesWhatItMustNotReplaceBeforeAnythingIsSent) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const Listed listed(sim);
  for (const Writer& writer : writers)
    for (Kind kind : {Kind::fifo, Kind::symlink, Kind::device, Kind::directory, Kind::input}) {
      SCOPED_TRACE(std::string(writer.name) + " to " + kindText(kind));
      TempDir dir;
      ASSERT_EQ(mkdir((dir.path() + "/meterKeys").c_str(), 0700), 0);
      dir.write("meterKeys/meters.txt", "m;11110002;00112233445566778899AABBCCDDEEF2\n");
      const std::string keyFile = dir.write("own.key", std::string(simKey) + "\n");
      chmod(keyFile.c_str(), 0600);
      const std::string plan = dir.write("plan.csv", "converter,link,key,slot1\n12345678," + sim.linkPath() + "," +
                                                         simKey + ",11110002\n");
      const bool site = writer.args.back() == "PLAN";
      const std::string path = makeEntry(dir, kind, site ? plan : keyFile);
      ASSERT_FALSE(path.empty()) << std::strerror(errno);
      struct stat before {};
      ASSERT_EQ(lstat(path.c_str(), &before), 0);
      const std::string contentBefore = kind == Kind::input ? fileText(path) : "";
      const size_t sentBefore = sim.transcript().size();
      std::vector<std::string> args = writer.args;
      replaceIn(args, "OUT", path);
      replaceIn(args, "PORT", sim.linkPath());
      replaceIn(args, "PLAN", plan);
      replaceIn(args, "KEYFILE", keyFile);
      replaceIn(args, "TEMPLATE", std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/good.json");
      args.insert(args.begin(), {"--home", dir.path()});
      const int code = waitCli(startCli(dir, args));
      EXPECT_EQ(code, 1) << "no hang, no signal, no success";
      std::string message = writer.refusal;
      message.replace(message.find("OUT"), 3, path);
      message.replace(message.find("KIND"), 4, kindText(kind));
      const std::string err = fileText(dir.path() + "/err.txt");
      EXPECT_NE(err.find(message), std::string::npos) << err;
      EXPECT_EQ(err.find(message), err.rfind(message)) << "told once: " << err;
      EXPECT_EQ(sim.transcript().size(), sentBefore);
      // The entry is what it was: not replaced, not followed, nothing added.
      struct stat after {};
      ASSERT_EQ(lstat(path.c_str(), &after), 0);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_size, before.st_size);
      if (kind == Kind::input) {
        EXPECT_EQ(fileText(path), contentBefore);
      }
      if (kind == Kind::symlink) {
        EXPECT_EQ(fileText(dir.path() + "/target"), "kept\n");
      }
      if (kind == Kind::directory) rmdir(path.c_str());
    }
}

// A log that fills up is told with what the command itself did, in the JSON too.
TEST(CliFiles, LogBeyondTheSizeLimitIsReportedWithTheOutcome) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const Listed listed(sim);
  for (bool json : {false, true}) {
    TempDir dir;
    const std::string path = makeEntry(dir, Kind::fileTooLarge, "");
    std::vector<std::string> args = {"--home", dir.path(), "--port", sim.linkPath(), "--key", simKey};
    if (json) args.push_back("--json");
    args.insert(args.end(), {"--log", path, "identify"});
    EXPECT_EQ(waitCli(startCli(dir, args, 1024)), 1);
    const std::string message = "log file " + path +
                                ": write failed after 0 bytes (File too large); the log is incomplete; the command "
                                "itself succeeded";
    const std::string err = fileText(dir.path() + "/err.txt");
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(err.find(message), err.rfind(message)) << "told once: " << err;
    if (json) {
      const nlohmann::json out = nlohmann::json::parse(fileText(dir.path() + "/out.txt"), nullptr, false);
      ASSERT_TRUE(out.is_object()) << fileText(dir.path() + "/out.txt");
      EXPECT_EQ(out.value("ok", true), false);
      EXPECT_EQ(out.value("exitCode", 0), 1);
      EXPECT_EQ(out.value("error", ""), message);
    }
  }
}

TEST(CliFiles, LogIsCreatedPrivateAndAReaderThatWentAwayIsReported) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const Listed listed(sim);
  TempDir dir;
  const std::string log = dir.path() + "/new-log.txt";
  const mode_t mask = umask(022);
  const int code = waitCli(
      startCli(dir, {"--home", dir.path(), "--port", sim.linkPath(), "--key", simKey, "--log", log, "identify"}));
  umask(mask);
  EXPECT_EQ(code, 0) << fileText(dir.path() + "/err.txt");
  struct stat info {};
  ASSERT_EQ(stat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(fileText(log).find(">>> REQ_UD2"), std::string::npos);

  // Standard output a pipe nobody reads: a message and exit 1, not death by SIGPIPE.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    const int errFd = open((dir.path() + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(errFd, 2);
    execl(QUARN_CLI_PATH, QUARN_CLI_PATH, "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  EXPECT_EQ(waitCli(pid), 1);
  EXPECT_NE(fileText(dir.path() + "/err.txt").find("standard output: write failed (Broken pipe)"), std::string::npos);
}

// A site run's JSON carries the exit code of the process, also when only the log failed.
TEST(CliFiles, SiteJsonTellsTheExitCodeALostLogGave) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const Listed listed(sim);
  TempDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/meterKeys").c_str(), 0700), 0);
  dir.write("meterKeys/meters.txt", "m;11110002;00112233445566778899AABBCCDDEEF2\n");
  const std::string plan = dir.write("plan.csv", "converter,link,slot1\n12345678," + sim.linkPath() + ",11110002\n");
  // Full at the limit, which leaves room for the JSON and standard error.
  constexpr rlim_t limit = 65536;
  const std::string log = dir.write("log.txt", std::string(limit, 'x'));
  const int code = waitCli(startCli(dir, {"--home", dir.path(), "--key", simKey, "--template",
                                          std::string(QUARN_SOURCE_DIR) + "/tests/data/settings/good.json", "--json",
                                          "--log", log, "site", "apply", plan},
                                    limit));
  const std::string err = fileText(dir.path() + "/err.txt");
  EXPECT_EQ(code, 1) << err;
  EXPECT_NE(err.find("write failed after 0 bytes (File too large); the log is incomplete; the command itself succeeded"),
            std::string::npos) << err;
  const nlohmann::json out = nlohmann::json::parse(fileText(dir.path() + "/out.txt"), nullptr, false);
  ASSERT_TRUE(out.is_object()) << fileText(dir.path() + "/out.txt");
  EXPECT_EQ(out.value("exitCode", 0), 1);
  EXPECT_EQ(out["converters"][0].value("status", ""), "done");
}

// Whether the port behind the link is left exclusive: TIOCGEXCL tells even root, whom the flag
// does not stop.
int exclusiveFlag(const std::string& link) {
  const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -errno;
  int flag = -1;
  if (ioctl(fd, TIOCGEXCL, &flag) != 0) flag = -1;
  close(fd);
  return flag;
}

TEST(CliSignals, APortIsUsableAgainAfterTheCliIsEndedBySignal) {
  SimProcess sim("wired", {});
  ASSERT_TRUE(sim.running()) << sim.failure();
  const Listed listed(sim);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signalNumber));
    TempDir dir;
    // A wrong key: the converter refuses Get Data, and the CLI waits out its long bound.
    const size_t refusedBefore = sim.transcriptMatching({"refused"}).size();
    const pid_t pid = startCli(dir, {"--home", dir.path(), "--port", sim.linkPath(), "--key",
                                     "FF0102030405060708090A0B0C0D0E0F", "--timeout", "60", "get", "1"});
    ASSERT_TRUE(tickUntil([] {}, [&] { return sim.transcriptMatching({"refused"}).size() > refusedBefore; }))
        << fileText(dir.path() + "/err.txt");
    kill(pid, signalNumber);
    EXPECT_EQ(waitCli(pid), 128 + signalNumber) << "ended by the signal itself";
    EXPECT_EQ(exclusiveFlag(sim.linkPath()), 0);
    // The next run, by the same ordinary account, opens the port.
    const int code = waitCli(startCli(dir, {"--home", dir.path(), "--port", sim.linkPath(), "--key", simKey, "identify"}));
    EXPECT_EQ(code, 0) << fileText(dir.path() + "/err.txt");
  }
}

}  // namespace
