// The POSIX serial platform and the link over real pseudo-terminals.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/posix_serial_termios2.h"
#include "engine/serial_link.h"
#include "engine/serial_platform.h"

namespace portflash {
namespace {

using posix_serial::LineState;
using posix_serial::ReadLineSettings;
using posix_serial::ReadLineState;
using SteadyClock = std::chrono::steady_clock;

class Pty {
 public:
  Pty() {
    std::array<char, 128> name{};
    if (openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) {
      ADD_FAILURE() << "openpty failed";
      return;
    }
    path = name.data();
  }
  ~Pty() {
    CloseMaster();
    if (slave >= 0) close(slave);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  void CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
  }

  int master = -1;
  int slave = -1;  // held so that the master never reads EIO between our opens
  std::string path;
};

// The link's port on the pty's slave, raw at 115200.
CommHandle OpenRawLine(const Pty& pty) {
  CommHandle port = OpenCommPort(pty.path.c_str());
  if (port != nullptr && ConfigureCommPort(port, 115200, 1) != RESULT_SUCCESS) {
    CloseCommPort(port);
    port = nullptr;
  }
  return port;
}

std::string SttySettings(const std::string& path) {
  std::string command = "stty -F " + path + " -g 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string text;
  std::array<char, 512> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) {
    text += buffer.data();
  }
  pclose(pipe);
  return text;
}

long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

TEST(PosixSerial, ConfiguresEveryTableRateAsRawLine) {
  Pty pty;
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  EXPECT_FALSE(port->hasModemLines);  // a pseudo-terminal has none
  for (const std::uint32_t* rate = g_anBaudRates; *rate != 0; ++rate) {
    ASSERT_EQ(ConfigureCommPort(port, *rate, 1), RESULT_SUCCESS) << *rate;
    LineState master;
    ASSERT_TRUE(ReadLineState(pty.master, &master));
    EXPECT_EQ(master.outputRate, *rate);
    EXPECT_EQ(master.inputRate, *rate);
  }
  LineState line;
  ASSERT_TRUE(ReadLineState(port->fd, &line));
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(line.dataBits, 8u);
  EXPECT_TRUE(line.parityCheck);  // the pty drops PARENB itself; checking stays asked for
  EXPECT_FALSE(line.parityOdd);
  EXPECT_FALSE(line.twoStopBits);
  EXPECT_FALSE(line.hardwareFlow);
  EXPECT_FALSE(line.softwareFlow);
  EXPECT_EQ(line.vmin, 0);
  EXPECT_EQ(line.vtime, 0);

  ASSERT_EQ(ConfigureCommPort(port, 19200, 0), RESULT_SUCCESS);
  ASSERT_TRUE(ReadLineState(port->fd, &line));
  EXPECT_FALSE(line.parityCheck);
  CloseCommPort(port);
}

TEST(PosixSerial, OpenIsExclusiveUntilClosed) {
  Pty pty;
  SerialPlatform& platform = GetSerialPlatform();
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);

  OpenFailure why;
  EXPECT_EQ(platform.Open(pty.path, &why), -1);
  EXPECT_EQ(why.kind, OpenError::Busy);
  CloseCommPort(port);

  // The exclusive flag would outlive the descriptor on a pty if left set.
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  int again = platform.Open(pty.path, &why);
  EXPECT_GE(again, 0);
  EXPECT_EQ(why.kind, OpenError::None);
  platform.Close(again);
}

TEST(PosixSerial, CloseRestoresTheLineSettingsExactly) {
  Pty pty;
  const std::string sttyBefore = SttySettings(pty.path);
  SavedLineSettings before;
  ASSERT_TRUE(ReadLineSettings(pty.slave, &before));

  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  ASSERT_EQ(ConfigureCommPort(port, 256000, 1), RESULT_SUCCESS);
  ASSERT_EQ(ConfigureCommPort(port, 9600, 1), RESULT_SUCCESS);
  SavedLineSettings during;
  ASSERT_TRUE(ReadLineSettings(pty.slave, &during));
  EXPECT_NE(during, before);
  CloseCommPort(port);

  SavedLineSettings after;
  ASSERT_TRUE(ReadLineSettings(pty.slave, &after));
  EXPECT_EQ(after, before);
  EXPECT_FALSE(sttyBefore.empty());
  EXPECT_EQ(SttySettings(pty.path), sttyBefore);
}

