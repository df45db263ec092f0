#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <tuple>

#include "support/unit_rig.h"

namespace portflash::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;
using sim::ImageKind;
using ::testing::Contains;
using ::testing::Not;

// Handshake done: the unit waits for an image.
struct StreamRig : OpenPortRig {
  // A unit that waits for these bytes as the loader or the agent.
  SimUnit& Unit(const Bytes& image, ImageKind kind = ImageKind::Agent) {
    unit.emplace(world, image, image);
    unit->SkipTo(kind);
    return *unit;
  }
  ResultCode Send(const Bytes& bytes, std::uint32_t code = 22) {
    return thread.SendImage(WriteFile("image.bin", bytes).c_str(), code);
  }
  std::vector<std::size_t> WriteSizes() const {
    std::vector<std::size_t> sizes;
    for (const std::string& call : world.serial.calls) {
      if (call.starts_with("write ")) sizes.push_back(std::stoul(call.substr(6)));
    }
    return sizes;
  }
  // Runs then() once the PC has written `count` bytes.
  void AtWritten(std::size_t count, std::function<void()> then) {
    world.serial.onByte = [count, then](FakeSerialPlatform& serial, std::uint8_t) {
      if (serial.written.size() == count) then();
    };
  }
};

Bytes WithEndByte(Bytes bytes, std::size_t keep = SIZE_MAX) {
  bytes.resize(std::min(keep, bytes.size()));
  bytes.push_back(0xFF);
  return bytes;
}

// Images go out in chunks of at most 1000 bytes, then the end byte. A reply before
// the end byte stops the image and is the result as it came: the rest still queued is
// thrown away and the end byte still goes out; after the last chunk the image is
// complete with no wait. "Took" is the streaming's, not the wait's.
TEST(Streaming, ImagesGoOutInChunksOfAtMostAThousandBytesUntilTheUnitReplies) {
  // the image's size, a reply after so many bytes (0: none) and the reply, the result,
  // the writes
  const std::tuple<std::size_t, std::size_t, std::uint8_t, ResultCode, std::vector<std::size_t>>
      cases[] = {
          {0, 0, 0, RESULT_SUCCESS, {1}},
          {1000, 0, 0, RESULT_SUCCESS, {1000, 1}},
          {1001, 0, 0, RESULT_SUCCESS, {1000, 1, 1}},
          {2500, 0, 0, RESULT_SUCCESS, {1000, 1000, 500, 1}},
          {20000, 4500, 0x16, 0x16, {1000, 1000, 1000, 1000, 1000, 1}},  // fifth chunk of twenty
          {3000, 3000, 0x16, RESULT_SUCCESS, {1000, 1000, 1000, 1}},
          {3000, 3000, 0x07, 7, {1000, 1000, 1000, 1}},
      };
  for (const auto& [size, at, reply, result, writes] : cases) {
    SCOPED_TRACE(::testing::Message() << size << " " << at);
    StreamRig rig;
    const Bytes bytes = ImageBytes(size);
    rig.Unit(bytes).HoldAnswer(ImageKind::Agent, 2000);
    if (at != 0) rig.unit->options.replyMid = {ImageKind::Agent, at, false, reply};
    EXPECT_EQ(rig.Send(bytes), result);
    EXPECT_EQ(rig.WriteSizes(), writes);
    const std::size_t sent = std::accumulate(writes.begin(), writes.end(), std::size_t{0}) - 1;
    EXPECT_EQ(rig.world.serial.written, WithEndByte(bytes, sent));
    const Calls& calls = rig.world.serial.calls;
    EXPECT_EQ(calls[calls.size() - 2] == "discard output", sent < size);
    EXPECT_THAT(rig.progress.calls, Contains("complete 103").Times(sent == size ? 1 : 0));
    EXPECT_THAT(rig.progress.calls, Contains("took 103 1").Times(at == 0 ? 1 : 0));
  }
}

