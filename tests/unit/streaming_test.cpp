#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "engine/download_thread.h"
#include "support/fake_unit.h"

namespace portflash::testing {
namespace {

using Calls = std::vector<std::string>;

// Port open and handshake done: the unit waits for an image.
class StreamingTest : public ::testing::Test {
 protected:
  StreamingTest() { thread.m_hPort = OpenCommPort("COM1"); }

  // The sizes of the writes, in order ("write N" calls of the fake).
  std::vector<std::size_t> WriteSizes() const {
    std::vector<std::size_t> sizes;
    for (const std::string& call : rig.world.serial.calls) {
      if (call.rfind("write ", 0) == 0) sizes.push_back(std::stoul(call.substr(6)));
    }
    return sizes;
  }
  bool Progressed(const std::string& call) const {
    const Calls& calls = rig.progress.calls;
    return std::find(calls.begin(), calls.end(), call) != calls.end();
  }
  // Sends an agent of n bytes, written afresh.
  ResultCode SendAgent(std::size_t n) {
    return thread.SendImage(rig.WriteFile("agent.bin", ImageBytes(n)).c_str(), 22);
  }
  std::vector<std::uint8_t> WithEndByte(std::vector<std::uint8_t> bytes) const {
    bytes.push_back(0xFF);
    return bytes;
  }

