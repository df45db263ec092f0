// Two programs, one port: while a download holds the port, a second portflash-cli
// (or a COM page's test open) is refused with message 121 and the reason that the
// port is in use, and the running download goes on undisturbed to its end.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "engine/serial_link.h"
#include "line_harness.h"
#include "support/child_process.h"
#include "support/sim_process.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kCli = PORTFLASH_CLI;
const std::string kSim = PORTFLASH_SIM;
const std::string kPowerOff = "Please Power OFF your unit and Click OK to continue.";
const std::string kSuccess = "Update completed successfully";
const std::string kOpenFailed =
    "Unable to open the COM port\nPlease check that there are no other applications using the "
    "COM port";
const std::string kInUse = "is in use by another program";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Describe(const RunResult& run) {
  return "exit " + std::to_string(run.status) + "\n--- stdout\n" + run.out + "--- stderr\n" +
         run.err;
}

class TwoProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ChildProcess::Options make;
    // An agent that takes a few seconds on a paced line.
    make.argv = {PORTFLASH_SOURCE_DIR "/scripts/make-sample-set",
                 set_.Path(),
                 "--agent-body",
                 "40K",
                 "--loader-body",
                 "4K"};
    ASSERT_EQ(RunToEnd(make).status, 0);
    fs::create_directories(set_ / "config");
  }

  ChildProcess::Options Cli(const std::string& device, bool yes = true) const {
    ChildProcess::Options options;
    options.argv = {kCli, "--port", device, "--loader", set_ / "loaders/kvr.ldr"};
    if (yes) options.argv.push_back("--yes");
    options.argv.push_back(set_ / "images/kvr-agent.bin");
    options.env["XDG_CONFIG_HOME"] = set_ / "config";
    options.env["XDG_CONFIG_DIRS"] = set_ / "no-system-config";
    return options;
  }

  // A second program's attempt: refused, with why.
  void ExpectRefused(const std::string& device, const std::string& holder) const {
    const RunResult second = RunToEnd(Cli(device), 20s);
    EXPECT_EQ(second.status, 1) << Describe(second);
    EXPECT_TRUE(Contains(second.out, kOpenFailed)) << Describe(second);
    EXPECT_TRUE(Contains(second.out, device + " " + kInUse + " (" + holder)) << Describe(second);
    EXPECT_FALSE(Contains(second.out, kPowerOff)) << Describe(second);

    // The COM page's test open in another program is refused the same way.
    OpenFailure why;
    CommHandle port = OpenCommPort(device.c_str(), &why);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(why.kind, OpenError::Busy);
    CloseCommPort(port);
  }

  TempDir set_;
};

// The holder is this process's download thread, waiting at the power-off request
// with the port open.
TEST_F(TwoProgramsTest, RefusedWhileADownloadWaitsAtThePowerOffRequest) {
  SimProcess sim(kSim, {});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const PortState portBefore = ReadPortState(sim.Device());
  ASSERT_TRUE(WriteImage(set_ / "plain.ldr", 3000, 1));
  ASSERT_TRUE(WriteImage(set_ / "kvr0001.bin", 5000, 2));

  LineDownload download(
      {.device = sim.Device(), .loader = set_ / "plain.ldr", .agent = set_ / "kvr0001.bin"});
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  download.ui.OnMessage([&](const std::string& text) {
    if (text != kPowerOff) return;
    std::unique_lock lock(mutex);
    changed.wait_for(lock, 30s, [&] { return released; });
  });
  ASSERT_TRUE(download.Start());
  ASSERT_TRUE(download.ui.WaitFor("box " + kPowerOff, 10s));

  ExpectRefused(sim.Device(), "integration_tes");  // the name the kernel keeps, 15 bytes
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();

  ASSERT_TRUE(download.WaitUntilOver(30s)) << sim.Log();
  EXPECT_EQ(download.ui.Messages(), (std::vector<std::string>{kPowerOff, kSuccess}));
  ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
  EXPECT_EQ(sim.Report(), std::vector<std::string>{"ok loader=3000 agent=5000"}) << sim.Log();
  EXPECT_EQ(ReadPortState(sim.Device()), portBefore);
}

// The holder is another portflash-cli in the middle of sending the agent.
TEST_F(TwoProgramsTest, RefusedWhileAnotherCliStreams) {
  SimProcess sim(kSim, {"--pace", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  ChildProcess first;
  ASSERT_TRUE(first.Start(Cli(sim.Device())));
  ASSERT_TRUE(first.WaitForOutput("% Done", 20s)) << first.Stdout() << first.Stderr();

  ExpectRefused(sim.Device(), "portflash-cli, process " + std::to_string(first.Pid()));

  const int status = first.Wait(60s);
  EXPECT_EQ(status, 0) << first.Stdout() << first.Stderr() << sim.Log();
  EXPECT_TRUE(Contains(first.Stdout(), kSuccess)) << first.Stdout();
  // The unit got the agent whole, in one download.
  ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
  EXPECT_EQ(sim.Report().size(), 1u);
  EXPECT_EQ(sim.Report()[0].rfind("ok ", 0), 0u) << sim.Log();
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(set_ / "images/kvr-agent.bin"));
}

}  // namespace
}  // namespace portflash::testing
