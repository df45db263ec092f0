// portflash-cli against portflash-sim over real pseudo-terminals: what only the
// program adds to the engine (exit status, its texts, Ctrl-C, the port put back).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "cli_fixture.h"
#include "engine/serial_link.h"

namespace portflash::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// The line right under message 121, or "<none>" when the message is not there.
std::string ReasonLine(const std::string& out) {
  const std::size_t at = out.find(kOpenFailed + "\n");
  if (at == std::string::npos) return "<none>";
  const std::string rest = out.substr(at + kOpenFailed.size() + 1);
  return rest.substr(0, rest.find('\n'));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
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
    EXPECT_THAT(run.err, HasSubstr("usage: portflash-cli")) << Describe(run);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(RunCli({"--help"}).status, 0);
}

// Installed: COM1 through "Ports", the loader through "LDR Filename" beside the
// program, Enter at the power-off request; the unit gets the loader from its skip
// offset and the agent whole. (Refused sets and unit codes: the image-set and JSON tests.)
TEST_F(CliTest, ProfileFindsPortAndLoaderBesideTheProgramAndTheUnitGetsBothImages) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  fs::create_directories(temp_ / "prog/loaders");
  const std::string program = temp_ / "prog/portflash-cli";
  fs::copy_file(kCli, program);
  fs::copy_file(Sample().Loader(), temp_ / "prog/loaders/kvr.ldr");
  WriteProfile("[Ports]\nCOM1=" + sim.Device() + "\n");

  ChildProcess::Options options = Cli({"--cable", "txrx", "images/kvr-agent.bin"}, program);
  options.stdinText = "\n";
  options.keepStdinOpen = true;  // only the Enter may let it go on
  const RunResult run = RunToEnd(options);
  EXPECT_EQ(run.status, 0) << Describe(run) << sim.Log();
  EXPECT_THAT(run.out, AllOf(HasSubstr("COM1 (" + sim.Device() + ")"),
                             HasSubstr(temp_ / "prog/loaders/kvr.ldr"), HasSubstr(kSuccess)));
  EXPECT_THAT(run.err, HasSubstr("Press Enter"));
  const std::string loader = ReadFile(Sample().Loader());
  const std::string sent = ReadFile(sim.File("loader.out"));
  ASSERT_TRUE(!sent.empty() && sent.size() <= loader.size()) << sim.Log();
  const std::size_t skip = loader.size() - sent.size();
  EXPECT_EQ(sent, loader.substr(skip));
  EXPECT_THAT(run.out, HasSubstr("(from byte " + std::to_string(skip) + ")"));
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));
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
    std::chrono::milliseconds took{};
    const RunResult run = Interrupt(Download(sim.Device(), c.cli), c.waitFor, &took);
    EXPECT_EQ(run.status, 130) << c.waitFor << Describe(run);
    EXPECT_LT(took, 5s) << c.waitFor;  // one read or one paced chunk, five times over
    EXPECT_THAT(run.out, AllOf(HasSubstr(kCancelled), Not(HasSubstr("Update completed")),
                               Not(HasSubstr("Timeout")), Not(HasSubstr("Failed to")),
                               Not(HasSubstr("ERROR:"))));
    // Nothing goes to the unit before the request is answered.
    if (c.cli.empty()) {
      EXPECT_THAT(run.err, Not(HasSubstr("Please Power on")));
    }
  }
}

TEST_F(CliTest, ListPortsStartsWithTheComNamesAndTheirDevices) {
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
}

// A second program is refused with 121 and the holder's name, whether the holder is
// a portflash-cli that streams (and goes on undisturbed to its end, as the COM page's
// test open is refused too) or another kind of program holding the port's lock.
TEST_F(CliTest, PortHeldByAnotherProgramNamesIt) {
  SimProcess sim(kSim, {"--pace", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  ChildProcess first;
  ASSERT_TRUE(first.Start(Cli(Download(sim.Device()))));
  ASSERT_TRUE(first.WaitForOutput("% Done", 20s)) << first.Stdout() << first.Stderr();
  const std::string inUse = sim.Device() + " is in use by another program (";
  RunResult second = RunCli(Download(sim.Device()), 20s);
  EXPECT_EQ(second.status, 1) << Describe(second);
  EXPECT_EQ(ReasonLine(second.out),
            inUse + "portflash-cli, process " + std::to_string(first.Pid()) + ").");
  EXPECT_THAT(second.out, Not(HasSubstr(kPowerOff)));
  OpenFailure why;
  EXPECT_EQ(OpenCommPort(sim.Device().c_str(), &why), nullptr);
  EXPECT_EQ(why.kind, OpenError::Busy);
  EXPECT_EQ(first.Wait(60s), 0) << first.Stdout() << first.Stderr() << sim.Log();
  ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
  EXPECT_THAT(sim.Report(), ::testing::ElementsAre(::testing::StartsWith("ok ")));
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));

  ChildProcess holder;
  ASSERT_TRUE(holder.Start(
      Command({"/bin/sh", "-c", "exec 9<>\"$0\" && flock -n 9 && echo locked && exec sleep 30",
               sim.Device()})));
  ASSERT_TRUE(holder.WaitForOutput("locked", 10s)) << holder.Stderr();
  second = RunCli(Download(sim.Device()));
  EXPECT_EQ(second.status, 1) << Describe(second);
  EXPECT_EQ(ReasonLine(second.out),
            inUse + "sleep, process " + std::to_string(holder.Pid()) + ").");
}

// As root the CLI runs as nobody on a device of group dialout (or tty); otherwise the device is
// closed to its owner, and the reason names the pty's own group.
TEST_F(CliTest, DeviceTheUserMayNotOpenNamesTheGroupAndTheCommand) {
  SimProcess sim(kSim, {"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string device = sim.Device();
  std::vector<std::string> argv = {kCli};
  struct stat info {};
  ASSERT_EQ(stat(device.c_str(), &info), 0);
  const group* owner = getgrgid(info.st_gid);
  if (geteuid() == 0) {
    // setpriv is util-linux's, always there; any group but root's will do.
    owner = getgrnam("dialout");
    if (owner == nullptr) owner = getgrnam("tty");
    ASSERT_NE(owner, nullptr);
    ASSERT_EQ(chown(device.c_str(), 0, owner->gr_gid), 0);
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kCli};
  } else {
    // On scripts/test's allow-list: devpts mounted without gid=5 leaves no group to name.
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
