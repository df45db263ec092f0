// portflash-cli against portflash-sim over real pseudo-terminals: what only the
// program adds to the engine (exit status, its texts, Ctrl-C, the port put back).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

// The line right under message 121, or "<none>" when the message is not there.
std::string ReasonLine(const std::string& out) {
  const std::size_t at = out.find(kOpenFailed + "\n");
  if (at == std::string::npos) return "<none>";
  const std::string rest = out.substr(at + kOpenFailed.size() + 1);
  return rest.substr(0, rest.find('\n'));
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndHelpNamesTheOptions) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--bogus", "a.bin"},
                                             {"--json", "--speed", "9600", "a.bin"},
                                             {"--cable", "rs232", "a.bin"},
                                             {"--port"},
                                             {"a.bin", "b.bin"},
                                             {"--list-ports", "a.bin"}}) {
    const RunResult run = RunCli(args);
    EXPECT_EQ(run.status, 2) << args.size() << Describe(run);
    EXPECT_TRUE(Contains(run.err, "usage: portflash-cli")) << Describe(run);
    EXPECT_EQ(run.out, "");
  }
  const RunResult help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"--port", "--speed", "--cable", "--loader", "--yes", "--json",
                           "--list-ports", "\"Ports\"", "\"LDR Filename\"", "Exit status", "130"})
    EXPECT_TRUE(Contains(help.out, part)) << part;
}

// Refused before the port is touched (113, 120, 126), or the port does not open
// (121, with the reason on the line under it).
TEST_F(CliTest, RefusalsExitWithOneAndTheirMessage) {
  const std::string file = temp_ / "regular-file";
  ASSERT_TRUE(WriteFile(file, "not a tty\n"));
  fs::create_directories(temp_ / "dir");
  fs::copy_file(Sample().Agent(), temp_ / "zzz-agent.bin");
  const std::string noBin = "Unable to find the bin file specified. Please check and try again";
  const std::string noLoader = "No Loader file found for agent filename";
  struct Case {
    std::vector<std::string> args;
    std::string message;
    std::string reason{};  // for 121: the exact line, or "" for any
  };
  const std::vector<Case> cases = {
      {{"--port", file, ""}, "No filename given. Please enter a bin file name before continuing"},
      {{"--port", file, "images/missing.bin"}, noBin},
      {{"--port", file, temp_ / "dir"}, noBin},
      {{"--port", file, temp_ / "zzz-agent.bin"}, noLoader},
      {{"--port", file, "--loader", temp_ / "none.ldr", Sample().Agent()}, noLoader},
      {Download(file, {}), kOpenFailed},
      {Download(temp_ / "dir", {}), kOpenFailed},
      {Download(temp_ / "gone", {}), kOpenFailed,
       "The device " + temp_ / "gone" + " does not exist."},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--yes");
    const RunResult run = RunCli(args);
    EXPECT_EQ(run.status, 1) << c.message << Describe(run);
    EXPECT_TRUE(Contains(run.out, c.message)) << Describe(run);
    EXPECT_FALSE(Contains(run.out, kPowerOff)) << Describe(run);
    if (c.message != kOpenFailed) continue;
    const std::string reason = ReasonLine(run.out);
    EXPECT_TRUE(c.reason.empty() ? !reason.empty() : reason == c.reason) << Describe(run);
  }
  EXPECT_EQ(ReadFile(file), "not a tty\n");
}

class CliDownloadTest : public CliTest,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {
};

TEST_P(CliDownloadTest, UnitGetsBothImagesAndThePortIsPutBack) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string before = PortSettings(sim.Device());
  const RunResult run = RunCli(
      Download(sim.Device(), {"--yes", "--speed", GetParam().first, "--cable", GetParam().second}));
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  EXPECT_TRUE(Contains(run.out, kPowerOff) && Contains(run.out, kSuccess)) << Describe(run);
  EXPECT_EQ(PortSettings(sim.Device()), before);
  // The loader goes from its skip offset, the agent whole.
  const std::string loader = ReadFile(Sample().Loader());
  const std::string sent = ReadFile(sim.File("loader.out"));
  ASSERT_TRUE(!sent.empty() && sent.size() <= loader.size()) << sim.Log();
  const std::size_t skip = loader.size() - sent.size();
  EXPECT_EQ(sent, loader.substr(skip));
  EXPECT_TRUE(Contains(run.out, "(from byte " + std::to_string(skip) + ")")) << Describe(run);
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));
}

