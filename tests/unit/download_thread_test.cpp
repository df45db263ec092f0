#include "engine/download_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <tuple>
#include <utility>

#include "engine/result_messages.h"
#include "res/string_table.h"
#include "support/unit_rig.h"

namespace portflash::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;
using namespace std::chrono_literals;
using sim::ImageKind;

constexpr std::size_t kLoaderBody = 2500;  // sent of the loader: its 4-byte header is skipped
constexpr std::size_t kAgentSize = 4200;
const Bytes kLoader = ImageBytes(kLoaderBody + 4, 1);
const Bytes kAgent = ImageBytes(kAgentSize, 2);
const std::string kDisconnected =
    LoadStringResource(114) + std::string("\nThe serial device was disconnected");

std::string Text(int id) {
  return LoadStringResource(id);
}

// A complete image set on fakes, and a unit that takes it.
struct DownloadRig : EngineRig {
  DownloadRig() {
    SetImages(WriteFile("kvr0001.bin", kAgent));
    LoadDefaultResultMessages(app);
    dialogs.messages.clear();
  }
  // The resolution stops at the missing profile but keeps the agent path; the
  // loader is then given directly.
  void SetImages(const std::string& agent) {
    app.SetAgentPath(agent.c_str());
    app.SetLoaderPath(WriteFile("kvr.ldr", kLoader).c_str());
    app.SetLoaderSkip(4);
  }
  SimUnit unit{world, Bytes(kLoader.begin() + 4, kLoader.end()), kAgent};
};

// A line that is gone ends the download in any phase with that reason, and the
// port is released before the outcome shows.
TEST(RunDownload, FirstFailingStepIsTheOutcomeAndEachImageCountsWhatTheDriverTook) {
  static constexpr std::size_t none = SIZE_MAX;  // the image was never started
  // what goes wrong, the outcome and its text, bytes sent of the loader and the agent
  using Set = std::function<void(DownloadRig&)>;
  const std::tuple<const char*, Set, ResultCode, std::string, std::size_t, std::size_t> cases[] = {
      {"healthy", [](DownloadRig&) {}, RESULT_SUCCESS, Text(111), kLoaderBody, kAgentSize},
      {"handshake fails", [](DownloadRig& r) { r.unit.options.silent = true; }, RESULT_SYNC_FAILED,
       Text(115), none, none},
      {"port refuses the settings", [](DownloadRig& r) { r.world.serial.failConfigure = true; },
       RESULT_SYNC_FAILED, Text(115), none, none},
      {"loader error", [](DownloadRig& r) { r.unit.options.loaderCode = 0x0D; }, 0x0D,
       "ERROR: Wrong hardware type", kLoaderBody, none},
      {"loader answers 22", [](DownloadRig& r) { r.unit.options.loaderCode = 0x16; }, 0x16,
       "TRANSFER COMPLETED SUCCESSFULLY", kLoaderBody, none},
      {"unasked byte", [](DownloadRig& r) { r.unit.options.unasked = 0x05; }, 0x05,
       "ERROR: Unkown Transfer ID", kLoaderBody, none},
      {"loader shorter than its header",
       [](DownloadRig& r) { r.app.SetLoaderSkip(kLoaderBody + 5); }, RESULT_NO_FILE, Text(113),
       none, none},
      {"agent missing", [](DownloadRig& r) { r.SetImages(r.Path("gone.bin")); }, RESULT_NO_FILE,
       Text(113), kLoaderBody, none},
      {"agent error", [](DownloadRig& r) { r.unit.options.agentCode = 0x13; }, 0x13,
       "ERROR: Flash program failure", kLoaderBody, kAgentSize},
      {"agent silent", [](DownloadRig& r) { r.unit.HoldAnswer(ImageKind::Agent); },
       RESULT_RESULT_TIMEOUT, Text(112), kLoaderBody, kAgentSize},
      {"hang-up for the loader's answer",
       [](DownloadRig& r) {
         r.unit.options.hangup = {ImageKind::Loader, 0, true};
       },
       RESULT_WRITE_FAILED, kDisconnected, kLoaderBody, none},
      // Within the agent's second chunk: that chunk was taken whole, the third is refused.
      {"hang-up in the agent",
       [](DownloadRig& r) {
         r.unit.options.hangup = {ImageKind::Agent, 1500};
       },
       RESULT_WRITE_FAILED, kDisconnected, kLoaderBody, 2000},
  };
  for (const auto& [name, set, outcome, message, loaderSent, agentSent] : cases) {
    SCOPED_TRACE(name);
    DownloadRig rig;
    rig.unit.msPerByte = 2.0;
    set(rig);
    rig.dialogs.messages.clear();
    // What the unit printed while the user was being asked: none of it is taken for
    // an answer or uses up a try.
    for (char ch : std::string(100, 'x')) rig.world.serial.Reply(static_cast<std::uint8_t>(ch));
    bool openAtOutcome = false;
    rig.dialogs.onMessage = [&](const std::string&) { openAtOutcome = rig.world.serial.isOpen; };
    CDownloadThread thread(rig.app);
    thread.RunDownload();
    EXPECT_EQ(thread.GetOutcome(), outcome);
    EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff, message}));
    EXPECT_EQ(openAtOutcome, message != kDisconnected);
    // Only what came before the handshake is thrown away, and only once.
    EXPECT_EQ(CountCalls(rig.world.serial.calls, "discard input"),
              rig.world.serial.failConfigure ? 0 : 1);
    const TransferRecord record = thread.GetTransferRecord();
    for (auto [image, sent] : {std::pair{record.loader, loaderSent}, {record.agent, agentSent}}) {
      EXPECT_EQ(image.started, sent != none);
      EXPECT_EQ(image.bytesSent, sent != none ? sent : 0);
      // The line takes 2 ms a byte: the streaming counts, the result wait does not.
      EXPECT_EQ(image.milliseconds, 2 * static_cast<std::int64_t>(image.bytesSent));
    }
  }
}

