#include "engine/serial_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "app/update_app.h"
#include "support/unit_rig.h"

namespace portflash {
namespace {

using ::testing::ElementsAre;
using testing::FakeSerialPlatform;
using ::testing::StartsWith;
using Calls = std::vector<std::string>;

// An application object whose profile and cable setting the link reads.
struct AppWorld {
  explicit AppWorld(int allSignals = 1) { app.SetAllSignals(allSignals); }
  testing::MapProfile profile;
  testing::Recorder ui;
  CUpdateApp app{profile, ui};
};

class SerialLink : public ::testing::Test {
 protected:
  ~SerialLink() override {
    CloseCommPort(port);
    SetCommAbortFlag(nullptr);
  }
  // Opens the device, configured at rate unless it is 0, and forgets the calls so far.
  void Open(std::uint32_t rate = 0) {
    port = OpenCommPort("/dev/fake");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(rate != 0 ? ConfigureCommPort(port, rate, 1) : RESULT_SUCCESS, RESULT_SUCCESS);
    serial.calls.clear();
  }
  void Close() { CloseCommPort(std::exchange(port, nullptr)); }

  testing::FakeWorld fake;
  testing::FakeClock& clock = fake.clock;
  FakeSerialPlatform& serial = fake.serial;
  CommHandle port = nullptr;
};

TEST_F(SerialLink, EachCableAndParityFlagGetsItsLineConfigExactly) {
  // Without an application the cable is "All Signals"; any set bit of the flag is parity.
  for (auto [hasApp, allSignals, parityFlag] :
       {std::tuple{true, 0, 0x100}, {true, 1, 0}, {false, 0, 1}}) {
    std::optional<AppWorld> world;
    if (hasApp) world.emplace(allSignals);
    Open();
    ASSERT_EQ(ConfigureCommPort(port, 19200, std::uint16_t(parityFlag)), RESULT_SUCCESS);
    EXPECT_EQ(*serial.Config(),
              testing::CableConfig(19200, !hasApp || allSignals != 0, parityFlag != 0));
    Close();
  }
}

TEST_F(SerialLink, BadRateOrRefusedSettingsLeaveThePortAsItWas) {
  serial.hasModemLines = true;
  serial.modemLines = kModemRts;
  Open();
  const SavedLineSettings before = serial.current;
  for (std::uint32_t rate : {0u, 9601u, 57600u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ConfigureCommPort(port, rate, 1), RESULT_BAD_BAUD) << rate;
  }
  EXPECT_TRUE(serial.calls.empty());
  serial.failConfigure = true;
  EXPECT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_CONFIG_FAILED);
  EXPECT_EQ(ConfigureCommPort(nullptr, 115200, 1), RESULT_CONFIG_FAILED);
  EXPECT_EQ(serial.current, before);
  EXPECT_EQ(serial.modemLines, kModemRts);
}

// Each handle keeps the settings and modem lines that its device had at the open:
// every configuration starts from them, and the close puts them back.
TEST_F(SerialLink, SettingsAndModemLinesAreEveryConfiguresBaseAndComeBackAtClose) {
  AppWorld world(0);
  serial.hasModemLines = true;
  serial.modemLines = kModemDtr | kModemRts;  // and DSR off
  Open(9600);
  EXPECT_TRUE(WriteCommByte(0x01));  // "TX and RX Only" ignores DSR and leaves RTS alone
  EXPECT_EQ(serial.modemLines, 0u);
  world.app.SetAllSignals(1);  // the cable is read again on every call
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  EXPECT_EQ(serial.modemLines, kModemDtr);
  // The fake appends each configured rate to the base it is given: one rate, not two.
  EXPECT_EQ(serial.current.size, serial.initialSettings.size + sizeof(std::uint32_t));

  Close();
  EXPECT_EQ(serial.modemLines, kModemDtr | kModemRts);
  EXPECT_EQ(serial.current, serial.initialSettings);
  EXPECT_EQ(g_hCommPort, nullptr);  // no dangling handle for this thread's reads
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  EXPECT_FALSE(WriteCommByte(1));
  CloseCommPort(nullptr);
  EXPECT_EQ(testing::CountCalls(serial.calls, "close"), 1);
}

// Three attempts with a 100 ms wait after each miss; a waiting byte is taken at once.
TEST_F(SerialLink, ReadTriesThreeTimesWithAPauseAfterEachMiss) {
  Open();
  const std::int64_t start = clock.nowMs;
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  EXPECT_EQ(serial.calls, (Calls{"read", "wait 100", "read", "wait 100", "read", "wait 100"}));
  serial.Reply(0x00);  // a zero byte is a byte
  EXPECT_EQ(ReadCommByte(), 0x00);
  EXPECT_EQ(clock.nowMs - start, 300);
}

// A block goes out whole and then one look for a reply. A write that fails reads
// nothing. A device that stops taking bytes is waited for; after a cancel it is
// given up on, while one that takes bytes is still written to.
TEST_F(SerialLink, BlockWriteGoesOutWholeThenLooksOnceForAReplyUnlessItFailsOrStalls) {
  Open();
  serial.writeLimit = 7;  // the driver takes at most 7 bytes a call
  const std::vector<std::uint8_t> block = testing::ImageBytes(100);
  EXPECT_EQ(WriteCommBlock(block.data(), block.size()), RESULT_NO_DATA);
  EXPECT_EQ(serial.written, block);
  EXPECT_EQ(serial.calls.size(), 15u + 1);  // the one read is last
  EXPECT_EQ(serial.calls.back(), "read");
  EXPECT_TRUE(clock.pauses.empty());
  serial.failWrite = true;
  EXPECT_EQ(WriteCommBlock(block.data(), 2), RESULT_WRITE_FAILED);
  EXPECT_EQ(serial.readAttempts, 1);
  serial.failWrite = false;
  std::atomic<int> abort{1};
  SetCommAbortFlag(&abort);
  EXPECT_TRUE(WriteCommByte(0x01));
  serial.stallWrites = true;
  EXPECT_EQ(WriteCommBlock(block.data(), 2), RESULT_WRITE_FAILED);
  EXPECT_EQ(serial.written.size(), block.size() + 1);
}

// "All Signals" holds output until DSR and raises RTS only while sending. A cable
// without DSR holds for ever: after two seconds the page says why, the note goes
// once DSR comes, and a cancel ends the hold.
TEST_F(SerialLink, AllSignalsHoldsOutputUntilDsrSaysWhyAfterTwoSecondsAndEndsOnCancel) {
  AppWorld world;
  world.app.SetProgressView(&world.ui);
  serial.hasModemLines = true;
  serial.modemLines = kModemDsr;
  Open(9600);
  std::vector<bool> rtsWhileWriting;
  serial.onByte = [&](FakeSerialPlatform& device, std::uint8_t) {
    rtsWhileWriting.push_back((device.modemLines & kModemRts) != 0);
  };
  serial.dsrOffPolls = 199;  // held 1.99 s: nothing to say
  const std::uint8_t one = 1;
  EXPECT_EQ(WriteCommBlock(&one, 1), RESULT_NO_DATA);
  EXPECT_EQ(clock.pauses, std::vector<int>(199, 10));
  EXPECT_EQ(rtsWhileWriting, (std::vector<bool>{true}));
  EXPECT_NE(serial.modemLines & kModemRts, 0u);  // kept on for the next block
  EXPECT_EQ(serial.calls, (Calls{"write 1", "read"}));
  serial.calls.clear();
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);  // waiting for the unit: sent, then off
  EXPECT_EQ(serial.modemLines & kModemRts, 0u);
  EXPECT_EQ(serial.calls.front(), "drain");
  EXPECT_TRUE(world.ui.calls.empty());
  serial.dsrOffPolls = 250;
  EXPECT_TRUE(WriteCommByte(2));
  EXPECT_THAT(world.ui.calls,
              ElementsAre(StartsWith("note Waiting for the unit's DSR signal; if the cable has "
                                     "only TX and RX, choose 'TX and RX Only'"),
                          "note "));

