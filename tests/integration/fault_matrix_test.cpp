// The fault matrix: for both speeds and both cables, every way the simulated unit
// can misbehave and a cancel in every phase, each driven through the engine in this
// process as the wizard drives it. Every case must end with the right message (or
// none, for a cancel), within the time its waits allow, with the port's settings and
// exclusive flag as they were, and with no descriptor or thread left behind.
//
// The handshake runs on a short plan (the built-in bytes, fewer reads per step) so
// that silent units fail in seconds; the full-length plans run under --full.
// CI runs each case once, on one of the four speed and cable pairs in turn;
// PORTFLASH_FULL=1 runs every case on every pair.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/result_messages.h"
#include "line_harness.h"
#include "res/string_table.h"
#include "support/child_process.h"
#include "support/sim_process.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

const std::string kSim = PORTFLASH_SIM;
const std::string kPowerOff = "Please Power OFF your unit and Click OK to continue.";
const std::string kSuccess = "Update completed successfully";
const std::string kSyncFailed = "Failed to synchronise with device";
const std::string kDisconnected =
    "Failed to write data to device\nThe serial device was disconnected";

// A read of a silent line: three 100 ms pauses.
constexpr milliseconds kSilentRead{300};
// For a loaded two-core machine: added to every upper bound.
constexpr milliseconds kMargin{2500};
// A cancel is seen within one read (or one chunk on a paced line).
constexpr milliseconds kCancelBound = kSilentRead + 1200ms;

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

struct CaseRun;

struct FaultCase {
  std::string name{};
  std::vector<std::string> sim{};  // {loader}, {agent}, {longer-loader}, {longer-agent}
  std::size_t loaderSize = kSmallLoader;
  std::size_t agentSize = kSmallAgent;
  // The outcome box; empty: none (a cancel). kGarbage: the first garbage byte's text.
  std::string outcome{};
  // Silent reads the case must take, at least and at most, and other time it may
  // take by design (the unit's power-on delay).
  unsigned minReads = 0;
  unsigned maxReads = 0;
  milliseconds extra{0};
  // Cancel: after this progress call or simulator output, and a pause.
  std::string cancelAfterProgress{};
  std::string cancelAfterSimOutput{};
  milliseconds cancelDelay{0};
  // The later handshake steps at their built-in length (for a cancel inside one).
  bool builtInLaterSteps = false;
  bool lineGoes = false;  // the unit hangs up: its device is gone afterwards
  std::function<void(CaseRun&)> check{};
  PlanReads reads = kShort;
  int index = 0;
};

const std::string kGarbage = "(the first garbage byte)";

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}
void PrintTo(const Transfer& t, std::ostream* out) {
  *out << t.speed << (t.allSignals ? " all signals" : " tx/rx");
}