  EngineRig rig;
  CDownloadThread thread{rig.app};
};

TEST_F(StreamingTest, ImagesGoOutInChunksOfAtMostAThousandBytes) {
  const struct {
    std::size_t size;
    std::vector<std::size_t> writes;  // chunks, then the end byte
  } cases[] = {{1000, {1000, 1}}, {1001, {1000, 1, 1}}, {2500, {1000, 1000, 500, 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    rig.world.serial.calls.clear();
    rig.world.serial.written.clear();
    FakeUnit unit(rig.world, 0, c.size);
    unit.phase = FakeUnit::Phase::Agent;
    auto bytes = ImageBytes(c.size);
    EXPECT_EQ(thread.SendImage(rig.WriteFile("agent.bin", bytes).c_str(), 22), RESULT_SUCCESS);
    EXPECT_EQ(WriteSizes(), c.writes);
    EXPECT_EQ(rig.world.serial.written, WithEndByte(bytes));
  }
}

TEST_F(StreamingTest, EmptyImageSendsTheEndByteAndWaitsForTheResult) {
  FakeUnit unit(rig.world, 0, 0);
  unit.phase = FakeUnit::Phase::Agent;
  unit.agentResultDelayMs = 2000;
  EXPECT_EQ(thread.SendImage(rig.WriteFile("agent.bin", "").c_str(), 22), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0xFF}));
  EXPECT_EQ(rig.progress.calls, (Calls{"warning 0.0", "complete 103", "took 103 1"}));
}

TEST_F(StreamingTest, LoaderSkipsItsHeaderWhileTheAgentIsSentWhole) {
  auto bytes = ImageBytes(2004);
  std::string path = rig.WriteFile("loader.ldr", bytes);
  rig.app.SetLoaderSkip(4);
  FakeUnit unit(rig.world, 2000, 2004);
  unit.phase = FakeUnit::Phase::Loader;
  unit.msPerByte = 1.0;  // one chunk per second
  EXPECT_EQ(thread.SendImage(path.c_str(), 0), RESULT_SUCCESS);
  EXPECT_EQ(unit.loader, std::vector<std::uint8_t>(bytes.begin() + 4, bytes.end()));
  // Percentages over size - skip: 1000 of 2000 is half.
  EXPECT_EQ(rig.progress.calls,
            (Calls{"warning 0.0", "step 102 50", "estimate 102 50 1", "step 102 50",
                   "estimate 102 100 0", "complete 102", "took 102 2"}));
  EXPECT_EQ(thread.SendImage(path.c_str(), 22), RESULT_SUCCESS);
  EXPECT_EQ(unit.agent, bytes);
}

TEST_F(StreamingTest, LoaderWhoseSkipIsItsSizeSendsOnlyTheEndByte) {
  rig.app.SetLoaderSkip(4);
  FakeUnit unit(rig.world, 0, 0);
  unit.phase = FakeUnit::Phase::Loader;
  EXPECT_EQ(thread.SendImage(rig.WriteFile("loader.ldr", ImageBytes(4)).c_str(), 0),
            RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written, (std::vector<std::uint8_t>{0xFF}));
  EXPECT_EQ(rig.progress.calls, (Calls{"warning 0.0", "complete 102", "took 102 1"}));
}

TEST_F(StreamingTest, NothingIsSentOfAFileThatCannotBeUsed) {
  rig.app.SetLoaderSkip(5);
  std::string shortLoader = rig.WriteFile("short.ldr", ImageBytes(4));
  for (const char* path : {shortLoader.c_str(), "/nonexistent/agent.bin", rig.dir.c_str(),
                           static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(path != nullptr ? path : "(null)");
    rig.progress.calls.clear();
    EXPECT_EQ(thread.SendImage(path, 0), RESULT_NO_FILE);
    EXPECT_EQ(rig.progress.calls, (Calls{"warning 0.0"}));
  }
  EXPECT_TRUE(rig.world.serial.written.empty());
}

TEST_F(StreamingTest, ProgressIsReportedOncePerSecondWithTheEstimate) {
  FakeUnit unit(rig.world, 0, 5000);
  unit.phase = FakeUnit::Phase::Agent;
  unit.msPerByte = 1.0;
  EXPECT_EQ(SendAgent(5000), RESULT_SUCCESS);
  // The first report falls in the start's second: elapsed counts as 1.
  EXPECT_EQ(
      rig.progress.calls,
      (Calls{"warning 0.0", "step 103 20", "estimate 103 20 4", "step 103 20", "estimate 103 40 1",
             "step 103 20", "estimate 103 60 1", "step 103 20", "estimate 103 80 0", "step 103 20",
             "estimate 103 100 0", "complete 103", "took 103 5"}));
}

TEST_F(StreamingTest, ChunksWithinOneSecondAreNotReported) {
  FakeUnit unit(rig.world, 0, 10000);
  unit.phase = FakeUnit::Phase::Agent;
  unit.msPerByte = 0.25;  // four chunks a second
  EXPECT_EQ(SendAgent(10000), RESULT_SUCCESS);
  EXPECT_EQ(rig.progress.calls, (Calls{"warning 0.0", "step 103 10", "estimate 103 10 9",
                                       "step 103 40", "estimate 103 50 1", "step 103 40",
                                       "estimate 103 90 0", "complete 103", "took 103 2"}));
  int sum = 0;
  for (const std::string& call : rig.progress.calls) {
    if (call.rfind("step 103 ", 0) == 0) sum += std::stoi(call.substr(9));
  }
  EXPECT_EQ(sum, 90);  // the steps add up to the last percentage shown
}

TEST_F(StreamingTest, SlowFileReadWarnsForTheAgentOnly) {
  const struct {
    std::uint32_t code;
    std::int64_t readMs;
    bool warns;
  } cases[] = {{22, 2600, true}, {22, 2500, false}, {0, 2600, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.code << " " << c.readMs);
    rig.progress.calls.clear();
    FakeUnit unit(rig.world, 3000, 3000);
    unit.phase = c.code == 0 ? FakeUnit::Phase::Loader : FakeUnit::Phase::Agent;
    // Only SendImage reads the millisecond clock here: calls 0 and 1 enclose the
    // first chunk's file read.
    rig.world.clock.nowMs = (rig.world.clock.nowMs / 1000 + 1) * 1000;
    rig.world.clock.millisecondCalls = 0;
    rig.world.clock.onMilliseconds = [&](FakeClock& clock, int index) {
      if (index == 1) clock.Advance(c.readMs);
    };
    std::string path = rig.WriteFile("image.bin", ImageBytes(3000));
    EXPECT_EQ(thread.SendImage(path.c_str(), c.code), RESULT_SUCCESS);
    const int channel = c.code == 0 ? PROGRESS_BOOT : PROGRESS_AGENT;
    Calls expected{"warning 0.0", "step " + std::to_string(channel) + " 33",
                   "estimate " + std::to_string(channel) + " 33 4"};
    if (c.warns) expected.push_back("warning 2.6");
    expected.push_back("complete " + std::to_string(channel));
    expected.push_back("took " + std::to_string(channel) + " 2");
    EXPECT_EQ(rig.progress.calls, expected);
  }
  rig.world.clock.onMilliseconds = nullptr;
}

TEST_F(StreamingTest, ReplyDuringTheImageStopsItAndIsTheResultAsItCame) {
  FakeUnit unit(rig.world, 20000, 0);
  unit.phase = FakeUnit::Phase::Loader;
  unit.loaderInterrupt = {{4500, 0x00}};  // during the fifth chunk of twenty
  auto bytes = ImageBytes(20000);
  EXPECT_EQ(thread.SendImage(rig.WriteFile("loader.ldr", bytes).c_str(), 0), 0);
  EXPECT_EQ(rig.world.serial.written,
            WithEndByte(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 5000)));
  EXPECT_FALSE(Progressed("complete 102"));
  EXPECT_FALSE(Progressed("took 102 1"));
}

TEST_F(StreamingTest, ReplyRightAfterTheLastChunkIsTheResultWithoutAWait) {
  const struct {
    std::uint8_t reply;
    ResultCode result;
  } cases[] = {{0x00, RESULT_SUCCESS}, {0x07, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.reply));
    rig.progress.calls.clear();
    rig.world.serial.written.clear();
    FakeUnit unit(rig.world, 3000, 0);
    unit.phase = FakeUnit::Phase::Loader;
    unit.loaderInterrupt = {{3000, c.reply}};
    unit.loaderResult = std::nullopt;
    EXPECT_EQ(thread.SendImage(rig.WriteFile("loader.ldr", ImageBytes(3000)).c_str(), 0), c.result);
    EXPECT_EQ(rig.world.serial.written.back(), 0xFF);
    EXPECT_EQ(rig.progress.calls.back(), "complete 102");
  }
}

TEST_F(StreamingTest, ResultWaitShowsTheStreamingTimeAndComparesTheByte) {
  {
    FakeUnit unit(rig.world, 0, 3000);
    unit.phase = FakeUnit::Phase::Agent;
    unit.msPerByte = 1.0;
    unit.agentResultDelayMs = 100000;
    const std::int64_t start = rig.world.clock.nowMs;
    EXPECT_EQ(SendAgent(3000), RESULT_SUCCESS);
    EXPECT_GE(rig.world.clock.nowMs - start, 103000);
    EXPECT_EQ(rig.progress.calls.back(), "took 103 3");
  }
  {
    FakeUnit unit(rig.world, 0, 3000);
    unit.phase = FakeUnit::Phase::Agent;
    unit.agentResult = 0x03;
    EXPECT_EQ(SendAgent(3000), 3);
  }
  {
    FakeUnit unit(rig.world, 0, 3000);
    unit.phase = FakeUnit::Phase::Agent;
    unit.agentResult = std::nullopt;
    rig.world.serial.calls.clear();
    const std::int64_t start = rig.world.clock.nowMs;
    EXPECT_EQ(SendAgent(3000), RESULT_RESULT_TIMEOUT);
    const auto& calls = rig.world.serial.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "wait 100"), 720 * 3);
    EXPECT_EQ(rig.world.clock.nowMs - start, 720 * 300);
  }
}