INSTANTIATE_TEST_SUITE_P(SpeedsAndCables, CliDownloadTest,
                         ::testing::Values(std::pair{"115200", "txrx"}, std::pair{"19200", "all"}));

// Installed: COM1 through "Ports", the loader through "LDR Filename" beside the
// program, Enter at the power-off request.
TEST_F(CliTest, ProfileFindsPortAndLoaderBesideTheProgram) {
  SimProcess sim(kSim, {"--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  fs::create_directories(temp_ / "prog/loaders");
  const std::string program = temp_ / "prog/portflash-cli";
  fs::copy_file(kCli, program);
  fs::copy_file(Sample().Loader(), temp_ / "prog/loaders/kvr.ldr");
  WriteProfile("[Ports]\nCOM1=" + sim.Device() + "\n");

  ChildProcess::Options options = Cli({"images/kvr-agent.bin"}, program);
  options.stdinText = "\n";
  options.keepStdinOpen = true;  // only the Enter may let it go on
  RunResult run = RunToEnd(options);
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  EXPECT_TRUE(Contains(run.out, "COM1 (" + sim.Device() + ")")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, temp_ / "prog/loaders/kvr.ldr")) << Describe(run);
  EXPECT_TRUE(Contains(run.err, "Press Enter") && Contains(run.out, kSuccess)) << Describe(run);
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));

  // An upper-case name finds the lower-case entry; a COM name not in "Ports" is ttyS.
  fs::copy_file(Sample().Agent(), temp_ / "KVR-AGENT.BIN");
  run = RunToEnd(Cli({"--yes", "--port", "COM9", temp_ / "KVR-AGENT.BIN"}, program));
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_TRUE(Contains(run.out, temp_ / "prog/loaders/kvr.ldr")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "COM9 (/dev/ttyS8)") && Contains(run.out, kOpenFailed))
      << Describe(run);
}

// The loader's message file replaces the built-in texts; a code it lacks gets the fallback.
TEST_F(CliTest, UnitCodeShowsTheMessageFileTextOrTheFallback) {
  fs::create_directories(temp_ / "loaders");
  fs::copy_file(Sample().Loader(), temp_ / "loaders/kvr.ldr");
  ASSERT_TRUE(WriteFile(temp_ / "loaders/kvr.err", "[ErrorFile]\n13 Board not recognised\n"));
  for (const auto& [code, text] : {std::pair{"13", "Board not recognised"},
                                   std::pair{"14", "ERROR: Unknown Result code = 000e"}}) {
    SimProcess sim(kSim, {"--loader-code", code});
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    const RunResult run = RunCli(
        {"--yes", "--port", sim.Device(), "--loader", temp_ / "loaders/kvr.ldr", Sample().Agent()});
    EXPECT_EQ(run.status, 1) << Describe(run);
    EXPECT_TRUE(Contains(run.out, text)) << Describe(run);
  }
}

// Ctrl-C is the wizard's Cancel: no outcome, the port put back, status 130.
TEST_F(CliTest, CtrlCCancelsAtOnceInEveryWait) {
  struct Case {
    std::vector<std::string> sim, cli;
    std::string waitFor;
  };
  const std::vector<Case> cases = {
      {{}, {}, "Press Enter"},  // nobody answers the power-off request
      {{"--pace"}, {"--yes", "--speed", "19200"}, "% Done"},
      // The unit expects a longer loader, so it never answers this one.
      {{"--expect-loader", kCli}, {"--yes"}, "Waiting for device to complete..."},
  };
  for (const Case& c : cases) {
    SimProcess sim(kSim, c.sim);
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    const std::string before = PortSettings(sim.Device());
    std::chrono::milliseconds took{};
    const RunResult run = Interrupt(Download(sim.Device(), c.cli), c.waitFor, &took);
    EXPECT_EQ(run.status, 130) << c.waitFor << Describe(run);
    EXPECT_LT(took, 3s) << c.waitFor;
    EXPECT_TRUE(Contains(run.out, kCancelled)) << Describe(run);
    for (const char* outcome : {"Update completed", "Timeout", "Failed to", "ERROR:"})
      EXPECT_FALSE(Contains(run.out, outcome)) << Describe(run);
    EXPECT_EQ(PortSettings(sim.Device()), before) << c.waitFor;
    // Nothing goes to the unit before the request is answered.
    if (c.cli.empty()) {
      EXPECT_FALSE(Contains(run.err, "Please Power on")) << Describe(run);
    }
  }
}

