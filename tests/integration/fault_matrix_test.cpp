// The fault matrix: what only a real line shows of the ways the simulated unit can
// misbehave and of a cancel in each kind of wait, over a real pseudo-terminal, each driven through
// the engine in this process as the wizard drives it, each row on its own speed and cable. Every
// case must end with the right message (or none, for a cancel), within the time its waits allow
// (bounds five times the idle machine's), with the port's settings and exclusive flag
// as they were, and with no descriptor or thread left behind. Exact counts and timings
// are the unit tests'.
//
// The handshake runs on a short plan (the built-in bytes, fewer reads per step) so
// that silent units fail in seconds. PORTFLASH_FULL=1 also runs every row on the
// other speed and cable pairs, and the rows whose length the plan sets at full length.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "line_harness.h"
#include "support/child_process.h"
#include "support/sim_process.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kSim = PORTFLASH_SIM;
const std::string kSyncFailed = "Failed to synchronise with device";
const std::string kDisconnected =
    "Failed to write data to device\nThe serial device was disconnected";

// A read of a silent line: three 100 ms pauses.
constexpr milliseconds kSilentRead{300};
// Added to every upper bound: starting the thread, the images' streaming.
constexpr milliseconds kMargin{2500};
// A cancel is seen within one read, or one chunk on a paced line (0.6 s at 19200): five times that.
constexpr milliseconds kCancelBound{3000};

constexpr std::size_t kLoaderSkip = 16;
constexpr std::size_t kSmallLoader = 3000;
constexpr std::size_t kSmallAgent = 5000;
// Larger than a pty's buffer, so the unit's reaction lands while the PC still sends.
constexpr std::size_t kLargeImage = 40000;

struct Transfer {
  std::string speed;
  bool allSignals;
};

// Reads per handshake step: the short plan of CI, or the built-in one.
struct PlanReads {
  unsigned first;
  unsigned later;
  bool builtIn;
};
constexpr PlanReads kShort{8, 5, false};
constexpr PlanReads kBuiltIn{60, 20, true};

const std::vector<Transfer> kTransfers = {
    {"115200", true}, {"115200", false}, {"19200", true}, {"19200", false}};

struct CaseRun;

struct FaultCase {
  std::string name{};
  Transfer transfer{"115200", true};
  std::vector<std::string> sim{};  // {longer-agent}: a file the test makes
  std::size_t loaderSize = kSmallLoader;
  std::size_t agentSize = kSmallAgent;
  // The outcome box; empty: none (a cancel).
  std::string outcome{};
  // Silent reads the case must take, at least and at most.
  unsigned minReads = 0;
  unsigned maxReads = 0;
  // Cancel at once after this progress call.
  std::string cancelAfterProgress{};
  bool lineGoes = false;    // the unit hangs up: its device is gone afterwards
  bool planLength = false;  // its length is the plan's: --full runs it at full length too
  std::function<void(CaseRun&)> check{};
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

// What one case saw, for the case's own checks.
struct CaseRun {
  SimProcess& sim;
  LineDownload& download;
  bool HasProgress(const std::string& prefix) const { return download.ui.Has(prefix); }
};

std::vector<FaultCase> Cases(const PlanReads& r) {
  const std::string lastTry = std::to_string(r.first);
  const std::string tooLate = std::to_string(r.first + 1);
  const Transfer fast{"115200", false}, slow{"19200", true}, slowTxRx{"19200", false};
  return {
      {.name = "HealthyUnit", .outcome = kSuccess, .minReads = 5, .maxReads = 5},
      {.name = "SilentUnit",
       .transfer = slowTxRx,
       .sim = {"--silent"},
       .outcome = kSyncFailed,
       .minReads = r.first,
       .maxReads = r.first,
       .planLength = true,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 102")); }},
      // Powered on a second after the first try: answered on about the fifth.
      {.name = "AnswersTheFirstByteLate",
       .transfer = fast,
       .sim = {"--answer-delay", "1000"},
       .outcome = kSuccess,
       .minReads = 5 + 3,
       .maxReads = 5 + 5},
      {.name = "AnswersOneTryTooLate",
       .transfer = slow,
       .sim = {"--answer-after", tooLate},
       .outcome = kSyncFailed,
       .minReads = r.first,
       .maxReads = r.first,
       .planLength = true,
       .check =
           [lastTry](CaseRun& run) {
             // Every allowed try was made, and no try beyond them.
             EXPECT_THAT(run.sim.Log(), HasSubstr("first byte #" + lastTry + " left unanswered"));
             EXPECT_THAT(run.sim.Log(), Not(HasSubstr("stage 1 ok")));
           }},
      {.name = "ReplyInTheMiddleOfTheAgent",
       .sim = {"--reply-mid", "agent:4000:5"},
       .agentSize = kLargeImage,
       .outcome = "ERROR: Unkown Transfer ID",
       .minReads = 5,
       .maxReads = 6,
       .check =
           [](CaseRun& run) {
             EXPECT_FALSE(run.HasProgress("complete 103"));
             const auto sent = run.download.thread->GetTransferRecord().agent.bytesSent;
             EXPECT_GE(sent, 4000u);
             EXPECT_LT(sent, kLargeImage);
           }},
      {.name = "HangUpInTheMiddleOfTheAgent",
       .transfer = slowTxRx,
       .sim = {"--hangup", "agent:4000"},
       .agentSize = kLargeImage,
       .outcome = kDisconnected,
       .minReads = 5,
       .maxReads = 6,
       .lineGoes = true},
      {.name = "CancelWhileWaitingForPowerOn",
       .transfer = slowTxRx,
       .sim = {"--silent"},
       .cancelAfterProgress = "step 101"},
      {.name = "CancelDuringTheLoader",
       .transfer = slow,
       .sim = {"--pace"},
       .loaderSize = kLargeImage,
       .cancelAfterProgress = "estimate 102",
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("complete 102")); }},
      {.name = "CancelDuringTheAgent",
       .transfer = slowTxRx,
       .sim = {"--pace"},
       .agentSize = kLargeImage,
       .cancelAfterProgress = "estimate 103",
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("complete 103")); }},
      {.name = "CancelWhileWaitingForTheAgentResult",
       .transfer = slow,
       .sim = {"--expect-agent", "{longer-agent}"},
       .cancelAfterProgress = "complete 103",
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("took 103")); }},
  };
}

