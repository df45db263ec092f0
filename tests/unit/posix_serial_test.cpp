// The POSIX serial platform and the link over real pseudo-terminals.
#include <grp.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <utility>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "engine/serial_link.h"
#include "platform/posix/termios2.h"
#include "support/fakes.h"
#include "support/harness.h"

namespace portflash {
namespace {

using posix_serial::LineState;
using posix_serial::ReadLineState;
using namespace std::chrono_literals;

struct Pty {
  Pty() {
    char name[128] = "";
    EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    path = name;
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  int master = -1;
  int slave = -1;  // held so that the master never reads EIO between our opens
  std::string path;
};

// A fresh port echoes: the open leaves it raw before anything is configured, every
// table rate reads back from the far end, and the close puts the echoing settings back.
TEST(PosixSerial, OpenIsRawAndExclusiveEveryRateReadsBackAndTheSettingsComeBack) {
  Pty pty;
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
  ASSERT_NE(before.c_lflag & ECHO, 0u);
  CommHandle port = OpenCommPort(pty.path.c_str());
  ASSERT_NE(port, nullptr);
  auto state = [&] {
    LineState line;
    EXPECT_TRUE(ReadLineState(static_cast<int>(port->os), &line));
    return line;
  };
  // No echo of the unit's banner back to it; a byte with a parity or framing error
  // and a break are dropped, not read as 0x00.
  const LineState opened = state();
  EXPECT_TRUE(opened.raw);
  EXPECT_EQ(opened.inputFlags, unsigned{IGNBRK | IGNPAR});
  const char banner[] = "BOOT MONITOR v1.0\r\n";
  ASSERT_EQ(write(pty.master, banner, sizeof banner - 1), ssize_t(sizeof banner - 1));

  int exclusive = 0;  // also against programs that take no lock
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  OpenFailure why;
  EXPECT_EQ(GetSerialPlatform().Open(pty.path, &why), -1);
  EXPECT_EQ(why.kind, OpenError::Busy);
  for (const std::uint32_t* rate = g_anBaudRates; *rate != 0; ++rate) {
    ASSERT_EQ(ConfigureCommPort(port, *rate, 1), RESULT_SUCCESS) << *rate;
    LineState far;
    ASSERT_TRUE(ReadLineState(pty.master, &far));
    EXPECT_EQ(far.outputRate, *rate);
    EXPECT_EQ(far.inputRate, *rate);
  }
  const LineState line = state();
  EXPECT_TRUE(line.raw);
  EXPECT_EQ(line.dataBits, 8u);
  EXPECT_EQ(line.inputFlags, unsigned{IGNBRK | IGNPAR | INPCK});  // the pty drops PARENB itself
  EXPECT_FALSE(line.parityOdd || line.twoStopBits || line.hardwareFlow || line.softwareFlow);
  EXPECT_EQ(line.vmin + line.vtime, 0);
  EXPECT_EQ(ReadCommByte(), 'B');  // nothing of the banner was lost or translated
  ASSERT_EQ(ConfigureCommPort(port, 19200, 0), RESULT_SUCCESS);
  EXPECT_EQ(state().inputFlags, unsigned{IGNBRK | IGNPAR});
  CloseCommPort(port);

  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  // The exclusive flag would outlive the descriptor on a pty if left set.
  ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

TEST(PosixSerial, OpenFailuresAreClassified) {
  testing::TempDir dir;
  const std::string file = dir / "file";
  testing::WriteFile(file, "");
  for (const auto& [path, kind] : {std::pair{file, OpenError::NotSerial},
                                   {"/dev/null", OpenError::NotSerial},
                                   {file + "/below-a-file", OpenError::NotFound}}) {
    OpenFailure why;
    EXPECT_EQ(OpenCommPort(path.c_str(), &why), nullptr) << path;
    EXPECT_EQ(why.kind, kind) << path;
    EXPECT_FALSE(why.detail.empty()) << path;
  }
}

// A device closed to the user: the reason names the device's group, so that the user
// knows which to join and how.
TEST(PosixSerial, PermissionDeniedNamesTheDevicesGroupAndTheCommand) {
  testing::TempDir dir;
  const std::string device = dir / "ttyUSB9";
  ASSERT_TRUE(testing::WriteFile(device, ""));
  gid_t gid = getegid();
  if (gid == 0) {  // root's group is never named: give the device another
    const group* tty = getgrnam("tty");
    ASSERT_NE(tty, nullptr);
    gid = tty->gr_gid;
    ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), gid), 0);
  }
  const std::string name = getgrgid(gid)->gr_name;
  EXPECT_EQ(DescribeOpenFailure({OpenError::PermissionDenied, EACCES, ""}, device),
            "Permission denied for " + device + ": it belongs to group " + name +
                "; add yourself with: sudo usermod -aG " + name + " $USER, then log in again");
}

// An adapter pulled: reading and writing end at once instead of using a dead line
// until the wait runs out (each phase's own loop is the fake-line tests' business).
TEST(PosixSerial, ClosedFarEndEndsReadsAndWritesAtOnce) {
  testing::MapProfile profile;
  testing::Recorder dialogs;
  CUpdateApp app(profile, dialogs);
  testing::TempDir dir;
  const std::string image = dir / "image";
  testing::WriteFile(image, std::string(5000, '\x11'));
  const std::pair<const char*, std::function<ResultCode(CDownloadThread&)>> phases[] = {
      {"listen", [](CDownloadThread& t) { return t.ProbeForReply(); }},
      {"streaming", [&](CDownloadThread& t) { return t.SendImage(image.c_str(), 22); }},
  };
  for (const auto& [phase, run] : phases) {
    SCOPED_TRACE(phase);
    Pty pty;
    CDownloadThread thread(app);
    thread.m_hPort = OpenCommPort(pty.path.c_str());
    ASSERT_NE(thread.m_hPort, nullptr);
    ASSERT_EQ(ConfigureCommPort(thread.m_hPort, 115200, 1), RESULT_SUCCESS);
    close(std::exchange(pty.master, -1));
    const auto start = std::chrono::steady_clock::now();
    const ResultCode result = run(thread);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);
    EXPECT_TRUE(CommLineLost(thread.m_hPort));
    EXPECT_EQ(result, RESULT_WRITE_FAILED);
  }
}

}  // namespace
}  // namespace portflash
