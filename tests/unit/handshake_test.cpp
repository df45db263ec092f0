#include <gtest/gtest.h>

#include <algorithm>

#include "engine/download_thread.h"
#include "support/fake_unit.h"

namespace portflash::testing {
namespace {

constexpr int kSilentReadMs = 300;  // three attempts, each followed by a 100 ms wait

// A download thread with its port open on the fake, as RunDownload leaves it.
class HandshakeTest : public ::testing::Test {
 protected:
  HandshakeTest() { thread.m_hPort = OpenCommPort("COM1"); }

  int Count(const std::vector<std::string>& calls, const std::string& what) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), what));
  }
  int Pulses() const { return Count(rig.progress.calls, "step 101 0"); }
  int Reads() const { return Count(rig.world.serial.calls, "read"); }
  int Sent(std::uint8_t byte) const {
    const auto& w = rig.world.serial.written;
    return static_cast<int>(std::count(w.begin(), w.end(), byte));
  }

  EngineRig rig;
  CDownloadThread thread{rig.app};
};

TEST_F(HandshakeTest, FirstStepPassesOnTheVeryFirstAnswer) {
  FakeUnit unit(rig.world, 0, 0);
  ASSERT_TRUE(thread.RunSyncPlan(g_syncPlan115200.steps, 4));
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01, 0x05, 0x0F, 0x00}));
  EXPECT_EQ(Pulses(), 1);
  EXPECT_EQ(Reads(), 4);  // each answer is waiting when its read begins
}

TEST_F(HandshakeTest, FirstStepPassesWhenTheSixtiethSendIsAnswered) {
  FakeUnit unit(rig.world, 0, 0);
  unit.answerFirstOnSend = 60;
  ASSERT_TRUE(thread.RunSyncPlan(g_syncPlan115200.steps, 4));
  EXPECT_EQ(Sent(0x01), 60);
  EXPECT_EQ(Pulses(), 60);
}

TEST_F(HandshakeTest, FirstStepFailsAfterSixtySilentReadsWithoutAFurtherSend) {
  FakeUnit unit(rig.world, 0, 0);
  unit.answerFirstOnSend = 61;
  const std::int64_t start = rig.world.clock.nowMs;
  EXPECT_FALSE(thread.RunSyncPlan(g_syncPlan115200.steps, 4));
  EXPECT_EQ(Sent(0x01), 60);
  EXPECT_EQ(rig.world.serial.written.size(), 60u);
  EXPECT_EQ(Pulses(), 60);
  EXPECT_EQ(Reads(), 60 * 3);
  EXPECT_EQ(rig.world.clock.nowMs - start, 60 * kSilentReadMs);  // about 18 s on a real line
}

TEST_F(HandshakeTest, WrongReplyInTheFirstStepIsAMissAndTheByteIsSentAgain) {
  int sends = 0;
  rig.world.serial.onByte = [&](FakeSerialPlatform& serial, std::uint8_t byte) {
    if (byte == 0x01) serial.Reply(++sends < 3 ? 0x33 : 0x5A);
  };
  EXPECT_TRUE(thread.RunSyncPlan(g_syncPlan115200.steps, 1));
  EXPECT_EQ(sends, 3);
  EXPECT_EQ(Pulses(), 3);
}

TEST_F(HandshakeTest, LaterStepWritesADotPerMissAndNeverResends) {
  int misses = 0;
  rig.world.serial.onByte = [&](FakeSerialPlatform& serial, std::uint8_t byte) {
    if (byte == 0x01) serial.Reply(0x5A);
    if (byte == 0x05) {
      // Wrong bytes first, then the answer: the step keeps reading.
      for (int i = 0; i < 4; ++i) serial.Reply(0x11);
      serial.Reply(0x5A);
      misses = 4;
    }
  };
  ::testing::internal::CaptureStdout();
  bool passed = thread.RunSyncPlan(g_syncPlan115200.steps, 2);
  std::string dots = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(passed);
  EXPECT_EQ(dots, std::string(static_cast<std::size_t>(misses), '.'));
  EXPECT_EQ(Sent(0x05), 1);
  EXPECT_EQ(Pulses(), 1);  // only the first step pulses
}

TEST_F(HandshakeTest, LaterStepFailsAfterNineteenMisses) {
  rig.world.serial.onByte = [](FakeSerialPlatform& serial, std::uint8_t byte) {
    if (byte == 0x01) serial.Reply(0x5A);
  };
  ::testing::internal::CaptureStdout();
  bool passed = thread.RunSyncPlan(g_syncPlan115200.steps, 4);
  std::string dots = ::testing::internal::GetCapturedStdout();
  EXPECT_FALSE(passed);
  EXPECT_EQ(dots, std::string(19, '.'));
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01, 0x05}));
  EXPECT_EQ(Reads(), 1 + 19 * 3);
}

