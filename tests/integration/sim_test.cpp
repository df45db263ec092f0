// portflash-sim over a real pseudo-terminal, with the test playing the PC: what the
// simulator does that the downloads through the engine and the CLI do not show. Its
// socket line (QEMU's telnet framing, breaks, the banner) is the real-line stage's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/raw_line.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

const std::string kSim = PORTFLASH_SIM;
constexpr int kSilence = -1;

// The PC's end of the line, driven the way the download engine drives it.
class PcPort {
 public:
  // Raw only once a rate is set: every exchange below starts with one.
  explicit PcPort(const std::string& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY)) {}
  ~PcPort() { close(fd_); }

  bool SetRate(speed_t speed) { return SetRawLine(fd_, speed); }
  bool Write(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // The next byte within timeoutMs, or kSilence.
  int Read(int timeoutMs) {
    pollfd readable{fd_, POLLIN, 0};
    std::uint8_t byte = 0;
    if (poll(&readable, 1, timeoutMs) <= 0 || read(fd_, &byte, 1) != 1) return kSilence;
    return byte;
  }
  // One stage, each byte answered at the first try.
  bool Stage(std::uint8_t first) {
    for (std::uint8_t byte : Bytes{first, 0x05, 0x0F, 0x00})
      if (!Write({byte}) || Read(1000) != 0x5A) return false;
    return true;
  }
  bool Handshake(std::uint8_t first, speed_t rate) {
    return SetRate(B9600) && Stage(first) && SetRate(rate) && Stage(first);
  }
  // An image and its end byte; the answer, or kSilence.
  int Send(Bytes image, int timeoutMs = 1000) {
    image.push_back(0xFF);
    return Write(image) ? Read(timeoutMs) : kSilence;
  }

 private:
  int fd_;
};

// The trace stamps handshake bytes on the caller's clock, image bytes not. A trigger
// fires at its exact offset though the unit reads the image in blocks that run past it.
// (Which rate each stage listens at is the unit tests', on the same boot monitor.)
TEST(SimTest, TraceIsOnTheCallersClockAndATriggerFiresAtItsOffset) {
  SimProcess sim(kSim, {"--trace", "{dir}/trace", "--hangup", "loader:2345"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  const auto before = SteadyClock::now();
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Write(ImageBytes(6000, 5));
  EXPECT_EQ(sim.WaitForExit(2s), 0) << sim.Log();
  const auto after = SteadyClock::now();
  EXPECT_EQ(sim.Report(), std::vector<std::string>{"hung up loader=2345"});

  // Each line "<ns> in|out 0xNN", in order, within the exchange on this process's clock.
  std::string events;
  std::istringstream trace(ReadFile(sim.File("trace")));
  long long ns = 0, last = before.time_since_epoch() / 1ns;
  for (std::string direction, byte; trace >> ns >> direction >> byte; last = ns) {
    EXPECT_TRUE(ns >= last && ns <= after.time_since_epoch() / 1ns) << ns;
    events += direction + " " + byte + ", ";
  }
  const std::string stage =
      "in 0x01, out 0x5A, in 0x05, out 0x5A, in 0x0F, out 0x5A, in 0x00, out 0x5A, ";
  EXPECT_EQ(events, stage + stage);
}

// 3001 bytes (with the end byte) at 19200 bps, 11 bits each: 1.719 s.
TEST(SimTest, PaceHoldsTheLineRate) {
  TempDir dir;
  const Bytes loader = ImageBytes(3000, 10);
  ASSERT_TRUE(WriteFile(dir / "ldr", loader));
  SimProcess sim(kSim, {"--pace", "--expect-loader", dir / "ldr"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x02, B19200)) << sim.Log();
  const auto start = SteadyClock::now();
  ASSERT_EQ(pc.Send(loader, 3000), 0x00) << sim.Log();
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  // Never faster than the line; the rate's precision is bench/'s.
  EXPECT_TRUE(seconds > 1.719 * 0.99 && seconds < 1.719 * 5) << seconds;
}

}  // namespace
}  // namespace portflash::testing
