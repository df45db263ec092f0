// The fault matrix: what only a real line shows of the ways the simulated unit can
// misbehave and of a cancel in a paced write, over a real pseudo-terminal, driven through
// the engine in this process as the wizard drives it, each row on its own speed and cable.
// Every case must end with the right message (or none, for a cancel) in time, with no
// descriptor or thread left behind; twenty complete downloads in a row in one application too.
// Counts, timings and the other waits' cancels are the unit tests', and so is the port put back
// as it was (the same close ends every case).
// The handshake runs on a short plan (the built-in bytes, fewer reads per step) so that silent
// units fail in seconds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "support/child_process.h"
#include "support/fakes.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using SteadyClock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kSim = PORTFLASH_SIM;
const std::string kSyncFailed = "Failed to synchronise with device";
const std::string kDisconnected =
    "Failed to write data to device\nThe serial device was disconnected";

// A read of a silent line: three 100 ms pauses.
constexpr auto kSilentRead = 300ms;
// Added to every upper bound: starting the thread, the images' streaming.
constexpr auto kMargin = 2500ms;
// A cancel is seen within one chunk on a paced line (0.6 s at 19200): five times that.
constexpr auto kCancelBound = 3000ms;

constexpr std::size_t kLoaderSkip = 16;
// Larger than a pty's buffer, so the unit's reaction lands while the PC still sends.
constexpr std::size_t kLargeImage = 40000;
// Reads of the short plan's first step; the later steps get five.
constexpr unsigned kFirstReads = 8;

// "fd -> target" for every open descriptor of this process (the listing's own among
// them, the same before and after).
std::set<std::string> OpenDescriptors() {
  std::set<std::string> described;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
    described.insert(entry.path().filename().string() + " -> " +
                     fs::read_symlink(entry.path()).string());
  return described;
}

std::set<std::string> Threads() {
  // ThreadSanitizer starts a thread of its own when the process creates its first
  // one: have it running before anything is counted, or it reads as a leak.
  static const bool kWarmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)kWarmedUp;
  std::set<std::string> ids;
  for (const auto& entry : fs::directory_iterator("/proc/self/task"))
    ids.insert(entry.path().filename());
  return ids;
}

// The application with recorded boxes and progress, on the built-in plan of the speed
// with fewer reads per step (the same bytes, the same rate). The application goes
// first, stopping its download while the plan and the recorder are still there.
struct LineDownload {
  explicit LineDownload(const std::string& speed) {
    const SyncPlan& builtIn = speed == "19200" ? g_syncPlan19200 : g_syncPlan115200;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      steps[i] = builtIn.steps[i];
      steps[i].timeoutMs = (i == 0 ? kFirstReads : 5) * GetReadDelay();
    }
    plan = SyncPlan{builtIn.rate, static_cast<std::uint32_t>(steps.size()), steps.data()};
    app.SetSpeed(speed.c_str());
    app.SetSyncPlanOverride(&plan);
  }

  std::array<SyncStep, 4> steps{};
  SyncPlan plan{};
  MapProfile profile;
  Recorder ui;
  CUpdateApp app{profile, ui};
  std::shared_ptr<CDownloadThread> thread;
};

struct FaultCase {
  std::string name{};
  std::string speed = "115200";
  bool allSignals = true;
  std::vector<std::string> sim{};
  std::size_t loaderSize = 3000;
  std::size_t agentSize = 5000;
  std::string outcome{};  // the outcome box; empty: none (a cancel)
  unsigned maxReads = 0;  // silent reads the case may take at most
  std::string cancelAfterProgress{};
  // Downloads in a row in one application, each started as soon as "Again?" would be
  // offered: none may leave a descriptor or a thread behind.
  int downloads = 1;
  std::function<void(SimProcess&, LineDownload&)> check{};
};

// Failures name the row, not the bytes of the case.
void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