TEST_F(CliTest, ListPortsShowsTheComNamesThenThePresentDevices) {
  WriteProfile("[Ports]\nCOM2=/dev/ttyUSB9\n");
  const RunResult run = RunCli({"--list-ports"});
  ASSERT_EQ(run.status, 0) << Describe(run);
  std::istringstream in(run.out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u) << run.out;
  EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 4),
            (std::vector<std::string>{"COM1 - /dev/ttyS0", "COM2 - /dev/ttyUSB9",
                                      "COM3 - /dev/ttyS2", "COM4 - /dev/ttyS3"}));
  // Then the character devices present, path first, each once, none a COM name's.
  for (std::size_t i = 4; i < lines.size(); ++i) {
    const std::string path = lines[i].substr(0, lines[i].find(" - "));
    struct stat info {};
    EXPECT_TRUE(stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) << lines[i];
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[i]), 1) << lines[i];
    EXPECT_NE(path, "/dev/ttyS0");
  }
}

// Another kind of program holds the port's lock; the reason names it, not the
// simulator that also has the line open.
TEST_F(CliTest, PortLockedByAnotherProgramNamesIt) {
  SimProcess sim(kSim, {"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(
      Command({"/bin/sh", "-c", "exec 9<>\"$0\" && flock -n 9 && echo locked && exec sleep 30",
               sim.Device()})));
  ASSERT_TRUE(holder.WaitForOutput("locked", 10s)) << holder.Stderr();
  const RunResult run = RunCli(Download(sim.Device()));
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(ReasonLine(run.out), sim.Device() + " is in use by another program (sleep, process " +
                                     std::to_string(holder.Pid()) + ").");
}

// As root the CLI runs as nobody on a dialout device; otherwise the device is closed
// to its owner, and the reason names the pty's own group.
TEST_F(CliTest, DeviceTheUserMayNotOpenNamesTheGroupAndTheCommand) {
  SimProcess sim(kSim, {"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string device = sim.Device();
  std::vector<std::string> argv = {kCli};
  struct stat info {};
  ASSERT_EQ(stat(device.c_str(), &info), 0);
  const group* owner = getgrgid(info.st_gid);
  if (geteuid() == 0) {
    owner = getgrnam("dialout");
    if (owner == nullptr || access("/usr/bin/setpriv", X_OK) != 0)
      GTEST_SKIP() << "needs group dialout and setpriv to drop root";
    ASSERT_EQ(chown(device.c_str(), 0, owner->gr_gid), 0);
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kCli};
  } else {
    if (info.st_gid == 0 || owner == nullptr) GTEST_SKIP() << "the pty has no group to name";
    ASSERT_EQ(chmod(device.c_str(), 0), 0);
  }
  const std::string group = owner->gr_name;
  // Images anyone may read, outside the test's private directories.
  TempDir shared;
  fs::permissions(shared.Path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  fs::copy_file(Sample().Loader(), shared / "kvr.ldr");
  fs::copy_file(Sample().Agent(), shared / "kvr-agent.bin");
  argv.insert(argv.end(), {"--yes", "--port", device, "--loader", shared / "kvr.ldr",
                           shared / "kvr-agent.bin"});
  ChildProcess::Options options = Command(argv);
  options.env["XDG_CONFIG_HOME"] = shared / "config";
  options.env["XDG_CONFIG_DIRS"] = shared / "no-system-config";
  const RunResult run = RunToEnd(options);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(ReasonLine(run.out), "Permission denied for " + device + ": it belongs to group " +
                                     group + "; add yourself with: sudo usermod -aG " + group +
                                     " $USER, then log in again")
      << Describe(run);
}

}  // namespace
}  // namespace portflash::testing