TEST(PosixSerial, OpenFailuresAreClassified) {
  SerialPlatform& platform = GetSerialPlatform();
  const auto dir = std::filesystem::temp_directory_path();
  const std::string file = (dir / ("pfserial" + std::to_string(getpid()))).string();
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }

  struct Case {
    std::string path;
    OpenError kind;
  };
  for (const Case& c : {Case{file, OpenError::NotSerial}, Case{dir.string(), OpenError::NotSerial},
                        Case{"/dev/null", OpenError::NotSerial},
                        Case{"/dev/portflash-no-such-tty", OpenError::NotFound},
                        Case{file + "/below-a-file", OpenError::NotFound}}) {
    OpenFailure why;
    EXPECT_EQ(platform.Open(c.path, &why), -1) << c.path;
    EXPECT_EQ(why.kind, c.kind) << c.path;
    EXPECT_FALSE(why.detail.empty()) << c.path;
  }
  OpenFailure why;
  EXPECT_EQ(OpenCommPort(file.c_str(), &why), nullptr);
  EXPECT_EQ(why.kind, OpenError::NotSerial);
  std::remove(file.c_str());
}

TEST(PosixSerial, DeviceOfAnotherUserIsPermissionDenied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  Pty pty;
  ASSERT_EQ(chmod(pty.path.c_str(), 0600), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    OpenFailure why;
    int fd = GetSerialPlatform().Open(pty.path, &why);
    _exit(fd >= 0 ? 101 : static_cast<int>(why.kind));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "could not switch to user 65534";
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(OpenError::PermissionDenied));
}

TEST(PosixSerial, ReadTakesAWaitingByteAtOnceAndALateOneAsItArrives) {
  Pty pty;
  CommHandle port = OpenRawLine(pty);
  ASSERT_NE(port, nullptr);

  // A silent raw line reads as nothing there, not as a hang-up.
  std::uint8_t nothing = 0;
  EXPECT_EQ(GetSerialPlatform().ReadByte(port->fd, &nothing), IoStatus::WouldBlock);

  const unsigned char early[2] = {0x5A, 0x00};
  ASSERT_EQ(write(pty.master, early, 2), 2);
  for (int i = 0; i < 100 && GetSerialPlatform().WaitReadable(port->fd, 0) == false; ++i) {
    usleep(1000);
  }
  auto start = SteadyClock::now();
  EXPECT_EQ(ReadCommByte(), 0x5A);
  EXPECT_EQ(ReadCommByte(), 0x00);
  EXPECT_LT(MillisecondsSince(start), 50);

  std::thread unit([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const unsigned char late = 0x16;
    EXPECT_EQ(write(pty.master, &late, 1), 1);
  });
  start = SteadyClock::now();
  EXPECT_EQ(ReadCommByte(), 0x16);  // during the first pause
  long long took = MillisecondsSince(start);
  unit.join();
  EXPECT_GE(took, 35);
  EXPECT_LT(took, 95);  // taken as it came, not when the pause would have ended
  CloseCommPort(port);
}

TEST(PosixSerial, ClosedMasterIsAHangUpThatStillTimesOutLikeSilence) {
  Pty pty;
  CommHandle port = OpenRawLine(pty);
  ASSERT_NE(port, nullptr);
  pty.CloseMaster();

  SerialPlatform& platform = GetSerialPlatform();
  std::uint8_t byte = 0;
  EXPECT_EQ(platform.ReadByte(port->fd, &byte), IoStatus::HangUp);
  std::size_t written = 0;
  EXPECT_EQ(platform.Write(port->fd, &byte, 1, &written), IoStatus::HangUp);
  EXPECT_TRUE(platform.WaitReadable(port->fd, 1000));  // at once

  auto start = SteadyClock::now();
  EXPECT_EQ(ReadCommByte(), RESULT_NO_DATA);
  long long took = MillisecondsSince(start);
  EXPECT_GE(took, 290);
  EXPECT_LT(took, 600);

  const std::uint8_t block[8] = {};
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_WRITE_FAILED);
  CloseCommPort(port);
}

TEST(PosixSerial, LargeBlockReachesASlowReaderCompleteAndInOrder) {
  Pty pty;
  CommHandle port = OpenRawLine(pty);
  ASSERT_NE(port, nullptr);

  std::vector<std::uint8_t> block(64 * 1024);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>((i * 7 + i / 256) & 0xFF);
  }
  std::vector<std::uint8_t> received;
  std::thread reader([&] {
    std::array<std::uint8_t, 2048> buffer{};
    while (received.size() < block.size()) {
      pollfd entry{pty.master, POLLIN, 0};
      if (poll(&entry, 1, 2000) <= 0) break;
      ssize_t n = read(pty.master, buffer.data(), buffer.size());
      if (n <= 0) break;
      received.insert(received.end(), buffer.begin(), buffer.begin() + n);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(WriteCommBlock(block.data(), block.size()), RESULT_NO_DATA);
  reader.join();
  EXPECT_EQ(received.size(), block.size());
  EXPECT_TRUE(received == block);
  CloseCommPort(port);
}

}  // namespace
}  // namespace portflash