TEST_F(HandshakeTest, StepsWithACountOfOne) {
  const SyncStep steps[] = {{0x01, 0x5A, 499}, {0x05, 0x5A, 250}};
  // A silent first step: one send, one read.
  EXPECT_FALSE(thread.RunSyncPlan(steps, 2));
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01}));
  EXPECT_EQ(Reads(), 3);

  // A later step: its byte goes out and it fails without reading.
  rig.world.serial.written.clear();
  rig.world.serial.calls.clear();
  rig.world.serial.onByte = [](FakeSerialPlatform& serial, std::uint8_t byte) {
    if (byte == 0x01) serial.Reply(0x5A);
  };
  EXPECT_FALSE(thread.RunSyncPlan(steps, 2));
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01, 0x05}));
  EXPECT_EQ(Reads(), 1);
}

TEST_F(HandshakeTest, StepsShorterThanOneReadFailAtOnceWithoutSending) {
  FakeUnit unit(rig.world, 0, 0);
  const SyncStep shortFirst[] = {{0x01, 0x5A, 249}};
  EXPECT_FALSE(thread.RunSyncPlan(shortFirst, 1));
  EXPECT_TRUE(rig.world.serial.written.empty());
  EXPECT_EQ(Pulses(), 0);

  const SyncStep shortLater[] = {{0x01, 0x5A, 15000}, {0x05, 0x5A, 100}};
  unit.dialogue = {0x01, 0x05};
  EXPECT_FALSE(thread.RunSyncPlan(shortLater, 2));
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01}));

  EXPECT_FALSE(thread.RunSyncPlan(g_syncPlan115200.steps, 0));  // an empty plan
}

TEST_F(HandshakeTest, BothStagesRunAt9600ThenAtThePlanRate) {
  FakeUnit unit(rig.world, 0, 0);
  unit.dialogue = {0x02, 0x05, 0x0F, 0x00};
  EXPECT_EQ(thread.Synchronise(thread.m_hPort, g_syncPlan19200), RESULT_SUCCESS);
  EXPECT_EQ(unit.stageRates, (std::vector<std::uint32_t>{9600, 19200}));
  ASSERT_EQ(rig.world.serial.configs.size(), 2u);
  for (const LineConfig& config : rig.world.serial.configs) {
    EXPECT_EQ(config.parity, Parity::Even);
    EXPECT_TRUE(config.parityCheck);
    EXPECT_EQ(config.byteSize, 8);
  }
  // The same bytes in both stages.
  EXPECT_EQ(rig.world.serial.written,
            (std::vector<std::uint8_t>{0x02, 0x05, 0x0F, 0x00, 0x02, 0x05, 0x0F, 0x00}));
}

TEST_F(HandshakeTest, OneStepPlanRunsOnlyTheFirstStepInEachStage) {
  FakeUnit unit(rig.world, 0, 0);
  unit.dialogue = {0x01};
  const SyncStep step[] = {{0x01, 0x5A, 15000}};
  const SyncPlan plan{56000, 1, step};
  EXPECT_EQ(thread.Synchronise(thread.m_hPort, plan), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0x01, 0x01}));
  EXPECT_EQ(unit.stageRates, (std::vector<std::uint32_t>{9600, 56000}));
}

TEST_F(HandshakeTest, FailuresBecomeSyncFailed) {
  {
    FakeUnit unit(rig.world, 0, 0);
    unit.answeringStages = 1;  // silent at the new rate
    EXPECT_EQ(thread.Synchronise(thread.m_hPort, g_syncPlan115200), RESULT_SYNC_FAILED);
    EXPECT_EQ(unit.stageRates.size(), 1u);
  }
  {
    // A rate that the link refuses ends the handshake after the first stage.
    FakeUnit unit(rig.world, 0, 0);
    rig.world.serial.written.clear();
    const SyncPlan badRate{12345, 4, g_syncPlan115200.steps};
    EXPECT_EQ(thread.Synchronise(thread.m_hPort, badRate), RESULT_SYNC_FAILED);
    EXPECT_EQ(rig.world.serial.written.size(), 4u);
  }
  {
    rig.world.serial.written.clear();
    rig.world.serial.failConfigure = true;
    EXPECT_EQ(thread.Synchronise(thread.m_hPort, g_syncPlan115200), RESULT_SYNC_FAILED);
    EXPECT_TRUE(rig.world.serial.written.empty());
  }
}

TEST_F(HandshakeTest, CancelDuringFirstStepRetriesStopsBeforeTheNextPulse) {
  int sends = 0;
  rig.world.serial.onByte = [&](FakeSerialPlatform&, std::uint8_t) {
    if (++sends == 5) thread.Abort();
  };
  EXPECT_EQ(thread.Synchronise(thread.m_hPort, g_syncPlan115200), RESULT_SYNC_FAILED);
  EXPECT_EQ(sends, 5);
  EXPECT_EQ(Pulses(), 4);
  EXPECT_EQ(rig.world.serial.configs.size(), 1u);  // no second stage
}

}  // namespace
}  // namespace portflash::testing
