#include "engine/download_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "engine/result_messages.h"
#include "res/string_table.h"
#include "support/fake_unit.h"

namespace portflash::testing {
namespace {

using Messages = std::vector<std::string>;
using namespace std::chrono_literals;

const std::string kPowerOff = LoadStringResource(IDS_POWER_OFF);

// A complete image set on fakes: a loader with a 4-byte header and an agent.
class RunDownloadTest : public ::testing::Test {
 protected:
  RunDownloadTest() {
    // With no profile the resolution stops at the loader, but the agent path is kept;
    // the loader is then given directly.
    rig.app.SetAgentPath(rig.WriteFile("kvr0001.bin", ImageBytes(kAgentSize, 2)).c_str());
    rig.app.SetLoaderPath(rig.WriteFile("kvr.ldr", ImageBytes(kLoaderSize, 1)).c_str());
    rig.app.SetLoaderSkip(4);
    LoadDefaultResultMessages(rig.app);
    rig.dialogs.messages.clear();
  }

  std::string Text(int id) const { return LoadStringResource(id); }
  bool Progressed(const std::string& call) const {
    const auto& calls = rig.progress.calls;
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }

  static constexpr std::size_t kLoaderSize = 2504;
  static constexpr std::size_t kAgentSize = 4200;
  EngineRig rig;
};

TEST_F(RunDownloadTest, HealthyUnitGetsBothImagesAtThePlanRate) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, Text(111)}));
  EXPECT_EQ(unit.stageRates, (std::vector<std::uint32_t>{9600, 115200}));
  EXPECT_EQ(unit.loaderRate, 115200u);
  EXPECT_EQ(unit.loader.size(), kLoaderSize - 4);
  EXPECT_EQ(unit.agent, ImageBytes(kAgentSize, 2));
  EXPECT_TRUE(unit.agentEnded);
  EXPECT_TRUE(rig.world.serial.isOpen);  // the thread object still holds it
  EXPECT_EQ(thread.GetOutcome(), RESULT_SUCCESS);
}

TEST_F(RunDownloadTest, PlanIsChosenByTheExactSpeedText19200) {
  const struct {
    const char* speed;
    std::uint8_t firstByte;
    std::uint32_t rate;
  } cases[] = {{"19200", 0x02, 19200},
               {"19200 ", 0x01, 115200},
               {"115200", 0x01, 115200},
               {"", 0x01, 115200},
               {nullptr, 0x01, 115200}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.speed != nullptr ? c.speed : "(null)");
    rig.app.SetSpeed(c.speed);
    FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
    unit.dialogue[0] = c.firstByte;
    {
      CDownloadThread thread(rig.app);
      rig.world.serial.written.clear();
      thread.RunDownload();
    }
    EXPECT_EQ(rig.world.serial.written.front(), c.firstByte);
    EXPECT_EQ(unit.stageRates, (std::vector<std::uint32_t>{9600, c.rate}));
    EXPECT_EQ(rig.dialogs.messages.back(), Text(111));
  }
}

TEST_F(RunDownloadTest, PortThatCannotBeOpenedShowsOnlyMessage121) {
  rig.world.serial.failOpen = true;
  rig.world.serial.openError = OpenError::NotFound;
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  OpenFailure why;
  why.kind = OpenError::NotFound;
  why.detail = "fake";
  const std::string detail = DescribeOpenFailure(why, "/dev/ttyS0");
  ASSERT_FALSE(detail.empty());
  EXPECT_EQ(rig.dialogs.messages, (Messages{Text(IDS_OPEN_FAILED) + "\n" + detail}));
  EXPECT_TRUE(thread.IsAborted());
  EXPECT_FALSE(thread.GetOutcome().has_value());
  EXPECT_EQ(thread.m_hPort, nullptr);
  EXPECT_TRUE(rig.world.serial.written.empty());
}

TEST_F(RunDownloadTest, FailedHandshakeOpensNeitherImage) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.answerFirstOnSend = 0;
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, Text(115)}));
  EXPECT_EQ(thread.GetOutcome(), RESULT_SYNC_FAILED);
  EXPECT_FALSE(Progressed("warning 0.0"));  // every image send starts with it
  EXPECT_TRUE(unit.loader.empty());
}