TEST_F(StreamingTest, WaitForResultCountsReadsFromTheTimeOut) {
  rig.world.serial.calls.clear();
  EXPECT_EQ(thread.WaitForResult(22, 249), RESULT_RESULT_TIMEOUT);
  EXPECT_TRUE(rig.world.serial.calls.empty());
  EXPECT_EQ(thread.WaitForResult(22, 499), RESULT_RESULT_TIMEOUT);
  EXPECT_EQ(rig.world.serial.readAttempts, 3);

  rig.world.serial.Reply(0x16, 1000);
  EXPECT_EQ(thread.WaitForResult(0x116, 5000), RESULT_SUCCESS);  // the low byte counts
  rig.world.serial.Reply(0x00);
  EXPECT_EQ(thread.WaitForResult(22, 5000), 0);
}

TEST_F(StreamingTest, ProbeReturnsAnyByteOfItsFiveReads) {
  rig.world.serial.Reply(0x00, 4 * 300 + 150);  // during the fifth read
  EXPECT_EQ(thread.ProbeForReply(), 0);

  rig.world.serial.readAttempts = 0;
  rig.world.serial.Reply(0x09, 5 * 300 + 50);  // too late
  EXPECT_EQ(thread.ProbeForReply(), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.readAttempts, 15);
  EXPECT_EQ(rig.world.serial.PendingReplies(), 1u);
}

