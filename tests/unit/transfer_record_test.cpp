// The per-image transfer figures that the CLI's --json report reads.
#include <gtest/gtest.h>

#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "support/fake_unit.h"

namespace portflash::testing {
namespace {

class TransferRecordTest : public ::testing::Test {
 protected:
  TransferRecordTest() {
    rig.app.SetAgentPath(rig.WriteFile("kvr0001.bin", ImageBytes(kAgentSize, 2)).c_str());
    rig.app.SetLoaderPath(rig.WriteFile("kvr.ldr", ImageBytes(kLoaderSize, 1)).c_str());
    rig.app.SetLoaderSkip(4);
    LoadDefaultResultMessages(rig.app);
  }

  static constexpr std::size_t kLoaderSize = 2504;
  static constexpr std::size_t kAgentSize = 4200;
  EngineRig rig;
};

TEST_F(TransferRecordTest, CompleteDownloadCountsEachImageAndItsLineTime) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.msPerByte = 2.0;
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  ASSERT_EQ(thread.GetOutcome(), RESULT_SUCCESS);
  const TransferRecord record = thread.GetTransferRecord();
  EXPECT_TRUE(record.loader.started);
  EXPECT_TRUE(record.agent.started);
  // The loader's header is skipped, so it is not counted either.
  EXPECT_EQ(record.loader.bytesSent, kLoaderSize - 4);
  EXPECT_EQ(record.agent.bytesSent, kAgentSize);
  // The unit takes 2 ms a byte; the first chunk's time counts, the result wait does not.
  EXPECT_EQ(record.loader.milliseconds, 2 * static_cast<std::int64_t>(kLoaderSize - 4));
  EXPECT_EQ(record.agent.milliseconds, 2 * static_cast<std::int64_t>(kAgentSize));
}

TEST_F(TransferRecordTest, FailedSynchronisationSendsNoImage) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.answerFirstOnSend = 0;
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(thread.GetOutcome(), RESULT_SYNC_FAILED);
  const TransferRecord record = thread.GetTransferRecord();
  EXPECT_FALSE(record.loader.started);
  EXPECT_FALSE(record.agent.started);
  EXPECT_EQ(record.loader.bytesSent + record.agent.bytesSent, 0u);
}

TEST_F(TransferRecordTest, OnlyWhatTheDriverTookCounts) {
  // The line goes away within the agent's second chunk: that chunk was taken
  // whole, the third is refused.
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.hangUpAfterImageBytes = (kLoaderSize - 4) + 1500;
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(thread.GetOutcome(), RESULT_WRITE_FAILED);
  const TransferRecord record = thread.GetTransferRecord();
  EXPECT_EQ(record.loader.bytesSent, kLoaderSize - 4);
  EXPECT_TRUE(record.agent.started);
  EXPECT_EQ(record.agent.bytesSent, 2000u);
}

TEST_F(TransferRecordTest, EarlyReplyStopsTheCountWhereTheImageStopped) {
  FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
  unit.loaderInterrupt = {{1200, 0x0D}};  // during the second chunk
  CDownloadThread thread(rig.app);
  thread.RunDownload();
  EXPECT_EQ(thread.GetOutcome(), ResultCode{0x0D});
  const TransferRecord record = thread.GetTransferRecord();
  EXPECT_EQ(record.loader.bytesSent, 2000u);
  EXPECT_FALSE(record.agent.started);
  EXPECT_EQ(record.agent.bytesSent, 0u);
}

TEST_F(TransferRecordTest, AnotherDownloadStartsFromZero) {
  CDownloadThread thread(rig.app);
  {
    FakeUnit unit(rig.world, kLoaderSize - 4, kAgentSize);
    thread.RunDownload();
  }
  // The same object sends a smaller agent: its figures replace the first run's.
  rig.app.SetAgentPath(rig.WriteFile("kvr0002.bin", ImageBytes(700, 3)).c_str());
  FakeUnit unit(rig.world, kLoaderSize - 4, 700);
  unit.phase = FakeUnit::Phase::Agent;
  EXPECT_EQ(thread.SendImage(rig.app.GetAgentPath(), 22), RESULT_SUCCESS);
  EXPECT_EQ(thread.GetTransferRecord().agent.bytesSent, 700u);
}

}  // namespace
}  // namespace portflash::testing