// A cancel confirmed at the power-off request: nothing configured, nothing sent.
TEST(RunDownload, CancelAtThePowerOffRequestLeavesThePortUntouched) {
  DownloadRig rig;
  {
    CDownloadThread thread(rig.app);
    rig.dialogs.onMessage = [&](const std::string&) { thread.Abort(); };
    thread.RunDownload();
    EXPECT_FALSE(thread.GetOutcome().has_value());
  }  // the port is closed with the thread
  EXPECT_EQ(rig.dialogs.messages, (Messages{kPowerOff}));
  EXPECT_TRUE(rig.world.serial.written.empty());
  EXPECT_EQ(rig.world.serial.current, rig.world.serial.initialSettings);
}

TEST(RunDownload, PlanIsChosenByTheExactSpeedText19200) {
  for (auto [speed, firstByte] :
       {std::pair<const char*, std::uint8_t>{"19200", 0x02}, {"19200 ", 0x01}, {nullptr, 0x01}}) {
    SCOPED_TRACE(speed != nullptr ? speed : "(null)");
    DownloadRig rig;
    rig.app.SetSpeed(speed);
    CDownloadThread(rig.app).RunDownload();
    // The unit takes the second stage and the images only at the first byte's rate.
    EXPECT_EQ(rig.world.serial.written.front(), firstByte);
    EXPECT_EQ(rig.dialogs.messages.back(), Text(111));
  }
}

// A failed open shows only its reason and keeps the download set until stopped: the
// page keeps Finish disabled meanwhile. The holder search skips this process: the
// previous download that a cancel gave up waiting for is named as the holder, not
// "another program". The fakes are not thread-safe: the test thread looks at them
// only while the download thread is held or once it has ended.
TEST(DownloadThread, AgainWhileAnAbandonedDownloadStillHoldsThePortSaysSoUntilStopped) {
  DownloadRig rig;
  rig.app.SetStopWait(50ms);
  // The first read holds the download thread until released (a failed assertion
  // breaks the promise, which releases it too).
  std::promise<void> arrived, release;
  rig.world.serial.onRead = [&arrived, released = release.get_future().share(),
                             once = true](FakeSerialPlatform&) mutable {
    if (!std::exchange(once, false)) return;
    arrived.set_value();
    released.wait_for(20s);
  };
  ASSERT_TRUE(rig.app.StartDownload());
  auto first = rig.app.GetDownloadThread();
  ASSERT_EQ(arrived.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(rig.app.StopDownload(), 0);
  ASSERT_TRUE(rig.app.StartDownload());
  auto second = rig.app.GetDownloadThread();
  ASSERT_TRUE(second->WaitForEnd(5s));
  release.set_value();
  ASSERT_TRUE(first->WaitForEnd(5s));
  EXPECT_EQ(rig.dialogs.Messages(),
            (Messages{kPowerOff, Text(IDS_OPEN_FAILED) + "\n" + ComDevice(1) +
                                     " is still held by the previous download, which is still "
                                     "ending; try again in a moment."}));
  EXPECT_FALSE(rig.app.IsAbandonedDownloadAlive());
  EXPECT_TRUE(rig.app.IsDownloadSet());
  EXPECT_FALSE(rig.app.StartDownload());
  EXPECT_EQ(rig.app.StopDownload(), 0);
  EXPECT_FALSE(rig.app.IsDownloadSet());
}

}  // namespace
}  // namespace portflash::testing