void RunCase(const FaultCase& fault, const Transfer& transfer, const PlanReads& reads) {
  SCOPED_TRACE(transfer.speed + (transfer.allSignals ? " all signals" : " tx/rx") +
               (reads.builtIn ? ", built-in plan" : ""));
  TempDir dir;
  const std::string loader = dir / "kvr.ldr";
  const std::string agent = dir / "kvr0001.bin";
  const std::string expectedLoader = dir / "loader.expected";
  ASSERT_TRUE(WriteImage(loader, fault.loaderSize, 1));
  ASSERT_TRUE(WriteImage(agent, fault.agentSize, 2));
  // The unit knows the images (the loader less its skip), so it answers at once.
  ASSERT_TRUE(WriteFile(expectedLoader, ReadFile(loader).substr(kLoaderSkip)));
  ASSERT_TRUE(WriteFile(dir / "longer-agent", ReadFile(agent) + "more"));
  const std::map<std::string, std::string> names = {{"{longer-agent}", dir / "longer-agent"}};
  std::vector<std::string> args;
  for (const std::string& arg : fault.sim) args.push_back(names.count(arg) ? names.at(arg) : arg);
  if (std::count(args.begin(), args.end(), "--expect-loader") == 0)
    args.insert(args.end(), {"--expect-loader", expectedLoader});
  if (std::count(args.begin(), args.end(), "--expect-agent") == 0)
    args.insert(args.end(), {"--expect-agent", agent});

  SimProcess sim(kSim, args);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const PortState portBefore = ReadPortState(sim.Device());
  ASSERT_TRUE(portBefore.read);
  const std::set<std::string> descriptorsBefore = OpenDescriptors();
  const std::set<int> threadsBefore = Threads();

  ShortPlan plan(transfer.speed, reads.first, reads.later);
  LineDownload download({.device = sim.Device(),
                         .speed = transfer.speed,
                         .allSignals = transfer.allSignals,
                         .loader = loader,
                         .loaderSkip = kLoaderSkip,
                         .agent = agent,
                         .plan = reads.builtIn ? nullptr : &plan.Plan()});
  const auto started = SteadyClock::now();
  ASSERT_TRUE(download.Start());
  const milliseconds upper = 5 * kSilentRead * fault.maxReads + kMargin;
  const milliseconds lower = kSilentRead * fault.minReads * 95 / 100;

  if (fault.outcome.empty()) {
    ASSERT_TRUE(download.ui.WaitFor(fault.cancelAfterProgress, 30s)) << sim.Log();
    const auto asked = SteadyClock::now();
    EXPECT_EQ(download.app.StopDownload(), 0) << "the download had already ended";
    EXPECT_LT(SteadyClock::now() - asked, kCancelBound);
    EXPECT_TRUE(download.thread->HasEnded()) << "StopDownload gave up on the thread";
    EXPECT_EQ(download.ui.Messages(), std::vector<std::string>{kPowerOff});
  } else {
    ASSERT_TRUE(download.WaitUntilOver(upper + 20s)) << sim.Log();
    const auto took = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - started);
    EXPECT_EQ(download.ui.Messages(), (std::vector<std::string>{kPowerOff, fault.outcome}))
        << sim.Log();
    EXPECT_GE(took, lower);
    EXPECT_LE(took, upper) << sim.Log();
  }
  if (fault.check) {
    CaseRun run{sim, download};
    fault.check(run);
  }

  // The port as it was, and free for the next program.
  if (!fault.lineGoes) {
    const PortState portAfter = ReadPortState(sim.Device());
    EXPECT_EQ(portAfter, portBefore)
        << "before: " << Describe(portBefore) << "\nafter:  " << Describe(portAfter);
    EXPECT_EQ(portAfter.exclusive, 0);
  }
  EXPECT_EQ(Added(descriptorsBefore, OpenDescriptors()), "");
  // The thread has said it ended; it is gone from the process a moment later.
  EXPECT_TRUE(Eventually([&] { return Added(threadsBefore, Threads()).empty(); }, 5s))
      << "threads left: " << Added(threadsBefore, Threads());
}

class FaultMatrixTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrixTest, EndsRightInTimeAndLeavesNothingBehind) {
  const FaultCase& fault = GetParam();
  RunCase(fault, fault.transfer, kShort);
  if (!FullRun()) return;
  for (const Transfer& other : kTransfers) {
    if (other.speed != fault.transfer.speed || other.allSignals != fault.transfer.allSignals)
      RunCase(fault, other, kShort);
  }
  if (fault.planLength) {
    for (const FaultCase& full : Cases(kBuiltIn))
      if (full.name == fault.name) RunCase(full, fault.transfer, kBuiltIn);
  }
}

std::string RowName(const ::testing::TestParamInfo<FaultCase>& row) {
  return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(Cases(kShort)), RowName);

}  // namespace
}  // namespace portflash::testing
