// portflash-sim over a real pseudo-terminal, with the test playing the PC: what the
// simulator does that the downloads through the engine and the CLI do not show.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
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

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// The PC's end of the line, driven the way the download engine drives it.
class PcPort {
 public:
  explicit PcPort(const std::string& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY)) {
    SetRate(B9600);
  }
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

// And with --garbage=listen, what follows the loader's answer is no answer.
TEST(SimTest, EachStageListensOnlyAtItsRate) {
  SimProcess sim(kSim, {"--idle-ms", "100", "--garbage=listen"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  // The first stage is at 9600 only.
  ASSERT_TRUE(pc.SetRate(B115200));
  ASSERT_TRUE(pc.Write({0x01}));
  EXPECT_EQ(pc.Read(400), kSilence);
  EXPECT_TRUE(sim.WaitForOutput("ignored 0x01: line at 115200 bps, the unit expects 9600", 1s))
      << sim.Log();
  ASSERT_TRUE(pc.SetRate(B9600));
  EXPECT_TRUE(pc.Stage(0x01)) << sim.Log();
  // The second at the plan's rate only: not 9600, not the other plan's.
  for (speed_t wrong : {B9600, B19200}) {
    ASSERT_TRUE(pc.SetRate(wrong) && pc.Write({0x01}));
    EXPECT_EQ(pc.Read(400), kSilence);
  }
  ASSERT_TRUE(pc.SetRate(B115200));
  EXPECT_TRUE(pc.Stage(0x01)) << sim.Log();
  EXPECT_EQ(pc.Send(RandomBytes(300, 1)), 0x00) << sim.Log();
  const int garbage = pc.Read(300);
  EXPECT_TRUE(garbage != kSilence && garbage != 0x5A) << garbage;
}

TEST(SimTest, TraceStampsHandshakeBytesAndAnswersOnTheCallersClock) {
  SimProcess sim(kSim, {"--trace", "{dir}/trace", "--idle-ms", "50"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  const auto before = SteadyClock::now();
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  ASSERT_EQ(pc.Send(RandomBytes(3000, 4)), 0x00);
  const auto after = SteadyClock::now();
  // The answer may be traced just after it went: 8 bytes each way, then the answer.
  ASSERT_TRUE(Eventually(
      [&] {
        const std::string trace = ReadFile(sim.File("trace"));
        return std::count(trace.begin(), trace.end(), '\n') >= 17;
      },
      5s));

  // Each line "<ns> in|out 0xNN", in order, within the exchange on this process's clock.
  std::vector<std::string> events;
  std::istringstream trace(ReadFile(sim.File("trace")));
  long long ns = 0, last = before.time_since_epoch() / 1ns;
  for (std::string direction, byte; trace >> ns >> direction >> byte; last = ns) {
    EXPECT_TRUE(ns >= last && ns <= after.time_since_epoch() / 1ns) << ns;
    events.push_back(direction + " " + byte);
  }
  // Both stages byte for byte, then only the loader's answer: image bytes are not traced.
  std::vector<std::string> expected;
  for (int stage = 0; stage < 2; ++stage)
    for (const char* in : {"in 0x01", "in 0x05", "in 0x0F", "in 0x00"})
      expected.insert(expected.end(), {in, "out 0x5A"});
  expected.push_back("out 0x00");
  EXPECT_EQ(events, expected);
}

TEST(SimTest, BytesArrivingInOneBlockFireATriggerAtItsExactOffset) {
  SimProcess sim(kSim, {"--hangup", "loader:2345"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Write(RandomBytes(6000, 5));  // read by the unit in blocks that run past the offset
  EXPECT_EQ(sim.WaitForExit(2s), 0) << sim.Log();
  EXPECT_EQ(sim.Report(), std::vector<std::string>{"hung up loader=2345"});
}

// --count ends the run once a download has ended (an abandoned one does not count),
// with its last answer sent and the link removed.
TEST(SimTest, StartsOverOnANewHandshakeOrANewClientAndCountEndsTheRun) {
  TempDir dir;
  const Bytes loader = RandomBytes(3000, 6), agent = RandomBytes(20000, 7);
  ASSERT_TRUE(WriteFile(dir / "ldr", std::string(loader.begin(), loader.end())) &&
              WriteFile(dir / "agent", std::string(agent.begin(), agent.end())));
  SimProcess sim(kSim, {"--expect-loader", dir / "ldr", "--expect-agent", dir / "agent", "--count",
                        "1", "--link", "{dir}/unit"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string link = sim.File("unit");
  ASSERT_EQ(std::filesystem::read_symlink(link).string(), sim.Device());
  {
    PcPort first(sim.Device());
    ASSERT_TRUE(first.Handshake(0x01, B115200)) << sim.Log();
    first.Write(Bytes(1000, 0x11));
    // Read at 115200, before the rate changes: the unit shows no sign of having read.
    std::this_thread::sleep_for(100ms);
    // Gave up in the loader and starts again on the same descriptor.
    ASSERT_TRUE(first.Handshake(0x01, B115200)) << sim.Log();
    first.Write(Bytes(700, 0x22));
    std::this_thread::sleep_for(100ms);
  }  // gone without an end byte
  {
    PcPort second(link);
    ASSERT_TRUE(second.Handshake(0x01, B115200)) << sim.Log();
    EXPECT_EQ(second.Send(loader), 0x00);
    EXPECT_EQ(second.Send(agent), 0x16) << "the last answer is not lost to the exit";
  }
  EXPECT_EQ(sim.WaitForExit(3s), 0) << sim.Log();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(sim.Report(),
            (std::vector<std::string>{"incomplete loader=1000", "incomplete loader=700",
                                      "ok loader=3000 agent=20000"}));
}

// 3001 bytes (with the end byte) at 19200 bps, 11 bits each: 1.719 s.
TEST(SimTest, PaceHoldsTheLineRate) {
  TempDir dir;
  const Bytes loader = RandomBytes(3000, 10);
  ASSERT_TRUE(WriteFile(dir / "ldr", std::string(loader.begin(), loader.end())));
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

// QEMU's end of a serial device's socket (telnet=on): its opening negotiation and the
// guest's bytes as they are in; the unit's 0xFF doubled and a break as IAC BREAK out.
TEST(SimTest, ServesAQemuSocketInItsTelnetFraming) {
  TempDir dir;
  const std::string path = dir / "line.sock";
  const int server = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(server, 1), 0);
  SimProcess sim(kSim, {"--connect", path, "--idle-ms", "50", "--break", "loader:100", "--hangup",
                        "agent:end", "--banner", "\xff", "--trace", "{dir}/trace"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const int qemu = accept(server, nullptr, nullptr);
  close(server);
  ASSERT_GE(qemu, 0);
  const auto exchange = [qemu](const Bytes& out, std::size_t want, int timeoutMs = 1000) {
    if (write(qemu, out.data(), out.size()) != static_cast<ssize_t>(out.size())) return Bytes{};
    Bytes in;
    pollfd readable{qemu, POLLIN, 0};
    std::uint8_t byte = 0;
    while (in.size() < want && poll(&readable, 1, timeoutMs) > 0 && read(qemu, &byte, 1) == 1)
      in.push_back(byte);
    return in;
  };
  const Bytes negotiation = {0xFF, 0xFB, 0x01, 0xFF, 0xFB, 0x03,
                             0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00};
  Bytes first = negotiation;
  first.push_back(0x01);
  EXPECT_EQ(exchange(first, 1), Bytes{0x5A}) << sim.Log();
  EXPECT_NE(ReadFile(sim.File("trace")).find(" in 0x01\n"), std::string::npos);
  EXPECT_EQ(ReadFile(sim.File("trace")).find(" in 0xFF"), std::string::npos) << "negotiation kept";
  // No rate to read: the second stage is taken at any.
  for (std::uint8_t byte : Bytes{0x05, 0x0F, 0x00, 0x01, 0x05, 0x0F, 0x00})
    ASSERT_EQ(exchange({byte}, 1), Bytes{0x5A}) << sim.Log();
  const auto sent = SteadyClock::now();
  EXPECT_EQ(exchange({0x10, 0xFF, 0xFF, 0x20, 0xFF}, 3), (Bytes{0xFF, 0xF3, 0x00})) << sim.Log();
  EXPECT_GE(SteadyClock::now() - sent, 150ms) << "the answer 100 ms after the break";
  sim.Signal(SIGUSR1);
  EXPECT_EQ(exchange({}, 2), (Bytes{0xFF, 0xFF})) << sim.Log();
  EXPECT_EQ(exchange({0x30, 0xFF}, 1, 2000), Bytes{}) << "hung up instead of the agent's answer";
  ASSERT_TRUE(sim.WaitForReport(1, 2s)) << sim.Log();
  EXPECT_EQ(sim.Report()[0], "hung up loader=4 agent=1") << "0xFF from the guest is not doubled";
  close(qemu);
}

}  // namespace
}  // namespace portflash::testing
