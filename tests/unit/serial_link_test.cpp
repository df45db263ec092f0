#include "engine/serial_link.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/update_app.h"
#include "support/fakes.h"

namespace portflash {
namespace {

using testing::FakeClock;
using testing::FakeSerialPlatform;
using testing::MapProfile;
using testing::RecordingDialogs;

// The scripted device, with the modem-line and stalled-write behaviour these
// tests need on top.
class LinkDevice : public FakeSerialPlatform {
 public:
  using FakeSerialPlatform::FakeSerialPlatform;

  int setModemCalls = 0;
  int dsrPollsBeforeOn = -1;  // -1: DSR stays as modemLines says
  int dsrPolls = 0;
  int stallWrites = 0;  // this many Write calls take nothing; -1: all of them
  int writeWaits = 0;
  std::vector<bool> rtsWhileWriting;

  bool GetModemLines(int fd, unsigned* bits) override {
    if (!FakeSerialPlatform::GetModemLines(fd, bits)) return false;
    ++dsrPolls;
    if (dsrPollsBeforeOn >= 0 && dsrPolls > dsrPollsBeforeOn) *bits |= kModemDsr;
    return true;
  }
  bool SetModemLines(int fd, unsigned on, unsigned off) override {
    ++setModemCalls;
    return FakeSerialPlatform::SetModemLines(fd, on, off);
  }
  IoStatus Write(int fd, const std::uint8_t* data, std::size_t length,
                 std::size_t* taken) override {
    rtsWhileWriting.push_back((modemLines & kModemRts) != 0);
    if (stallWrites != 0) {
      if (stallWrites > 0) --stallWrites;
      calls.push_back("write " + std::to_string(length));
      *taken = 0;
      return IoStatus::WouldBlock;
    }
    return FakeSerialPlatform::Write(fd, data, length, taken);
  }
  bool WaitWritable(int fd, int timeoutMs) override {
    ++writeWaits;
    return FakeSerialPlatform::WaitWritable(fd, timeoutMs);
  }
};

class SerialLinkTest : public ::testing::Test {
 protected:
  SerialLinkTest() {
    SetClock(&clock);
    SetSerialPlatform(&serial);
  }
  ~SerialLinkTest() override {
    SetCommAbortFlag(nullptr);
    SetSerialPlatform(nullptr);
    SetClock(nullptr);
  }

  CommHandle OpenAndClearCalls() {
    CommHandle port = OpenCommPort("/dev/fake");
    EXPECT_NE(port, nullptr);
    serial.calls.clear();
    return port;
  }