std::vector<FaultCase> Cases() {
  return {
      {.name = "CompletesTwentyTimesInARow",
       .outcome = kSuccess,
       .maxReads = 10,
       .downloads = 20,
       .check =
           [](SimProcess& sim, LineDownload&) {
             ASSERT_TRUE(sim.WaitForReport(20, 5s)) << sim.Log();
             EXPECT_EQ(sim.Report(), std::vector<std::string>(20, "ok loader=2984 agent=5000"));
           }},
      {.name = "AnswersOneTryTooLate",
       .allSignals = false,
       .sim = {"--answer-after", std::to_string(kFirstReads + 1)},
       .outcome = kSyncFailed,
       .maxReads = kFirstReads,
       .check =
           [](SimProcess& sim, LineDownload&) {
             // Every allowed try was made, and no try beyond them.
             EXPECT_THAT(sim.Log(), HasSubstr("first byte #" + std::to_string(kFirstReads) +
                                              " left unanswered"));
             EXPECT_THAT(sim.Log(), Not(HasSubstr("stage 1 ok")));
           }},
      {.name = "HangUpInTheMiddleOfTheAgent",
       .speed = "19200",
       .allSignals = false,
       .sim = {"--hangup", "agent:4000"},
       .agentSize = kLargeImage,
       .outcome = kDisconnected,
       .maxReads = 6},
      {.name = "CancelDuringThePacedLoader",
       .speed = "19200",
       .sim = {"--pace"},
       .loaderSize = kLargeImage,
       .cancelAfterProgress = "estimate 102"},
  };
}

class FaultMatrixTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrixTest, EndsRightInTimeAndLeavesNothingBehind) {
  const FaultCase& fault = GetParam();
  TempDir dir;
  const std::string loader = dir / "kvr.ldr";
  const std::string agent = dir / "kvr0001.bin";
  ASSERT_TRUE(WriteFile(loader, ImageBytes(fault.loaderSize, 1)));
  ASSERT_TRUE(WriteFile(agent, ImageBytes(fault.agentSize, 2)));
  // The unit knows the images, so it answers at once.
  std::vector<std::string> args = fault.sim;
  args.insert(args.end(), {"--expect-loader", loader, "--loader-skip", std::to_string(kLoaderSkip),
                           "--expect-agent", agent});

  SimProcess sim(kSim, args);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::set<std::string> descriptorsBefore = OpenDescriptors();
  const std::set<std::string> threadsBefore = Threads();

  LineDownload download(fault.speed);
  download.app.SetPortName(sim.Device().c_str());
  download.app.SetAllSignals(fault.allSignals ? 1 : 0);
  // No profile: the resolution keeps the agent and stops at the loader, given here.
  download.app.SetAgentPath(agent.c_str());
  download.app.SetLoaderPath(loader.c_str());
  download.app.SetLoaderSkip(kLoaderSkip);
  LoadDefaultResultMessages(download.app);
  download.app.SetProgressView(&download.ui);
  for (int i = 1; i <= fault.downloads; ++i) {
    download.ui.Clear();
    ASSERT_TRUE(download.app.StartDownload()) << "download " << i;
    download.thread = download.app.GetDownloadThread();
    ASSERT_NE(download.thread, nullptr);
    if (fault.outcome.empty()) {
      ASSERT_TRUE(download.ui.WaitFor(fault.cancelAfterProgress, 30s)) << sim.Log();
      const auto asked = SteadyClock::now();
      EXPECT_EQ(download.app.StopDownload(), 0) << "the download had already ended";
      EXPECT_LT(SteadyClock::now() - asked, kCancelBound);
      EXPECT_TRUE(download.thread->HasEnded()) << "StopDownload gave up on the thread";
      EXPECT_EQ(download.ui.Messages(), std::vector<std::string>{kPowerOff});
    } else {
      // Over once the thread has cleared the application's pointer and has ended.
      ASSERT_TRUE(
          Eventually([&] { return !download.app.IsDownloadSet() && download.thread->HasEnded(); },
                     5 * kSilentRead * fault.maxReads + kMargin))
          << "download " << i << "\n"
          << sim.Log();
      ASSERT_EQ(download.ui.Messages(), (std::vector<std::string>{kPowerOff, fault.outcome}))
          << "download " << i << "\n"
          << sim.Log();
    }
  }
  if (fault.check) fault.check(sim, download);

  EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
  // The thread has said it ended; it is gone from the process a moment later.
  EXPECT_TRUE(Eventually([&] { return std::ranges::includes(threadsBefore, Threads()); }, 5s))
      << ::testing::PrintToString(Threads()) << " after "
      << ::testing::PrintToString(threadsBefore);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(Cases()),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace portflash::testing