// What one case saw, for the case's own checks.
struct CaseRun {
  const FaultCase& fault;
  SimProcess& sim;
  LineDownload& download;
  bool HasProgress(const std::string& prefix) const { return download.ui.Find(prefix).has_value(); }
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<FaultCase> Cases(const PlanReads& r) {
  const std::string lastTry = std::to_string(r.first);
  const std::string tooLate = std::to_string(r.first + 1);
  std::vector<FaultCase> cases = {
      {.name = "HealthyUnit", .outcome = kSuccess, .minReads = 5, .maxReads = 5},
      {.name = "SilentUnit",
       .sim = {"--silent"},
       .outcome = kSyncFailed,
       .minReads = r.first,
       .maxReads = r.first,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 102")); }},
      // Powered on a second after the first try: answered on about the fifth.
      {.name = "AnswersTheFirstByteLate",
       .sim = {"--answer-delay", "1000"},
       .outcome = kSuccess,
       .minReads = 5 + 3,
       .maxReads = 5 + 5},
      {.name = "AnswersOnTheLastAllowedTry",
       .sim = {"--answer-after", lastTry},
       .outcome = kSuccess,
       .minReads = r.first - 1 + 5,
       .maxReads = r.first - 1 + 5,
       .check =
           [n = r.first](CaseRun& run) {
             const std::string log = run.sim.Log();
             EXPECT_TRUE(Contains(log, "first byte #" + std::to_string(n - 1) + " left unanswered"))
                 << log;
           }},
      {.name = "AnswersOneTryTooLate",
       .sim = {"--answer-after", tooLate},
       .outcome = kSyncFailed,
       .minReads = r.first,
       .maxReads = r.first,
       .check =
           [lastTry](CaseRun& run) {
             // Every allowed try was made, and no try beyond them.
             const std::string log = run.sim.Log();
             EXPECT_TRUE(Contains(log, "first byte #" + lastTry + " left unanswered")) << log;
             EXPECT_FALSE(Contains(log, "stage 1 ok")) << log;
           }},
      {.name = "WrongReplyToTheFirstByte",
       .sim = {"--wrong-reply", "1:1:0x33"},
       .outcome = kSuccess,
       .minReads = 5,
       .maxReads = 5},
      {.name = "WrongReplyToTheFirstByteAtThePlanRate",
       .sim = {"--wrong-reply", "2:1:0x33"},
       .outcome = kSuccess,
       .minReads = 5,
       .maxReads = 5},
      // The wrong byte is one read; the rest of the step's reads are silent.
      {.name = "WrongReplyInALaterStep",
       .sim = {"--wrong-reply", "1:3:0x33"},
       .outcome = kSyncFailed,
       .minReads = r.later - 2,
       .maxReads = r.later - 2},
      {.name = "WrongReplyInTheLastStepAtThePlanRate",
       .sim = {"--wrong-reply", "2:4:0x33"},
       .outcome = kSyncFailed,
       .minReads = r.later - 2,
       .maxReads = r.later - 2,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 102")); }},
      {.name = "ErrorCodeAfterTheLoader",
       .sim = {"--loader-code", "13"},
       .outcome = "ERROR: Wrong hardware type",
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 103")); }},
      {.name = "ErrorCodeAfterTheAgent",
       .sim = {"--agent-code", "3"},
       .outcome = "ERROR: Disk full",
       .minReads = 5,
       .maxReads = 5},
      {.name = "UnaskedByteDuringTheProbe",
       .sim = {"--unasked", "12"},
       .outcome = "ERROR: Checksum error",
       .maxReads = 1,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 103")); }},
      {.name = "ReplyInTheMiddleOfTheLoader",
       .sim = {"--reply-mid", "loader:4000:5"},
       .loaderSize = kLargeImage,
       .outcome = "ERROR: Unkown Transfer ID",
       .maxReads = 1,
       .check =
           [](CaseRun& run) {
             EXPECT_FALSE(run.HasProgress("complete 102"));
             EXPECT_FALSE(run.HasProgress("estimate 103"));
             // The PC stopped sending once it saw the answer.
             const auto sent = run.download.thread->GetTransferRecord().loader.bytesSent;
             EXPECT_GE(sent, 4000u);
             EXPECT_LT(sent, kLargeImage - kLoaderSkip);
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
      {.name = "HangUpInTheMiddleOfTheLoader",
       .sim = {"--hangup", "loader:4000"},
       .loaderSize = kLargeImage,
       .outcome = kDisconnected,
       .maxReads = 1,
       .lineGoes = true},
      {.name = "HangUpInTheMiddleOfTheAgent",
       .sim = {"--hangup", "agent:4000"},
       .agentSize = kLargeImage,
       .outcome = kDisconnected,
       .minReads = 5,
       .maxReads = 6,
       .lineGoes = true},
      // Taken as misses of the second stage's first step: tolerated.
      {.name = "GarbageBetweenTheStages",
       .sim = {"--garbage=stages", "--seed", "7"},
       .outcome = kSuccess,
       .minReads = 5,
       .maxReads = 5},
      {.name = "GarbageAfterTheLoaderAnswer",
       .sim = {"--garbage=listen", "--seed", "7"},
       .outcome = kGarbage,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 103")); }},
      // --- Cancel in each phase.
      {.name = "CancelWhileWaitingForPowerOn",
       .sim = {"--silent"},
       .cancelAfterProgress = "step 101",
       .cancelDelay = 700ms},
      {.name = "CancelInALaterHandshakeStep",
       .sim = {"--wrong-reply", "1:2:0x33"},
       .cancelAfterSimOutput = "answering 0x33",
       .cancelDelay = 700ms,
       .builtInLaterSteps = true},
      {.name = "CancelDuringTheLoader",
       .sim = {"--pace"},
       .loaderSize = kLargeImage,
       .cancelAfterProgress = "estimate 102",
       .cancelDelay = 300ms,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("complete 102")); }},
      {.name = "CancelDuringTheProbe",
       .cancelAfterProgress = "took 102",
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("estimate 103")); }},
      {.name = "CancelDuringTheAgent",
       .sim = {"--pace"},
       .agentSize = kLargeImage,
       .cancelAfterProgress = "estimate 103",
       .cancelDelay = 300ms,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("complete 103")); }},
      // The unit expects a longer image, so it never answers this one.
      {.name = "CancelWhileWaitingForTheLoaderResult",
       .sim = {"--expect-loader", "{longer-loader}"},
       .cancelAfterProgress = "complete 102",
       .cancelDelay = 700ms,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("took 102")); }},
      {.name = "CancelWhileWaitingForTheAgentResult",
       .sim = {"--expect-agent", "{longer-agent}"},
       .cancelAfterProgress = "complete 103",
       .cancelDelay = 700ms,
       .check = [](CaseRun& run) { EXPECT_FALSE(run.HasProgress("took 103")); }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    cases[i].reads = r;
    cases[i].index = static_cast<int>(i);
  }
  return cases;
}

// The cases whose length the plan sets, at the built-in plan's full length.
std::vector<FaultCase> FullLengthCases() {
  std::vector<FaultCase> cases;
  for (FaultCase& c : Cases(kBuiltIn)) {
    if (c.name == "SilentUnit" || c.name == "AnswersOnTheLastAllowedTry" ||
        c.name == "AnswersOneTryTooLate" || c.name == "WrongReplyInALaterStep") {
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

const std::vector<Transfer> kTransfers = {
    {"115200", true}, {"115200", false}, {"19200", true}, {"19200", false}};

std::string Expand(std::string arg, const std::map<std::string, std::string>& names) {
  for (const auto& [key, value] : names) {
    if (arg == key) return value;
  }
  return arg;
}

class FaultMatrixTest : public ::testing::TestWithParam<std::tuple<Transfer, FaultCase>> {};

TEST_P(FaultMatrixTest, EndsRightInTimeAndLeavesNothingBehind) {
  const auto& [transfer, fault] = GetParam();
  if (fault.reads.builtIn && !FullRun()) GTEST_SKIP() << "full-length plan: scripts/test --full";
  const bool inSample =
      kTransfers[static_cast<std::size_t>(fault.index) % kTransfers.size()].speed ==
          transfer.speed &&
      kTransfers[static_cast<std::size_t>(fault.index) % kTransfers.size()].allSignals ==
          transfer.allSignals;
  if (!inSample && !FullRun()) GTEST_SKIP() << "not in CI's sample: scripts/test --full";

  TempDir dir;
  const std::string loader = dir / "kvr.ldr";
  const std::string agent = dir / "kvr0001.bin";
  const std::string expectedLoader = dir / "loader.expected";
  ASSERT_TRUE(WriteImage(loader, fault.loaderSize, 1));
  ASSERT_TRUE(WriteImage(agent, fault.agentSize, 2));
  // The unit knows the images (the loader less its skip), so it answers at once.
  ASSERT_TRUE(WriteFile(expectedLoader, ReadFile(loader).substr(kLoaderSkip)));
  ASSERT_TRUE(WriteFile(dir / "longer-loader", ReadFile(expectedLoader) + "more"));
  ASSERT_TRUE(WriteFile(dir / "longer-agent", ReadFile(agent) + "more"));
  const std::map<std::string, std::string> names = {{"{longer-loader}", dir / "longer-loader"},
                                                    {"{longer-agent}", dir / "longer-agent"}};
  std::vector<std::string> args;
  bool ownLoader = false;
  bool ownAgent = false;
  for (const std::string& arg : fault.sim) {
    ownLoader = ownLoader || arg == "--expect-loader";
    ownAgent = ownAgent || arg == "--expect-agent";
    args.push_back(Expand(arg, names));
  }
  if (!ownLoader) args.insert(args.end(), {"--expect-loader", expectedLoader});
  if (!ownAgent) args.insert(args.end(), {"--expect-agent", agent});

  SimProcess sim(kSim, args);
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const PortState portBefore = ReadPortState(sim.Device());
  ASSERT_TRUE(portBefore.read);
  const std::set<std::string> descriptorsBefore = OpenDescriptors();
  const std::set<int> threadsBefore = Threads();

  ShortPlan plan(transfer.speed, fault.reads.first,
                 fault.builtInLaterSteps ? kBuiltIn.later : fault.reads.later);
  LineDownload download({.device = sim.Device(),
                         .speed = transfer.speed,
                         .allSignals = transfer.allSignals,
                         .loader = loader,
                         .loaderSkip = kLoaderSkip,
                         .agent = agent,
                         .plan = fault.reads.builtIn ? nullptr : &plan.Plan()});
  ASSERT_TRUE(download.Start());
  const bool cancels = !fault.cancelAfterProgress.empty() || !fault.cancelAfterSimOutput.empty();
  const milliseconds upper =
      std::chrono::duration_cast<milliseconds>(kSilentRead * fault.maxReads * 1.15) + fault.extra +
      kMargin;
  const milliseconds lower = kSilentRead * fault.minReads * 95 / 100;

  if (cancels) {
    if (!fault.cancelAfterProgress.empty()) {
      ASSERT_TRUE(download.ui.WaitFor(fault.cancelAfterProgress, 30s)) << sim.Log();
    } else {
      ASSERT_TRUE(sim.WaitForOutput(fault.cancelAfterSimOutput, 30s)) << sim.Log();
    }
    std::this_thread::sleep_for(fault.cancelDelay);
    const auto asked = SteadyClock::now();
    EXPECT_EQ(download.app.StopDownload(), 0) << "the download had already ended";
    const auto took = SteadyClock::now() - asked;
    EXPECT_LT(took, kCancelBound);
    EXPECT_TRUE(download.thread->HasEnded()) << "StopDownload gave up on the thread";
    EXPECT_EQ(download.ui.Messages(), std::vector<std::string>{kPowerOff});
    // Nothing reaches the page once the thread has ended.
    const std::size_t events = download.ui.Events().size();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(download.ui.Events().size(), events);
  } else {
    ASSERT_TRUE(download.WaitUntilOver(upper + 20s)) << sim.Log();
    const auto messages = download.ui.Messages();
    ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
    EXPECT_EQ(messages[0], kPowerOff);
    std::string outcome = fault.outcome;
    if (outcome == kGarbage) {
      const std::string log = sim.Log();
      const std::string key = "garbage after the loader's answer: ";
      const std::size_t at = log.find(key);
      ASSERT_NE(at, std::string::npos) << log;
      const auto byte =
          static_cast<ResultCode>(std::strtoul(log.c_str() + at + key.size(), nullptr, 16));
      outcome = ResultText(download.app, byte);
    }
    EXPECT_EQ(messages[1], outcome) << sim.Log();
    const auto started = download.ui.Find("box " + kPowerOff)->at;
    const auto ended = download.ui.Events().back().at;
    const auto took = std::chrono::duration_cast<milliseconds>(ended - started);
    EXPECT_GE(took, lower);
    EXPECT_LE(took, upper) << sim.Log();
    RecordProperty("outcome_ms", static_cast<int>(took.count()));
  }
  if (fault.check) {
    CaseRun run{fault, sim, download};
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
  EXPECT_TRUE(Eventually([&] { return Added(threadsBefore, Threads()).empty(); }, 2s))
      << "threads left: " << Added(threadsBefore, Threads());
}

std::string CaseName(const ::testing::TestParamInfo<FaultMatrixTest::ParamType>& info) {
  const auto& [transfer, fault] = info.param;
  return "At" + transfer.speed + (transfer.allSignals ? "_AllSignals_" : "_TxRxOnly_") + fault.name;
}

INSTANTIATE_TEST_SUITE_P(ShortPlan, FaultMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(kTransfers),
                                            ::testing::ValuesIn(Cases(kShort))),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(BuiltInPlan, FaultMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(kTransfers),
                                            ::testing::ValuesIn(FullLengthCases())),
                         CaseName);

}  // namespace
}  // namespace portflash::testing