  FakeClock clock;
  LinkDevice serial{clock};
};

// An application object whose profile and cable setting the link reads.
struct AppWorld {
  MapProfile profile;
  RecordingDialogs dialogs;
  CUpdateApp app{profile, dialogs};
};

LineConfig ExpectedConfig(std::uint32_t rate, bool allSignals) {
  LineConfig config;
  config.baudRate = rate;
  config.byteSize = 8;
  config.stopBits = 0;
  config.parity = Parity::Even;
  config.parityCheck = true;
  config.binary = true;
  config.outX = false;
  config.inX = false;
  config.nullStrip = false;
  config.outxDsrFlow = allSignals;
  config.dtrControl = allSignals ? DtrControl::Handshake : DtrControl::Disable;
  config.rtsControl = allSignals ? RtsControl::Toggle : RtsControl::Disable;
  config.outxCtsFlow = false;
  return config;
}

TEST(BaudRates, TableRatesAreValidAndNothingElse) {
  for (std::uint32_t rate : {9600u, 19200u, 56000u, 115200u, 128000u, 256000u}) {
    EXPECT_EQ(IsValidBaudRate(rate), 1) << rate;
  }
  for (std::uint32_t rate : {0u, 1u, 9599u, 9601u, 14400u, 38400u, 57600u, 115199u, 230400u,
                             255999u, 256001u, 0xFFFFFFFFu}) {
    EXPECT_EQ(IsValidBaudRate(rate), 0) << rate;
  }
  EXPECT_EQ(GetReadDelay(), 250);
}

TEST_F(SerialLinkTest, BadRateLeavesThePortUntouched) {
  CommHandle port = OpenAndClearCalls();
  const SavedLineSettings before = serial.current;
  EXPECT_EQ(ConfigureCommPort(port, 57600, 1), RESULT_BAD_BAUD);
  EXPECT_EQ(ConfigureCommPort(port, 0, 1), RESULT_BAD_BAUD);
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_EQ(serial.setModemCalls, 0);
  EXPECT_EQ(serial.current, before);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, EachCableGetsItsLineConfigExactly) {
  AppWorld world;
  for (int allSignals : {0, 1}) {
    world.app.SetAllSignals(allSignals);
    CommHandle port = OpenAndClearCalls();
    ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
    ASSERT_NE(serial.Config(), nullptr);
    EXPECT_EQ(*serial.Config(), ExpectedConfig(115200, allSignals != 0)) << allSignals;
    CloseCommPort(port);
  }
}

TEST_F(SerialLinkTest, WithoutApplicationTheCableIsAllSignals) {
  ASSERT_EQ(CUpdateApp::Current(), nullptr);
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 19200, 1), RESULT_SUCCESS);
  EXPECT_EQ(*serial.Config(), ExpectedConfig(19200, true));
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, ParityFlagZeroMeansNoParity) {
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 19200, 0), RESULT_SUCCESS);
  EXPECT_EQ(serial.Config()->parity, Parity::None);
  EXPECT_FALSE(serial.Config()->parityCheck);
  ASSERT_EQ(ConfigureCommPort(port, 19200, 0x100), RESULT_SUCCESS);  // any non-zero flag
  EXPECT_EQ(serial.Config()->parity, Parity::Even);
  EXPECT_TRUE(serial.Config()->parityCheck);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, EveryConfigureStartsFromTheSettingsSavedAtOpen) {
  AppWorld world;
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 9600, 1), RESULT_SUCCESS);
  world.app.SetAllSignals(0);  // the cable is read again on every call
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  EXPECT_EQ(*serial.Config(), ExpectedConfig(115200, false));
  // The fake device holds the base it was given plus the rate: the base is still
  // the snapshot from the open, not the first configuration.
  SavedLineSettings expected = serial.initialSettings;
  std::uint32_t rate = 115200;
  std::memcpy(expected.bytes.data() + expected.size, &rate, sizeof rate);
  expected.size += sizeof rate;
  EXPECT_EQ(serial.current, expected);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, RefusedSettingsAreConfigFailed) {
  CommHandle port = OpenAndClearCalls();
  serial.failConfigure = true;
  EXPECT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_CONFIG_FAILED);
  EXPECT_EQ(serial.setModemCalls, 0);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, ModemLinesFollowTheCableAndComeBackAtClose) {
  AppWorld world;
  serial.hasModemLines = true;
  serial.modemLines = kModemDtr | kModemRts;
  CommHandle port = OpenAndClearCalls();

  world.app.SetAllSignals(0);
  ASSERT_EQ(ConfigureCommPort(port, 9600, 1), RESULT_SUCCESS);
  EXPECT_EQ(serial.modemLines & (kModemDtr | kModemRts), 0u);

  world.app.SetAllSignals(1);
  ASSERT_EQ(ConfigureCommPort(port, 9600, 1), RESULT_SUCCESS);
  EXPECT_EQ(serial.modemLines & (kModemDtr | kModemRts), kModemDtr);

  CloseCommPort(port);
  EXPECT_EQ(serial.modemLines & (kModemDtr | kModemRts), kModemDtr | kModemRts);
}

TEST_F(SerialLinkTest, DeviceWithoutModemLinesIsNotAskedToSetThem) {
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 9600, 1), RESULT_SUCCESS);
  const std::uint8_t block[3] = {1, 2, 3};
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_NO_DATA);
  CloseCommPort(port);
  EXPECT_EQ(serial.setModemCalls, 0);
  EXPECT_EQ(std::count(serial.calls.begin(), serial.calls.end(), "drain"), 0);
}

