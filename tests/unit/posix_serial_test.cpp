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

#include "engine/serial_link.h"
#include "platform/posix/termios2.h"

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

  int master = -1;
  int slave = -1;  // held so that the master never reads EIO between our opens
  std::string path;
};

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
  ASSERT_TRUE(ReadLineState(static_cast<int>(port->os), &line));
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(line.dataBits, 8u);
  EXPECT_TRUE(line.parityCheck);  // the pty drops PARENB itself; checking stays asked for
  EXPECT_FALSE(line.parityOdd || line.twoStopBits || line.hardwareFlow || line.softwareFlow);
  EXPECT_EQ(line.vmin + line.vtime, 0);
  ASSERT_EQ(ConfigureCommPort(port, 19200, 0), RESULT_SUCCESS);
  ASSERT_TRUE(ReadLineState(static_cast<int>(port->os), &line));
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
  const SerialHandle again = platform.Open(pty.path, &why);
  EXPECT_GE(again, 0);
  EXPECT_EQ(why.kind, OpenError::None);
  platform.Close(again);
}

TEST(PosixSerial, OpenFailuresAreClassified) {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string file = (dir / ("pfserial" + std::to_string(getpid()))).string();
  std::fclose(std::fopen(file.c_str(), "w"));
  for (const auto& [path, kind] : {std::pair{file, OpenError::NotSerial},
                                   {"/dev/null", OpenError::NotSerial},
                                   {file + "/below-a-file", OpenError::NotFound}}) {
    OpenFailure why;
    EXPECT_EQ(OpenCommPort(path.c_str(), &why), nullptr) << path;
    EXPECT_EQ(why.kind, kind) << path;
    EXPECT_FALSE(why.detail.empty()) << path;
  }
  std::remove(file.c_str());
}

TEST(PosixSerial, ClosedFarEndIsAHangUpThatStillTimesOutLikeSilence) {
  Pty pty;
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(ConfigureCommPort(port, 115200, 1), RESULT_SUCCESS);
  close(std::exchange(pty.master, -1));
  SerialPlatform& platform = GetSerialPlatform();
  std::uint8_t byte = 0;
  std::size_t written = 0;
  EXPECT_EQ(platform.ReadByte(port->os, &byte), IoStatus::HangUp);
  EXPECT_EQ(platform.Write(port->os, &byte, 1, &written), IoStatus::HangUp);
  EXPECT_TRUE(platform.WaitReadable(port->os, 1000));  // at once

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 290ms);
  EXPECT_LT(took, 600ms);
  EXPECT_EQ(WriteCommBlock(&byte, 1), RESULT_WRITE_FAILED);
  CloseCommPort(port);
}

}  // namespace
}  // namespace portflash