TEST_F(RunDownloadTest, TheFirstFailingStepIsTheOutcome) {
  const struct {
    const char* name;
    std::optional<std::uint8_t> loaderResult;
    std::optional<std::uint8_t> probeByte;
    std::optional<std::uint8_t> agentResult;
    ResultCode outcome;
    std::string message;
    bool agentSent;
  } cases[] = {
      {"loader error", 0x0D, std::nullopt, 0x16, 0x0D, "ERROR: Wrong hardware type", false},
      {"loader answers 22", 0x16, std::nullopt, 0x16, 0x16, "TRANSFER COMPLETED SUCCESSFULLY",
       false},
      {"unasked byte", 0x00, 0x05, 0x16, 0x05, "ERROR: Unkown Transfer ID", false},
      {"agent error", 0x00, std::nullopt, 0x13, 0x13, "ERROR: Flash program failure", true},
      {"agent silent", 0x00, std::nullopt, std::nullopt, RESULT_RESULT_TIMEOUT, Text(112), true},
      {"unit code 0 late", 0x00, std::nullopt, 0x00, 0x00, "ERROR: Unknown Result code = 0000\n",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rig.dialogs.messages.clear();
    FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
    unit.loaderResult = c.loaderResult;
    unit.probeByte = c.probeByte;
    unit.agentResult = c.agentResult;
    {
      CDownloadThread thread(rig.app);
      thread.RunDownload();
      EXPECT_EQ(thread.GetOutcome(), c.outcome);
    }
    EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, c.message}));
    EXPECT_EQ(!unit.agent.empty(), c.agentSent);
  }
}

TEST_F(RunDownloadTest, MissingAgentIsNoFile) {
  std::string loader = rig.app.GetLoaderPath();
  rig.app.SetAgentPath(rig.Path("gone.bin").c_str());
  rig.app.SetLoaderPath(loader.c_str());
  rig.dialogs.messages.clear();
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, Text(113)}));
  EXPECT_TRUE(unit.loaderEnded);
  EXPECT_TRUE(unit.agent.empty());
}

TEST_F(RunDownloadTest, CancelledDownloadShowsNoOutcome) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  CDownloadThread thread(rig.app);
  auto unitHook = rig.world.serial.onByte;
  rig.world.serial.onByte = [&, unitHook](FakeSerialPlatform& serial, std::uint8_t byte) {
    unitHook(serial, byte);
    if (unit.loader.size() == 1000) thread.Abort();
  };
  thread.RunDownload();
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff}));
  EXPECT_FALSE(thread.GetOutcome().has_value());
  EXPECT_TRUE(unit.agent.empty());
  EXPECT_FALSE(unit.loaderEnded);
}

// The download on its own thread. The fakes are not thread-safe: the test thread
// looks at them only once the download thread has ended.
class DownloadThreadTest : public RunDownloadTest {
 protected:
  // Starts a download and returns its thread, caught from inside at the first box.
  std::shared_ptr<CDownloadThread> Start() {
    auto caught = std::make_shared<std::promise<std::shared_ptr<CDownloadThread>>>();
    auto once = std::make_shared<std::once_flag>();
    rig.dialogs.onMessage = [this, caught, once](const std::string&) {
      std::call_once(*once, [&] { caught->set_value(rig.app.GetDownloadThread()); });
    };
    auto future = caught->get_future();
    EXPECT_TRUE(rig.app.StartDownload());
    if (future.wait_for(5s) != std::future_status::ready) return nullptr;
    return future.get();
  }

  // Holds the download thread in a fake's hook until StopDownload has asked it to stop.
  std::function<bool()> StopAsked() {
    return [this] {
      auto thread = rig.app.GetDownloadThread();
      return thread == nullptr || thread->IsAborted();
    };
  }

  // Runs StopDownload from the test thread once the download has reached the gate.
  void StopAtGate(ThreadGate& gate, const std::shared_ptr<CDownloadThread>& thread) {
    ASSERT_TRUE(gate.WaitArrived());
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(rig.app.StopDownload(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_TRUE(thread->HasEnded());
    EXPECT_FALSE(rig.app.IsDownloadSet());
  }
};

TEST_F(DownloadThreadTest, NormalEndShowsTheResultClearsThePointerAndReleasesThePort) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  auto thread = Start();
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(thread->WaitForEnd(5s));
  EXPECT_FALSE(rig.app.IsDownloadSet());
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, Text(111)}));
  EXPECT_FALSE(rig.world.serial.isOpen);
  EXPECT_EQ(rig.world.serial.closeCount, 1);
  EXPECT_EQ(rig.app.StopDownload(), 1);
}