  std::atomic<int> abort{0};
  SetCommAbortFlag(&abort);
  serial.dsrOffPolls = 1'000'000;
  world.ui.onCall = [&](const std::string&) { abort = 1; };
  const std::int64_t start = clock.nowMs;
  EXPECT_FALSE(WriteCommByte(3));
  EXPECT_EQ(serial.written, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(serial.modemLines & kModemRts, 0u);
  EXPECT_EQ(clock.nowMs - start, 2000 + 10);
}

TEST_F(SerialLink, ComNamesMapThroughThePortsSectionOrToTtyS) {
  EXPECT_EQ(ResolvePortDevice("COM1"), testing::ComDevice(1));  // no application: no profile
  {
    AppWorld world;
    world.profile.sections["Ports"]["com2"] = "/dev/ttyUSB0";
    EXPECT_EQ(ResolvePortDevice("com12"), testing::ComDevice(12));
    port = OpenCommPort("Com2");
    EXPECT_EQ(serial.calls.front(), "open /dev/ttyUSB0");
  }
  for (const char* asIs : {"/dev/ttyACM0", "/tmp/COM1", "COM0", "COM", "COM1a", "ttyUSB0", ""}) {
    EXPECT_EQ(ResolvePortDevice(asIs), asIs);
  }
}

// The COM page's test open on the GUI thread and a download on its own thread.
TEST_F(SerialLink, EachThreadHasItsOwnPort) {
  Open();
  CommHandle seenOnOtherThread = port;
  std::thread([&] {
    seenOnOtherThread = g_hCommPort;
    OpenCommPort("/dev/fake");  // busy: clears only this thread's handle
  }).join();
  EXPECT_EQ(seenOnOtherThread, nullptr);
  EXPECT_EQ(OpenCommPort("/dev/fake"), nullptr);
  EXPECT_EQ(g_hCommPort, nullptr);
}

// A busy port's text is the command-line tests' (with its holder) and the Win32 ones'.
TEST(DescribeOpenFailure, OtherErrorsGiveTheSystemsText) {
  EXPECT_EQ(DescribeOpenFailure({OpenError::Other, EIO, "x"}, "/dev/x"),
            "/dev/x: " + std::string(std::strerror(EIO)));
}

}  // namespace
}  // namespace portflash