// Reports come at the first chunk of each new second, the first one counting one
// second elapsed; the steps add up to the last percentage shown.
TEST(Streaming, ProgressIsReportedOncePerSecondWithTheEstimate) {
  StreamRig rig;
  const Bytes bytes = ImageBytes(10000);
  rig.Unit(bytes).msPerByte = 0.25;  // four chunks a second
  EXPECT_EQ(rig.Send(bytes), RESULT_SUCCESS);
  EXPECT_EQ(rig.progress.calls, (Calls{"warning 0.0", "step 103 10", "estimate 103 10 9",
                                       "step 103 40", "estimate 103 50 1", "step 103 40",
                                       "estimate 103 90 0", "complete 103", "took 103 2"}));
}

// The loader skips its header and counts without it; the agent is sent whole.
TEST(Streaming, SlowFileReadOfMoreThanTwoAndAHalfSecondsWarnsForTheAgentOnly) {
  for (auto [code, readMs, warns] :
       {std::tuple{22u, 2600, true}, {22u, 2500, false}, {0u, 2600, false}}) {
    SCOPED_TRACE(::testing::Message() << code << " " << readMs);
    StreamRig rig;
    rig.app.SetLoaderSkip(4);
    const Bytes bytes = ImageBytes(3004);
    const Bytes sent(bytes.begin() + (code == 0 ? 4 : 0), bytes.end());
    rig.Unit(sent, code == 0 ? ImageKind::Loader : ImageKind::Agent);
    // Only SendImage reads the millisecond clock here: calls 0 and 1 enclose the
    // first chunk's file read.
    rig.world.clock.onMilliseconds = [&](FakeClock& clock, int index) {
      if (index == 1) clock.Advance(readMs);
    };
    EXPECT_EQ(rig.Send(bytes, code), RESULT_SUCCESS);
    EXPECT_EQ(rig.world.serial.written, WithEndByte(sent));
    const std::string ch = std::to_string(code == 0 ? PROGRESS_BOOT : PROGRESS_AGENT);
    Calls expected{"warning 0.0", "step " + ch + " 33", "estimate " + ch + " 33 4"};
    if (warns) expected.push_back("warning 2.6");
    expected.insert(expected.end(), {"complete " + ch, "took " + ch + " 2"});
    EXPECT_EQ(rig.progress.calls, expected);
  }
}

TEST(Streaming, WaitsAreCountedInWholeReads) {
  StreamRig rig;
  const Bytes bytes = ImageBytes(3000);
  rig.Unit(bytes).HoldAnswer(ImageKind::Agent);
  const std::int64_t start = rig.world.clock.nowMs;
  EXPECT_EQ(rig.Send(bytes), RESULT_RESULT_TIMEOUT);
  EXPECT_EQ(rig.world.clock.nowMs - start, 720 * 300);

  // Shorter waits: whole reads of 250 ms; the low byte of the code counts.
  rig.world.serial.calls.clear();
  EXPECT_EQ(rig.thread.WaitForResult(22, 249), RESULT_RESULT_TIMEOUT);
  EXPECT_TRUE(rig.world.serial.calls.empty());
  EXPECT_EQ(rig.thread.WaitForResult(22, 499), RESULT_RESULT_TIMEOUT);
  EXPECT_EQ(CountCalls(rig.world.serial.calls, "read"), 3);
  rig.world.serial.Reply(0x16, 1000);
  EXPECT_EQ(rig.thread.WaitForResult(0x116, 5000), RESULT_SUCCESS);

  // The listen after the loader: any byte of its five reads.
  rig.world.serial.Reply(0x00, 4 * 300 + 150);  // during the fifth read
  EXPECT_EQ(rig.thread.ProbeForReply(), 0);
  rig.world.serial.readAttempts = 0;
  rig.world.serial.Reply(0x09, 5 * 300 + 50);  // too late
  EXPECT_EQ(rig.thread.ProbeForReply(), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.readAttempts, 15);
}

TEST(Streaming, FailedWriteStopsTheImageAndStillTriesTheEndByte) {
  StreamRig rig;
  rig.world.serial.failWrite = true;
  EXPECT_EQ(rig.Send(ImageBytes(5000)), RESULT_WRITE_FAILED);
  EXPECT_EQ(rig.WriteSizes(), (std::vector<std::size_t>{1000, 1}));
  EXPECT_THAT(rig.progress.calls, Not(Contains("complete 103")));
}