TEST_F(DownloadThreadTest, FailedOpenEndsTheThreadButKeepsTheDownloadSetUntilStopped) {
  rig.world.serial.failOpen = true;
  auto thread = Start();
  ASSERT_NE(thread, nullptr);
  ASSERT_TRUE(thread->WaitForEnd(5s));
  EXPECT_TRUE(rig.app.IsDownloadSet());
  EXPECT_FALSE(rig.app.StartDownload());  // the page keeps Finish disabled meanwhile
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].rfind(Text(IDS_OPEN_FAILED), 0), 0u);
  EXPECT_EQ(rig.app.StopDownload(), 0);
  EXPECT_FALSE(rig.app.IsDownloadSet());
}

TEST_F(DownloadThreadTest, StopDuringTheHandshake) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.answerFirstOnSend = 0;
  ThreadGate gate;
  std::size_t writtenAtGate = 0;
  rig.world.serial.onByte = [&](FakeSerialPlatform& serial, std::uint8_t) {
    if (serial.written.size() != 10) return;
    writtenAtGate = serial.written.size();
    gate.Hold(StopAsked());
  };
  auto thread = Start();
  ASSERT_NE(thread, nullptr);
  StopAtGate(gate, thread);
  EXPECT_EQ(rig.world.serial.written.size(), writtenAtGate);  // no further send
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff}));
  EXPECT_FALSE(rig.world.serial.isOpen);
}

TEST_F(DownloadThreadTest, StopWhileTheLoaderStreams) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  ThreadGate gate;
  auto unitHook = rig.world.serial.onByte;
  rig.world.serial.onByte = [&, unitHook](FakeSerialPlatform& serial, std::uint8_t byte) {
    unitHook(serial, byte);
    if (unit.loader.size() == 1500 && !gate.Arrived()) gate.Hold(StopAsked());
  };
  auto thread = Start();
  ASSERT_NE(thread, nullptr);
  StopAtGate(gate, thread);
  EXPECT_EQ(unit.loader.size(), 2000u);  // the chunk under way, no more, no end byte
  EXPECT_FALSE(unit.loaderEnded);
  EXPECT_TRUE(unit.agent.empty());
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff}));
  EXPECT_FALSE(rig.world.serial.isOpen);
}

TEST_F(DownloadThreadTest, StopDuringTheResultWaitReleasesThePortForAnotherRun) {
  std::optional<FakeUnit> unit;
  unit.emplace(rig.world, kLoaderSize - 4, kAgentSize);
  unit->agentResult = std::nullopt;
  ThreadGate gate;
  int readsAfterEnd = 0;
  int readsAfterGate = 0;
  std::int64_t endAt = 0;
  rig.world.serial.onRead = [&](FakeSerialPlatform&) {
    if (!unit->agentEnded) return;
    if (gate.Arrived()) ++readsAfterGate;
    if (readsAfterEnd++ == 0) endAt = rig.world.clock.nowMs;
    if (readsAfterEnd == 30) gate.Hold(StopAsked());
  };
  auto thread = Start();
  ASSERT_NE(thread, nullptr);
  StopAtGate(gate, thread);
  EXPECT_LE(readsAfterGate, 2);
  EXPECT_LT(rig.world.clock.nowMs - endAt, 15000);  // not the 216 s of a full wait
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff}));
  EXPECT_FALSE(rig.world.serial.isOpen);

  // "Again?": the port is free and a healthy unit completes.
  rig.world.serial.onRead = nullptr;
  unit.reset();
  unit.emplace(rig.world, kLoaderSize - 4, kAgentSize);
  rig.dialogs.messages.clear();
  auto again = Start();
  ASSERT_NE(again, nullptr);
  ASSERT_TRUE(again->WaitForEnd(5s));
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, Text(111)}));
}

}  // namespace
}  // namespace portflash::testing