TEST_F(SerialLinkTest, ReadReturnsAWaitingByteWithoutPausing) {
  CommHandle port = OpenAndClearCalls();
  serial.Reply(0x5A);
  const std::int64_t start = clock.nowMs;
  EXPECT_EQ(ReadCommByte(), 0x5A);
  EXPECT_EQ(serial.calls, (std::vector<std::string>{"read"}));
  EXPECT_EQ(clock.nowMs, start);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, SilentLineGivesNoDataAfterThreeAttemptsAndThreePauses) {
  CommHandle port = OpenAndClearCalls();
  const std::int64_t start = clock.nowMs;
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  EXPECT_EQ(serial.calls,
            (std::vector<std::string>{"read", "wait 100", "read", "wait 100", "read", "wait 100"}));
  EXPECT_EQ(clock.nowMs - start, 300);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, ByteArrivingDuringSecondPauseIsTakenByThirdAttempt) {
  CommHandle port = OpenAndClearCalls();
  const std::int64_t start = clock.nowMs;
  serial.Reply(0x16, 150);
  EXPECT_EQ(ReadCommByte(), 0x16);
  EXPECT_EQ(serial.calls,
            (std::vector<std::string>{"read", "wait 100", "read", "wait 100", "read"}));
  EXPECT_EQ(clock.nowMs - start, 150);  // taken as it arrived, not at the end of the pause
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, ZeroByteIsReturnedAsZero) {
  CommHandle port = OpenAndClearCalls();
  serial.Reply(0x00);
  serial.Reply(0xFF);
  ResultCode zero = ReadCommByte();
  EXPECT_EQ(zero, 0);
  EXPECT_FALSE(IsInternalResult(zero));
  EXPECT_EQ(ReadCommByte(), 0xFF);  // a data byte 0xFF is not RESULT_SUCCESS
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, HungUpLineStillTakesTheFullTimeToGiveUp) {
  CommHandle port = OpenAndClearCalls();
  serial.HangUp();
  const std::int64_t start = clock.nowMs;
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  EXPECT_EQ(serial.readAttempts, 3);
  EXPECT_EQ(clock.nowMs - start, 300);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, FailedBlockWriteDoesNotRead) {
  CommHandle port = OpenAndClearCalls();
  serial.Reply(0x00);
  serial.failWrite = true;
  const std::uint8_t block[4] = {1, 2, 3, 4};
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_WRITE_FAILED);
  EXPECT_EQ(serial.readAttempts, 0);
  serial.failWrite = false;
  serial.HangUp();
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_WRITE_FAILED);
  EXPECT_EQ(serial.readAttempts, 0);
  EXPECT_FALSE(WriteCommByte(0x01));
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, GoodBlockWriteReadsExactlyOnceWithoutWaiting) {
  CommHandle port = OpenAndClearCalls();
  const std::uint8_t block[4] = {1, 2, 3, 4};
  const std::int64_t start = clock.nowMs;
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_NO_DATA);
  EXPECT_EQ(serial.calls, (std::vector<std::string>{"write 4", "read"}));
  EXPECT_EQ(clock.nowMs, start);

  serial.onByte = [](FakeSerialPlatform& unit, std::uint8_t byte) {
    if (byte == 0xFF) unit.Reply(0x00);
  };
  const std::uint8_t end[1] = {0xFF};
  EXPECT_EQ(WriteCommBlock(end, 1), 0x00);
  EXPECT_EQ(serial.readAttempts, 2);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, PartialWritesContinueUntilEveryByteIsTaken) {
  CommHandle port = OpenAndClearCalls();
  serial.writeLimit = 7;
  std::vector<std::uint8_t> block(100);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 3);
  EXPECT_EQ(WriteCommBlock(block.data(), block.size()), RESULT_NO_DATA);
  EXPECT_EQ(serial.written, block);
  EXPECT_EQ(std::count_if(serial.calls.begin(), serial.calls.end(),
                          [](const std::string& c) { return c.rfind("write", 0) == 0; }),
            15);
  EXPECT_EQ(serial.readAttempts, 1);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, StalledWriteWaitsForTheDeviceAndThenCompletes) {
  CommHandle port = OpenAndClearCalls();
  serial.stallWrites = 3;
  EXPECT_TRUE(WriteCommByte(0x01));
  EXPECT_EQ(serial.writeWaits, 3);
  EXPECT_EQ(serial.written, (std::vector<std::uint8_t>{0x01}));
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, AbortFlagEndsAStalledWrite) {
  CommHandle port = OpenAndClearCalls();
  std::atomic<int> abort{0};
  SetCommAbortFlag(&abort);
  const std::uint8_t block[2] = {7, 8};
  // A device that takes bytes is written to even after a cancel ...
  abort = 1;
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_NO_DATA);
  EXPECT_EQ(serial.written.size(), 2u);
  // ... but one that has stopped taking them is given up on at once.
  serial.stallWrites = -1;
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_WRITE_FAILED);
  EXPECT_EQ(serial.written.size(), 2u);
  EXPECT_EQ(serial.readAttempts, 1);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, AllSignalsHoldsOutputUntilDsrAndRaisesRtsWhileSending) {
  serial.hasModemLines = true;
  serial.dsrPollsBeforeOn = 3;
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  serial.dsrPolls = 0;
  serial.calls.clear();
  const std::uint8_t block[3] = {1, 2, 3};
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_NO_DATA);
  EXPECT_EQ(clock.pauses, (std::vector<int>{10, 10, 10}));
  EXPECT_EQ(serial.rtsWhileWriting, (std::vector<bool>{true}));
  EXPECT_EQ(serial.modemLines & kModemRts, 0u);  // off again once sent
  EXPECT_EQ(serial.calls, (std::vector<std::string>{"write 3", "drain", "read"}));
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, DsrHoldEndsOnAbort) {
  serial.hasModemLines = true;  // DSR never comes on
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  std::atomic<int> abort{1};
  SetCommAbortFlag(&abort);
  EXPECT_FALSE(WriteCommByte(0x01));
  EXPECT_TRUE(serial.written.empty());
  EXPECT_EQ(serial.modemLines & kModemRts, 0u);
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, TxRxOnlyIgnoresDsrAndLeavesRtsAlone) {
  AppWorld world;
  world.app.SetAllSignals(0);
  serial.hasModemLines = true;  // DSR off
  CommHandle port = OpenAndClearCalls();
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  const int modemCalls = serial.setModemCalls;
  EXPECT_TRUE(WriteCommByte(0x01));
  EXPECT_EQ(serial.written.size(), 1u);
  EXPECT_EQ(serial.setModemCalls, modemCalls);
  EXPECT_TRUE(clock.pauses.empty());
  CloseCommPort(port);
}

