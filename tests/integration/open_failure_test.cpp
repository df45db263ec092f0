// Why a port did not open, as the line under message 121 says it: a missing
// device, a device that another program holds, a device the user may not open.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_fixture.h"

namespace portflash::testing {
namespace {

class OpenFailureTest : public CliTest {
 protected:
  // The line right under message 121, or "" when the message is not there.
  static std::string ReasonLine(const RunResult& run) {
    std::size_t at = run.out.find(kOpenFailed + "\n");
    if (at == std::string::npos) return "";
    std::string rest = run.out.substr(at + kOpenFailed.size() + 1);
    return rest.substr(0, rest.find('\n'));
  }

  RunResult Download(const std::string& port) const {
    return RunCli(
        {"--yes", "--port", port, "--loader", Sample().Loader("kvr"), "images/kvr-agent.bin"});
  }
};

TEST_F(OpenFailureTest, MissingDeviceSaysItDoesNotExist) {
  const std::string missing = temp_ / "ttyUSB0";
  RunResult run = Download(missing);
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(ReasonLine(run), "The device " + missing + " does not exist.") << Describe(run);

  // A COM name with no "Ports" entry is the matching ttyS device.
  WriteProfile("[Ports]\nCOM3=" + temp_ / "gone/ttyACM0" + "\n");
  run = Download("COM3");
  EXPECT_EQ(ReasonLine(run), "The device " + temp_ / "gone/ttyACM0" + " does not exist.")
      << Describe(run);
}

// The holder keeps the port while the unit stays silent; the second program is told
// who has it: the one holding the lock, not the simulator that also has the line open.
TEST_F(OpenFailureTest, PortHeldByAnotherProgramNamesIt) {
  Sim sim({"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  ChildProcess holder;
  ChildProcess::Options options = Cli({"--yes", "--port", sim.Device(), "--loader",
                                       Sample().Loader("kvr"), "images/kvr-agent.bin"});
  ASSERT_TRUE(holder.Start(options));
  ASSERT_TRUE(holder.WaitForOutput(kPowerOff, 20s)) << holder.Stdout() << holder.Stderr();

  RunResult run = Download(sim.Device());
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(ReasonLine(run), sim.Device() +
                                 " is in use by another program (portflash-cli, process " +
                                 std::to_string(holder.Pid()) + ").")
      << Describe(run);
  EXPECT_FALSE(Contains(run.out, kPowerOff)) << Describe(run);

  holder.Signal(SIGINT);
  EXPECT_EQ(holder.Wait(15s), kExitCancelled);
}

TEST_F(OpenFailureTest, PortLockedByAProgramOfAnotherKindNamesThatProgram) {
  Sim sim({"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  // A shell takes the same lock as a terminal program would, then becomes sleep.
  ChildProcess holder;
  ASSERT_TRUE(holder.Start(Command({"/bin/sh", "-c",
                                    "exec 9<>\"$0\" && /usr/bin/flock --nonblock 9 && "
                                    "echo locked && exec sleep 30",
                                    sim.Device()})));
  ASSERT_TRUE(holder.WaitForOutput("locked", 10s)) << holder.Stderr();
  RunResult run = Download(sim.Device());
  EXPECT_EQ(run.status, 1) << Describe(run);
  EXPECT_EQ(ReasonLine(run), sim.Device() + " is in use by another program (sleep, process " +
                                 std::to_string(holder.Pid()) + ").")
      << Describe(run);
}

// A pseudo-terminal whose group and mode the test sets, opened by a user outside
// that group: as root the CLI runs as nobody; otherwise the device is closed to
// its own owner, which the reason then names by the pty's own group.
TEST_F(OpenFailureTest, DeviceTheUserMayNotOpenNamesTheGroupAndTheCommand) {
  Sim sim({"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string device = sim.Device();
  std::vector<std::string> prefix;
  std::string groupName;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is needed to drop root";
    const group* dialout = getgrnam("dialout");
    if (dialout == nullptr) GTEST_SKIP() << "no group dialout on this machine";
    ASSERT_EQ(chown(device.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(device.c_str(), 0660), 0);
    groupName = "dialout";
    prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  } else {
    struct stat info {};
    ASSERT_EQ(stat(device.c_str(), &info), 0);
    const group* owner = getgrgid(info.st_gid);
    if (info.st_gid == 0 || owner == nullptr) {
      GTEST_SKIP() << "the pseudo-terminal has no group to name";
    }
    groupName = owner->gr_name;
    ASSERT_EQ(chmod(device.c_str(), 0), 0);
  }
  // Images anyone may read, outside the test's private directories.
  char pattern[] = "/tmp/portflash-perm-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  fs::copy_file(Sample().Loader("kvr"), dir + "/kvr.ldr");
  fs::copy_file(Sample().Agent("kvr"), dir + "/kvr-agent.bin");
  for (const char* name : {"/kvr.ldr", "/kvr-agent.bin"}) chmod((dir + name).c_str(), 0644);

  ChildProcess::Options options;
  options.argv = prefix;
  for (const std::string& arg :
       {kCli, std::string("--yes"), std::string("--json"), std::string("--port"), device,
        std::string("--loader"), dir + "/kvr.ldr", dir + "/kvr-agent.bin"}) {
    options.argv.push_back(arg);
  }
  options.env["XDG_CONFIG_HOME"] = dir + "/config";
  options.env["XDG_CONFIG_DIRS"] = dir + "/no-system-config";
  options.workDir = dir;
  RunResult run = RunToEnd(options);
  fs::remove_all(dir);

  const std::string reason = "Permission denied for " + device + ": it belongs to group " +
                             groupName + "; add yourself with: sudo usermod -aG " + groupName +
                             " $USER, then log in again";
  EXPECT_EQ(run.status, 1) << Describe(run);
  // With --json the messages are on stderr and the same text is in the report.
  EXPECT_TRUE(Contains(run.err, kOpenFailed + "\n" + reason + "\n")) << Describe(run);
  EXPECT_TRUE(Contains(run.out, "\"outcome_text\":" + JsonText(kOpenFailed + "\n" + reason)))
      << Describe(run);
}

}  // namespace
}  // namespace portflash::testing