// A file that fails or shrinks under us ends the image: retrying could go on for ever,
// and an end byte would tell the unit that the image is whole.
TEST(Streaming, FileThatShrinksMidImageEndsWithoutTheEndByteAndSaysWhy) {
  const std::size_t size = 200000;  // more than the stream's own buffer holds
  for (std::size_t cut : {100000u, 100500u}) {
    SCOPED_TRACE(cut);
    StreamRig rig;
    const Bytes bytes = ImageBytes(size);
    const std::string path = rig.WriteFile("agent.bin", bytes);
    rig.AtWritten(1000, [&] { ASSERT_EQ(::truncate(path.c_str(), off_t(cut)), 0); });
    EXPECT_EQ(rig.thread.SendImage(path.c_str(), 22), RESULT_NO_FILE);
    EXPECT_EQ(rig.world.serial.written, Bytes(bytes.begin(), bytes.begin() + long(cut)));
    EXPECT_EQ(rig.world.serial.calls.back(), "discard output");
    EXPECT_THAT(rig.progress.calls, Not(Contains("complete 103")));
    EXPECT_EQ(rig.thread.OutcomeText(RESULT_NO_FILE),
              "The image file could not be read to the end: " + path +
                  ": the file is shorter than it was");
  }
}

// The driver's queue holds at most one chunk beyond the one being written, and is
// never empty while the image lasts: progress and "Took" follow the wire.
TEST(Streaming, DriverQueueStaysWithinAChunkAndNeverRunsDry) {
  StreamRig rig;
  ASSERT_EQ(ConfigureCommPort(rig.thread.m_hPort, 115200, 1), RESULT_SUCCESS);
  rig.world.serial.lineBytesPerMs = 115200.0 / 11 / 1000;
  const Bytes bytes = ImageBytes(30000);
  rig.Unit(bytes);
  EXPECT_EQ(rig.Send(bytes), RESULT_SUCCESS);
  const std::vector<std::size_t>& queued = rig.world.serial.queuedAtWrite;
  ASSERT_EQ(queued.size(), 31u);  // 30 chunks and the end byte
  EXPECT_LE(*std::max_element(queued.begin(), queued.end() - 1), 1000u);
  EXPECT_GT(*std::min_element(queued.begin() + 1, queued.end()), 0u);
  // The last chunk goes to the driver 2.7 s into the 2.9 s that the image takes on
  // the wire (unbounded, everything would be "sent" at once).
  EXPECT_EQ(rig.progress.calls.back(), "took 103 2");
}

TEST(Streaming, CancelStopsBeforeTheNextChunkWithoutTheEndByte) {
  StreamRig rig;
  rig.AtWritten(2000, [&] { rig.thread.Abort(); });
  EXPECT_EQ(rig.Send(ImageBytes(5000)), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written.size(), 2000u);
  EXPECT_THAT(rig.progress.calls, Not(Contains("complete 103")));
  // The next image after a cancel: nothing sent.
  EXPECT_EQ(rig.Send(ImageBytes(5000)), RESULT_SUCCESS);
  EXPECT_EQ(rig.world.serial.written.size(), 2000u);
}

// A cancel must not keep the port for the minutes that the unit may take: the wait
// ends with the read under way, and shows no time taken.
TEST(Streaming, CancelEndsTheResultWaitWithinTheReadUnderWay) {
  StreamRig rig;
  const Bytes bytes = ImageBytes(3000);
  rig.Unit(bytes).HoldAnswer(ImageKind::Agent);
  rig.world.serial.onRead = [&](FakeSerialPlatform& serial) {
    if (serial.readAttempts == 30) rig.thread.Abort();
  };
  EXPECT_EQ(rig.Send(bytes), RESULT_RESULT_TIMEOUT);
  EXPECT_LE(rig.world.serial.readAttempts, 32);
  EXPECT_EQ(rig.progress.calls.back(), "complete 103");
}

}  // namespace
}  // namespace portflash::testing
