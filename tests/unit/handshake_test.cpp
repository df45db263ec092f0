#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "support/unit_rig.h"

namespace portflash::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The handshake on a thread whose port is open on the fake.
struct SyncRig : OpenPortRig {
  int Pulses() const { return CountCalls(progress.calls, "step 101 0"); }
  int Reads() const { return CountCalls(world.serial.calls, "read"); }
};

TEST(Handshake, FirstStepIsOfferedUpToSixtyTimes) {
  // The send that the unit answers (61: none of the sixty); a silent read is three attempts.
  for (auto [answerOn, passes, reads] :
       {std::tuple{1, true, 4}, {60, true, 59 * 3 + 4}, {61, false, 60 * 3}}) {
    SCOPED_TRACE(answerOn);
    SyncRig rig;
    rig.unit.emplace(rig.world).options.answerAfter = answerOn;
    const std::int64_t start = rig.world.clock.nowMs;
    EXPECT_EQ(rig.thread.RunSyncPlan(g_syncPlan115200.steps, 4), passes);
    const Bytes& w = rig.world.serial.written;
    EXPECT_EQ(std::count(w.begin(), w.end(), 0x01), std::min(answerOn, 60));
    EXPECT_EQ(rig.Pulses(), std::min(answerOn, 60));
    EXPECT_EQ(rig.Reads(), reads);
    EXPECT_EQ(rig.world.clock.nowMs - start, passes ? (answerOn - 1) * 300 : 60 * 300);
  }
}

// Wrong bytes are misses: the first step offers its byte again, a later step
// reads on, printing a dot per miss, and never sends again.
TEST(Handshake, WrongRepliesAreMissesAndLaterStepsReadNineteenTimes) {
  SyncRig rig;
  int offers = 0;
  rig.world.serial.onByte = [&](FakeSerialPlatform& serial, std::uint8_t byte) {
    if (byte == 0x01) serial.Reply(++offers < 3 ? 0x33 : 0x5A);
    if (byte != 0x05) return;
    for (int i = 0; i < 4; ++i) serial.Reply(0x11);
    serial.Reply(0x5A);
  };
  ::testing::internal::CaptureStdout();
  const bool passed = rig.thread.RunSyncPlan(g_syncPlan115200.steps, 4);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string(4 + 19, '.'));
  EXPECT_FALSE(passed);  // the third step is never answered
  EXPECT_EQ(rig.world.serial.written, (Bytes{0x01, 0x01, 0x01, 0x05, 0x0F}));
  EXPECT_EQ(rig.Pulses(), 3);  // only the first step pulses
  EXPECT_EQ(rig.Reads(), 3 + 5 + 19 * 3);
}

TEST(Handshake, StepsAreCountedInWholeReads) {
  // first and later step, step count, whether the unit answers, what is written, reads
  const std::tuple<SyncStep, SyncStep, std::uint16_t, bool, Bytes, int> cases[] = {
      {{1, 0x5A, 499}, {}, 1, false, {1}, 3},                  // one silent read
      {{1, 0x5A, 249}, {}, 1, true, {}, 0},                    // no read: nothing sent
      {{1, 0x5A, 15000}, {5, 0x5A, 250}, 2, true, {1, 5}, 1},  // sent, then no read
      {{1, 0x5A, 15000}, {}, 0, true, {}, 0},                  // an empty plan
  };
  for (const auto& [first, later, count, unitAnswers, written, reads] : cases) {
    SyncRig rig;
    rig.unit.emplace(rig.world).options.silent = !unitAnswers;
    const SyncStep steps[] = {first, later};
    EXPECT_FALSE(rig.thread.RunSyncPlan(steps, count));
    EXPECT_EQ(rig.world.serial.written, written);
    EXPECT_EQ(rig.Reads(), reads);
  }
}

TEST(Handshake, SynchroniseRunsThePlanAt9600ThenAtItsRate) {
  Bytes silentAtNewRate{1, 5, 15, 0};
  silentAtNewRate.insert(silentAtNewRate.end(), 60, 0x01);
  // The unit answers each stage only at its rate, the second at the first byte's.
  // plan, the fastest rate that the line carries, port refuses settings, passes, written
  const std::tuple<SyncPlan, std::uint32_t, bool, bool, Bytes> cases[] = {
      {g_syncPlan19200, 0, false, true, {2, 5, 15, 0, 2, 5, 15, 0}},
      {g_syncPlan115200, 9600, false, false, silentAtNewRate},
      {{12345, 4, g_syncPlan115200.steps}, 0, false, false, {1, 5, 15, 0}},
      {g_syncPlan115200, 0, true, false, {}},  // the port refuses the settings
  };
  for (const auto& [plan, maxRate, refuse, passes, written] : cases) {
    SCOPED_TRACE(plan.rate);
    SyncRig rig;
    rig.world.serial.failConfigure = refuse;
    rig.unit.emplace(rig.world).maxRate = maxRate;
    // What the unit printed while the user was being asked: thrown away once, at the
    // start, so that none of it is taken for an answer or uses up a try.
    for (char ch : std::string(100, 'x')) rig.world.serial.Reply(static_cast<std::uint8_t>(ch));
    EXPECT_EQ(rig.thread.Synchronise(rig.thread.m_hPort, plan),
              passes ? RESULT_SUCCESS : RESULT_SYNC_FAILED);
    EXPECT_EQ(CountCalls(rig.world.serial.calls, "discard input"), refuse ? 0 : 1);
    EXPECT_EQ(rig.world.serial.written, written);
    for (const LineConfig& config : rig.world.serial.configs) {
      EXPECT_EQ(config.parity, Parity::Even);
      EXPECT_TRUE(config.parityCheck);
    }
  }
}

TEST(Handshake, CancelIsAnsweredWithinOneReadInEveryStep) {
  // The abort comes with this byte's send number: between the first step's offers,
  // before the fifth read; in a later step, before its first read.
  for (auto [abortByte, send, reads] : {std::tuple{0x01, 5, 4 * 3}, {0x05, 1, 1}}) {
    SCOPED_TRACE(abortByte);
    SyncRig rig;
    int sends = 0;
    rig.world.serial.onByte = [&](FakeSerialPlatform& serial, std::uint8_t byte) {
      if (byte == 0x01 && abortByte != 0x01) serial.Reply(0x5A);
      if (byte == abortByte && ++sends == send) rig.thread.Abort();
    };
    EXPECT_EQ(rig.thread.Synchronise(rig.thread.m_hPort, g_syncPlan115200), RESULT_SYNC_FAILED);
    EXPECT_EQ(rig.Reads(), reads);
    EXPECT_EQ(CountCalls(rig.world.serial.calls, "configure 115200"), 0);  // no second stage
  }
}

}  // namespace
}  // namespace portflash::testing