TEST_F(SerialLinkTest, CloseOfNullDoesNothing) {
  CloseCommPort(nullptr);
  EXPECT_TRUE(serial.calls.empty());
  EXPECT_EQ(serial.closeCount, 0);
}

TEST_F(SerialLinkTest, CloseRestoresTheSettingsFromTheOpen) {
  CommHandle port = OpenCommPort("/dev/fake");
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(ConfigureCommPort(port, 256000, 1), RESULT_SUCCESS);
  ASSERT_NE(serial.current, serial.initialSettings);
  CloseCommPort(port);
  EXPECT_EQ(serial.current, serial.initialSettings);
  EXPECT_FALSE(serial.isOpen);
  EXPECT_EQ(serial.calls.back(), "close");
  EXPECT_EQ(g_hCommPort, nullptr);  // no dangling handle for this thread's reads
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  EXPECT_FALSE(WriteCommByte(1));
}

TEST_F(SerialLinkTest, FailedOpenReportsWhyAndClearsTheHandle) {
  CommHandle first = OpenCommPort("/dev/fake");
  ASSERT_NE(first, nullptr);
  serial.calls.clear();
  OpenFailure why;
  EXPECT_EQ(OpenCommPort("/dev/fake", &why), nullptr);  // the fake is exclusive
  EXPECT_EQ(why.kind, OpenError::Busy);
  EXPECT_EQ(g_hCommPort, nullptr);
  EXPECT_EQ(serial.calls, (std::vector<std::string>{"open /dev/fake"}));
  CloseCommPort(first);
}

