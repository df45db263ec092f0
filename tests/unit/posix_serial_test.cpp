// The POSIX serial platform and the link over real pseudo-terminals.
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "engine/posix_serial_termios2.h"
#include "engine/serial_link.h"

namespace portflash {
namespace {

using posix_serial::LineState;
using posix_serial::ReadLineState;
using namespace std::chrono_literals;

struct Pty {
  Pty() {
    std::array<char, 128> name{};
    if (openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) ADD_FAILURE() << "openpty";
    path = name.data();
  }
  ~Pty() {
    if (master >= 0) close(master);
    close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  // The link's port on the slave, raw at 115200.
  CommHandle OpenRaw() const {
    CommHandle port = OpenCommPort(path.c_str());
    EXPECT_NE(port, nullptr);
    if (port != nullptr && ConfigureCommPort(port, 115200, 1) != RESULT_SUCCESS) ADD_FAILURE();
    return port;
  }

  int master = -1;
  int slave = -1;  // held so that the master never reads EIO between our opens
  std::string path;
};

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

TEST(PosixSerial, EveryTableRateIsSetOnARawLineAndReadsBackFromTheFarEnd) {
  Pty pty;
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  EXPECT_FALSE(port->hasModemLines);  // a pseudo-terminal has none
  for (const std::uint32_t* rate = g_anBaudRates; *rate != 0; ++rate) {
    ASSERT_EQ(ConfigureCommPort(port, *rate, 1), RESULT_SUCCESS) << *rate;
    LineState far;
    ASSERT_TRUE(ReadLineState(pty.master, &far));
    EXPECT_EQ(far.outputRate, *rate);
    EXPECT_EQ(far.inputRate, *rate);
  }
  LineState line;
  ASSERT_TRUE(ReadLineState(port->fd, &line));
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(line.dataBits, 8u);
  EXPECT_TRUE(line.parityCheck);  // the pty drops PARENB itself; checking stays asked for
  EXPECT_FALSE(line.parityOdd || line.twoStopBits || line.hardwareFlow || line.softwareFlow);
  EXPECT_EQ(line.vmin + line.vtime, 0);
  ASSERT_EQ(ConfigureCommPort(port, 19200, 0), RESULT_SUCCESS);
  ASSERT_TRUE(ReadLineState(port->fd, &line));
  EXPECT_FALSE(line.parityCheck);
  CloseCommPort(port);
}

TEST(PosixSerial, OpenIsExclusiveUntilClosedAndTheSettingsComeBackExactly) {
  Pty pty;
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
  SerialPlatform& platform = GetSerialPlatform();
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  int exclusive = 0;  // also against programs that take no lock
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  OpenFailure why;
  EXPECT_EQ(platform.Open(pty.path, &why), -1);
  EXPECT_EQ(why.kind, OpenError::Busy);
  ASSERT_EQ(ConfigureCommPort(port, 256000, 1), RESULT_SUCCESS);
  CloseCommPort(port);

  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  // The exclusive flag would outlive the descriptor on a pty if left set.
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  const int again = platform.Open(pty.path, &why);
  EXPECT_GE(again, 0);
  EXPECT_EQ(why.kind, OpenError::None);
  platform.Close(again);
}

TEST(PosixSerial, OpenFailuresAreClassified) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string file = (dir / ("pfserial" + std::to_string(getpid()))).string();
  std::fclose(std::fopen(file.c_str(), "w"));
  for (const auto& [path, kind] : {std::pair{file, OpenError::NotSerial},
                                   {dir.string(), OpenError::NotSerial},
                                   {"/dev/null", OpenError::NotSerial},
                                   {"/dev/portflash-no-such-tty", OpenError::NotFound},
                                   {file + "/below-a-file", OpenError::NotFound}}) {
    OpenFailure why;
    EXPECT_EQ(OpenCommPort(path.c_str(), &why), nullptr) << path;
    EXPECT_EQ(why.kind, kind) << path;
    EXPECT_FALSE(why.detail.empty()) << path;
  }
  std::remove(file.c_str());
}

TEST(PosixSerial, ReadTakesAWaitingByteAtOnceAndALateOneAsItArrives) {
  Pty pty;
  CommHandle port = pty.OpenRaw();
  ASSERT_NE(port, nullptr);
  std::uint8_t nothing = 0;  // a silent raw line reads as nothing there, not as a hang-up
  EXPECT_EQ(GetSerialPlatform().ReadByte(port->fd, &nothing), IoStatus::WouldBlock);

  ASSERT_EQ(write(pty.master, "\x5A\x00", 2), 2);
  ASSERT_TRUE(GetSerialPlatform().WaitReadable(port->fd, 1000));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadCommByte(), 0x5A);
  EXPECT_EQ(ReadCommByte(), 0x00);
  EXPECT_LT(MillisecondsSince(start), 50);

  std::thread unit([&] {
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(write(pty.master, "\x16", 1), 1);
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadCommByte(), 0x16);  // during the first pause
  const long long took = MillisecondsSince(start);
  unit.join();
  EXPECT_GE(took, 35);
  EXPECT_LT(took, 95);  // taken as it came, not when the pause would have ended
  CloseCommPort(port);
}

TEST(PosixSerial, ClosedFarEndIsAHangUpThatStillTimesOutLikeSilence) {
  Pty pty;
  CommHandle port = pty.OpenRaw();
  ASSERT_NE(port, nullptr);
  close(std::exchange(pty.master, -1));
  SerialPlatform& platform = GetSerialPlatform();
  std::uint8_t byte = 0;
  std::size_t written = 0;
  EXPECT_EQ(platform.ReadByte(port->fd, &byte), IoStatus::HangUp);
  EXPECT_EQ(platform.Write(port->fd, &byte, 1, &written), IoStatus::HangUp);
  EXPECT_TRUE(platform.WaitReadable(port->fd, 1000));  // at once

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  const long long took = MillisecondsSince(start);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 600);
  EXPECT_EQ(WriteCommBlock(&byte, 1), RESULT_WRITE_FAILED);
  CloseCommPort(port);
}

}  // namespace
}  // namespace portflash