TEST_F(StreamingTest, FailedWriteStopsTheImageAndStillTriesTheEndByte) {
  rig.world.serial.failWrite = true;
  EXPECT_EQ(SendAgent(5000), RESULT_WRITE_FAILED);
  EXPECT_EQ(WriteSizes(), (std::vector<std::size_t>{1000, 1}));
  EXPECT_FALSE(Progressed("complete 103"));
}

TEST_F(StreamingTest, HangUpDuringTheImageIsAWriteFailure) {
  FakeUnit unit(rig.world, 0, 5000);
  unit.phase = FakeUnit::Phase::Agent;
  unit.hangUpAfterImageBytes = 2500;
  EXPECT_EQ(SendAgent(5000), RESULT_WRITE_FAILED);
  EXPECT_EQ(unit.agent.size(), 3000u);  // the chunk under way, then nothing more
}

TEST_F(StreamingTest, FileThatShrinksMidImageEndsTheTransferAsNoFile) {
  // Large enough that the stream's own buffer cannot hold what is left.
  const std::size_t size = 200000;
  for (std::size_t cut : {100000u, 100500u}) {
    SCOPED_TRACE(cut);
    rig.world.serial.written.clear();
    rig.progress.calls.clear();
    auto bytes = ImageBytes(size);
    std::string path = rig.WriteFile("agent.bin", bytes);
    FakeUnit unit(rig.world, 0, size);
    unit.phase = FakeUnit::Phase::Agent;
    auto unitHook = rig.world.serial.onByte;
    rig.world.serial.onByte = [&, unitHook](FakeSerialPlatform& serial, std::uint8_t byte) {
      unitHook(serial, byte);
      if (unit.agent.size() == 1000) {
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(cut)), 0);
      }
    };
    EXPECT_EQ(thread.SendImage(path.c_str(), 22), RESULT_NO_FILE);
    bytes.resize(cut);
    EXPECT_EQ(rig.world.serial.written, WithEndByte(bytes));
    EXPECT_FALSE(Progressed("complete 103"));
  }
}

TEST_F(StreamingTest, CancelStopsBeforeTheNextChunkWithoutTheEndByte) {
  FakeUnit unit(rig.world, 0, 5000);
  unit.phase = FakeUnit::Phase::Agent;
  auto unitHook = rig.world.serial.onByte;
  rig.world.serial.onByte = [&, unitHook](FakeSerialPlatform& serial, std::uint8_t byte) {
    unitHook(serial, byte);
    if (unit.agent.size() == 2000) thread.Abort();
  };
  EXPECT_EQ(SendAgent(5000), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written.size(), 2000u);
  EXPECT_FALSE(Progressed("complete 103"));
  // The agent after a cancelled loader: opened, nothing sent.
  EXPECT_EQ(thread.SendImage(rig.WriteFile("more.bin", ImageBytes(5000)).c_str(), 22),
            RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written.size(), 2000u);
}

TEST_F(StreamingTest, CancelDuringTheResultWaitEndsItWithinOneRead) {
  FakeUnit unit(rig.world, 0, 1000);
  unit.phase = FakeUnit::Phase::Agent;
  unit.agentResult = std::nullopt;
  int readsAfterEnd = 0;
  int readsAfterCancel = 0;
  std::int64_t endAt = 0;
  rig.world.serial.onRead = [&](FakeSerialPlatform&) {
    if (!unit.agentEnded) return;
    if (readsAfterEnd++ == 0) endAt = rig.world.clock.nowMs;
    if (thread.IsAborted()) ++readsAfterCancel;
    if (readsAfterEnd == 10) thread.Abort();
  };
  EXPECT_EQ(SendAgent(1000), RESULT_RESULT_TIMEOUT);
  EXPECT_LE(readsAfterCancel, 2);  // the rest of the read under way
  EXPECT_LT(rig.world.clock.nowMs - endAt, 4000);
  EXPECT_FALSE(Progressed("took 103 1"));
  EXPECT_TRUE(Progressed("complete 103"));
  rig.world.serial.onRead = nullptr;
}

}  // namespace
}  // namespace portflash::testing