TEST_F(SerialLinkTest, ComNamesMapThroughThePortsSectionOrToTtyS) {
  EXPECT_EQ(ResolvePortDevice("COM1"), "/dev/ttyS0");  // no application: no profile
  {
    AppWorld world;
    world.profile.sections["Ports"]["com2"] = "/dev/ttyUSB0";
    world.profile.sections["Ports"]["COM3"] = "";
    EXPECT_EQ(ResolvePortDevice("COM2"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortDevice("Com2"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortDevice("COM3"), "/dev/ttyS2");
    EXPECT_EQ(ResolvePortDevice("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortDevice("com12"), "/dev/ttyS11");

    CommHandle port = OpenCommPort("COM2");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(serial.openedPath, "/dev/ttyUSB0");
    EXPECT_EQ(port->devicePath, "/dev/ttyUSB0");
    CloseCommPort(port);
  }
  for (const char* asIs :
       {"/dev/ttyACM0", "/tmp/COM1", "COM0", "COM", "COMx", "COM1a", "COM-1", "ttyUSB0", ""}) {
    EXPECT_EQ(ResolvePortDevice(asIs), asIs);
  }
}

TEST_F(SerialLinkTest, EachThreadHasItsOwnPort) {
  CommHandle port = OpenCommPort("/dev/fake");
  ASSERT_NE(port, nullptr);
  serial.Reply(0x42);

  CommHandle seenOnOtherThread = port;
  CommHandle afterFailedOpen = port;
  std::thread other([&] {
    seenOnOtherThread = g_hCommPort;
    afterFailedOpen = OpenCommPort("/dev/fake");  // busy: our port is open
  });
  other.join();

  EXPECT_EQ(seenOnOtherThread, nullptr);
  EXPECT_EQ(afterFailedOpen, nullptr);
  EXPECT_EQ(g_hCommPort, port);
  EXPECT_EQ(ReadCommByte(), 0x42);
  CloseCommPort(port);
}

TEST(DescribeOpenFailure, SaysWhatWentWrong) {
  OpenFailure why;
  why.kind = OpenError::NotFound;
  EXPECT_EQ(DescribeOpenFailure(why, "/dev/ttyUSB7"), "The device /dev/ttyUSB7 does not exist.");
  why.kind = OpenError::NotSerial;
  EXPECT_EQ(DescribeOpenFailure(why, "/tmp"), "/tmp is not a serial device.");
  why.kind = OpenError::Other;
  why.error = EIO;
  EXPECT_EQ(DescribeOpenFailure(why, "/dev/ttyS0"), "/dev/ttyS0: " + std::string(strerror(EIO)));
}

class TempFile {
 public:
  TempFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pflinkXXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    path = pattern;
  }
  ~TempFile() { unlink(path.c_str()); }
  std::string path;
};

TEST(DescribeOpenFailure, PermissionNamesTheOwningGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the file another group";
  TempFile file;
  ASSERT_EQ(chown(file.path.c_str(), static_cast<uid_t>(-1), 65534), 0);
  struct group* entry = getgrgid(65534);
  if (entry == nullptr) GTEST_SKIP() << "no group 65534 on this machine";
  const std::string name = entry->gr_name;
  OpenFailure why;
  why.kind = OpenError::PermissionDenied;
  EXPECT_EQ(DescribeOpenFailure(why, file.path),
            "Permission denied for " + file.path + ": it belongs to group " + name +
                "; add yourself with: sudo usermod -aG " + name + " $USER, then log in again");
  // A device of group root: no advice to join it.
  ASSERT_EQ(chown(file.path.c_str(), static_cast<uid_t>(-1), 0), 0);
  EXPECT_EQ(DescribeOpenFailure(why, file.path), "Permission denied for " + file.path + ".");
}

TEST(DescribeOpenFailure, BusyNamesTheProcessHoldingTheDevice) {
  TempFile file;
  OpenFailure why;
  why.kind = OpenError::Busy;
  EXPECT_EQ(DescribeOpenFailure(why, file.path), file.path + " is in use by another program.");

  int release[2];
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int held = open(file.path.c_str(), O_RDWR);
    close(release[1]);
    char ignored;
    // Holds the file until the parent closes its end of the pipe.
    ssize_t n = held >= 0 ? read(release[0], &ignored, 1) : 0;
    _exit(n == 0 ? 0 : 1);
  }
  close(release[0]);
  // The child opens the file right after the fork: wait until /proc shows it.
  std::string text;
  const std::string expected = ", process " + std::to_string(child) + ").";
  for (int i = 0; i < 200 && text.find(expected) == std::string::npos; ++i) {
    text = DescribeOpenFailure(why, file.path);
    if (text.find(expected) == std::string::npos) usleep(5000);
  }
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(text.rfind(file.path + " is in use by another program (", 0), 0u) << text;
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

}  // namespace
}  // namespace portflash
