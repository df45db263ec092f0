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

// The first step is offered up to sixty times (15 s in reads of 250 ms), pulsing the
// bar each time; a read is three attempts, and a step with no whole read sends nothing.
TEST(Handshake, FirstStepIsOfferedUpToSixtyTimes) {
  const SyncStep* plan = g_syncPlan115200.steps;
  const SyncStep laterNoRead{5, 0x5A, 250};
  // steps, the offer that the unit answers (0: none), passes, first bytes sent, all sent, reads
  const std::tuple<std::vector<SyncStep>, unsigned, bool, int, std::size_t, int> cases[] = {
      {{plan, plan + 4}, 1, true, 1, 4, 4},
      {{plan, plan + 4}, 60, true, 60, 63, 59 * 3 + 4},
      {{plan, plan + 4}, 0, false, 60, 60, 60 * 3},
      {{{1, 0x5A, 499}}, 0, false, 1, 1, 3},
      {{{1, 0x5A, 249}}, 1, false, 0, 0, 0},
      {{plan[0], laterNoRead}, 1, false, 1, 2, 1},
      {{}, 1, false, 0, 0, 0},
  };
  for (const auto& [steps, answerOn, passes, firstBytes, sent, reads] : cases) {
    SCOPED_TRACE(::testing::Message() << steps.size() << " steps, answering " << answerOn);
    SyncRig rig;
    rig.unit.emplace(rig.world).options.answerAfter = answerOn;
    rig.unit->options.silent = answerOn == 0;
    const auto count = static_cast<std::uint16_t>(steps.size());
    EXPECT_EQ(rig.thread.RunSyncPlan(steps.data(), count), passes);
    const Bytes& w = rig.world.serial.written;
    EXPECT_EQ(std::count(w.begin(), w.end(), 0x01), firstBytes);
    EXPECT_EQ(w.size(), sent);
    EXPECT_EQ(rig.Pulses(), firstBytes);
    EXPECT_EQ(rig.Reads(), reads);
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
