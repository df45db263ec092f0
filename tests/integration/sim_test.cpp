// portflash-sim over a real pseudo-terminal, with the test playing the PC.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/raw_line.h"
#include "support/sim_process.h"

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

const std::string kSim = PORTFLASH_SIM;

constexpr int kSilence = -1;
constexpr int kHangUp = -2;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Random bytes with 0xFF sprinkled in, one at each end.
Bytes ImageBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % 5 == 0 ? 0xFF : random());
  if (size > 0) bytes.front() = bytes.back() = 0xFF;
  return bytes;
}

Bytes ReadBytes(const std::string& path) {
  const std::string text = ReadFile(path);
  return Bytes(text.begin(), text.end());
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  return WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

struct StreamResult {
  int reply = kSilence;  // a byte the unit sent before the end byte
  bool hungUp = false;
  std::size_t sent = 0;  // image bytes written
};

// The PC's end of the line, driven the way the download engine drives it.
class PcPort {
 public:
  explicit PcPort(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) SetRate(B9600);
  }
  ~PcPort() { Close(); }
  PcPort(const PcPort&) = delete;
  PcPort& operator=(const PcPort&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool SetRate(speed_t speed) { return SetRawLine(fd_, speed); }

  bool Write(const Bytes& bytes, StreamResult* result = nullptr) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote = write(fd_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        lastError_ = errno;
        return false;
      }
      done += static_cast<std::size_t>(wrote);
      if (result != nullptr) result->sent += static_cast<std::size_t>(wrote);
    }
    return true;
  }

  // The next byte within timeoutMs, kSilence, or kHangUp when the line is gone.
  int Read(int timeoutMs) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) <= 0) return kSilence;
    std::uint8_t byte = 0;
    const ssize_t got = read(fd_, &byte, 1);
    if (got == 1) {
      heard.push_back(byte);
      return byte;
    }
    return got == 0 || errno == EIO ? kHangUp : kSilence;
  }

  // One stage of the handshake: the first byte up to maxTries times, each
  // followed by a 300 ms read, then 0x05, 0x0F, 0x00 once each. The number of
  // tries the first step took, 0 when the stage failed.
  int Stage(std::uint8_t first, int maxTries = 5) {
    int tries = 0;
    for (;;) {
      if (++tries > maxTries) return 0;
      Write({first});
      if (Read(300) == 0x5A) break;
    }
    for (std::uint8_t byte : Bytes{0x05, 0x0F, 0x00}) {
      Write({byte});
      if (Read(1000) != 0x5A) return 0;
    }
    return tries;
  }

  // Both stages, the second at rate.
  bool Handshake(std::uint8_t first, speed_t rate) {
    return SetRate(B9600) && Stage(first) > 0 && SetRate(rate) && Stage(first) > 0;
  }

  // 1000-byte chunks, a glance at the line after each; then the end byte, also
  // after an early reply.
  StreamResult Stream(const Bytes& image) {
    StreamResult result;
    for (std::size_t at = 0; at < image.size() && result.reply == kSilence; at += 1000) {
      const Bytes chunk(
          image.begin() + static_cast<std::ptrdiff_t>(at),
          image.begin() + static_cast<std::ptrdiff_t>(std::min(at + 1000, image.size())));
      if (!Write(chunk, &result)) {
        result.hungUp = true;
        return result;
      }
      result.reply = Read(0);
      if (result.reply == kHangUp) {
        result.hungUp = true;
        return result;
      }
    }
    if (!Write({0xFF})) result.hungUp = true;
    return result;
  }

  int LastError() const { return lastError_; }

  Bytes heard;  // every byte read, in order

 private:
  int fd_ = -1;
  int lastError_ = 0;
};

// The image files for a simulator that knows them.
struct ImageFiles {
  TempDir dir;
  Bytes loaderFile = ImageBytes(3004, 1);  // the first four bytes are not sent
  Bytes agent = ImageBytes(20000, 2);
  Bytes LoaderSent() const { return Bytes(loaderFile.begin() + 4, loaderFile.end()); }
  std::string Loader() const { return dir / "unit.ldr"; }
  std::string Agent() const { return dir / "agent.bin"; }
  bool Write() const { return WriteBytes(Loader(), loaderFile) && WriteBytes(Agent(), agent); }
};

TEST(SimTest, DownloadsBothImagesAndKeepsThemByteForByte) {
  ImageFiles files;
  ASSERT_TRUE(files.Write());
  // A long idle time: in exact mode the answers must not wait for silence.
  SimProcess sim(kSim, {"--expect-loader", files.Loader(), "--loader-skip", "4", "--expect-agent",
                        files.Agent(), "--save-loader", "{dir}/loader.out", "--save-agent",
                        "{dir}/agent.out", "--idle-ms", "5000"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.IsOpen());

  ASSERT_EQ(pc.Stage(0x01), 1) << sim.Log();
  ASSERT_TRUE(pc.SetRate(B115200));
  ASSERT_EQ(pc.Stage(0x01), 1) << sim.Log();
  StreamResult loader = pc.Stream(files.LoaderSent());
  EXPECT_EQ(loader.reply, kSilence);
  EXPECT_EQ(pc.Read(1000), 0x00) << sim.Log();
  EXPECT_EQ(pc.Read(300), kSilence) << "nothing unasked during the listen";
  StreamResult agent = pc.Stream(files.agent);
  EXPECT_EQ(agent.reply, kSilence);
  EXPECT_EQ(pc.Read(1000), 0x16) << sim.Log();

  ASSERT_TRUE(sim.WaitForReport(1, 2s)) << sim.Log();
  EXPECT_EQ(sim.Report()[0], "ok loader=3000 agent=20000");
  EXPECT_EQ(ReadBytes(sim.File("loader.out")), files.LoaderSent());
  EXPECT_EQ(ReadBytes(sim.File("agent.out")), files.agent);

  // The next download on the same line, with one agent byte corrupted on the way.
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Stream(files.LoaderSent());
  EXPECT_EQ(pc.Read(1000), 0x00);
  Bytes corrupted = files.agent;
  corrupted[12345] ^= 0x10;
  pc.Stream(corrupted);
  EXPECT_EQ(pc.Read(1000), 0x16);
  ASSERT_TRUE(sim.WaitForReport(2, 2s)) << sim.Log();
  EXPECT_EQ(sim.Report()[1], "mismatch loader=3000 agent=20000");
  EXPECT_EQ(ReadBytes(sim.File("agent.out")), corrupted);
  EXPECT_TRUE(sim.WaitForOutput("at offset 12345", 1s)) << sim.Log();
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimTest, WithoutExpectedFilesAnImageEndsAtEndByteAndSilence) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out", "--save-agent", "{dir}/agent.out",
                        "--loader-code", "0x0D", "--agent-code", "3", "--idle-ms", "100"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  // The 19200 plan: first byte 0x02, second stage at 19200.
  ASSERT_TRUE(pc.Handshake(0x02, B19200)) << sim.Log();

  // Ends in a data byte 0xFF: only the last 0xFF, the one followed by silence, ends it.
  const Bytes loader = ImageBytes(4500, 3);
  ASSERT_EQ(loader.back(), 0xFF);
  const auto sentAt = SteadyClock::now();
  pc.Stream(loader);
  EXPECT_EQ(pc.Read(1000), 0x0D) << sim.Log();
  EXPECT_GE(SteadyClock::now() - sentAt, 100ms) << "answered before the silence";
  const Bytes agent;  // an empty image: the end byte alone
  pc.Stream(agent);
  EXPECT_EQ(pc.Read(1000), 0x03) << sim.Log();

  ASSERT_TRUE(sim.WaitForReport(1, 2s)) << sim.Log();
  EXPECT_EQ(sim.Report()[0], "ok loader=4500 agent=0");
  EXPECT_EQ(ReadBytes(sim.File("loader.out")), loader);
  EXPECT_TRUE(ReadBytes(sim.File("agent.out")).empty());
}

TEST(SimTest, IgnoresBytesSentAtAnotherRate) {
  SimProcess sim(kSim, {"--save-loader", "{dir}/loader.out", "--idle-ms", "100"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());

  // The first stage is at 9600 only.
  ASSERT_TRUE(pc.SetRate(B115200));
  pc.Write({0x01});
  EXPECT_EQ(pc.Read(400), kSilence);
  EXPECT_TRUE(sim.WaitForOutput("ignored 0x01: line at 115200 bps, the unit expects 9600", 1s))
      << sim.Log();
  ASSERT_TRUE(pc.SetRate(B9600));
  EXPECT_EQ(pc.Stage(0x01), 1) << sim.Log();

  // The second stage is at the plan's rate only: not 9600, not the other plan's.
  pc.Write({0x01});
  EXPECT_EQ(pc.Read(400), kSilence);
  ASSERT_TRUE(pc.SetRate(B19200));
  pc.Write({0x01});
  EXPECT_EQ(pc.Read(400), kSilence);
  ASSERT_TRUE(pc.SetRate(B115200));
  EXPECT_EQ(pc.Stage(0x01), 1) << sim.Log();

  // Image bytes at the wrong rate never reach the image.
  ASSERT_TRUE(pc.SetRate(B19200));
  pc.Write({0x33, 0x34, 0x35});
  ASSERT_TRUE(sim.WaitForOutput("ignored 0x33: line at 19200 bps, the unit expects 115200", 1s))
      << sim.Log();
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(pc.SetRate(B115200));
  const Bytes loader = ImageBytes(1200, 4);
  pc.Stream(loader);
  EXPECT_EQ(pc.Read(1000), 0x00) << sim.Log();
  EXPECT_EQ(ReadBytes(sim.File("loader.out")), loader);
}

TEST(SimTest, SilentUnitNeverAnswers) {
  SimProcess sim(kSim, {"--silent"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  EXPECT_EQ(pc.Stage(0x01, 4), 0);
  EXPECT_TRUE(pc.heard.empty());
  EXPECT_TRUE(sim.WaitForOutput("silent", 1s)) << sim.Log();
}

TEST(SimTest, AnswersOnlyTheNthFirstByte) {
  SimProcess sim(kSim, {"--answer-after", "3"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  EXPECT_EQ(pc.Stage(0x01), 3) << sim.Log();
  ASSERT_TRUE(pc.SetRate(B115200));
  EXPECT_EQ(pc.Stage(0x01), 1) << "the second stage answers at once";
}

TEST(SimTest, PowerOnDelayHoldsBackTheFirstAnswer) {
  SimProcess sim(kSim, {"--answer-delay", "700"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  const auto start = SteadyClock::now();
  const int tries = pc.Stage(0x01, 8);
  const auto took = SteadyClock::now() - start;
  EXPECT_GE(tries, 3) << sim.Log();
  EXPECT_GE(took, 700ms);
  EXPECT_LT(took, 1500ms);
}

TEST(SimTest, WrongReplyInTheFirstStepIsFollowedByTheRightOne) {
  SimProcess sim(kSim, {"--wrong-reply", "1:1:0x33"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  EXPECT_EQ(pc.Stage(0x01), 2) << sim.Log();
  EXPECT_EQ(pc.heard.front(), 0x33);
}

TEST(SimTest, WrongReplyInALaterStepIsGivenOnceAndDoesNotPassTheStep) {
  SimProcess sim(kSim, {"--wrong-reply", "2:3:0x44"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_EQ(pc.Stage(0x01), 1);
  ASSERT_TRUE(pc.SetRate(B115200));
  EXPECT_EQ(pc.Stage(0x01), 0);
  EXPECT_EQ(pc.heard.back(), 0x44);
  EXPECT_EQ(pc.Read(300), kSilence) << "no right answer follows by itself";
  // The PC never sends the byte again; if it did, the step would pass.
  pc.Write({0x0F});
  EXPECT_EQ(pc.Read(1000), 0x5A);
}

TEST(SimTest, ReplyMidImageStopsThePcAndSwallowsTheRest) {
  SimProcess sim(kSim, {"--reply-mid", "loader:3000:0x00"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  const Bytes loader = ImageBytes(60000, 5);
  StreamResult stream = pc.Stream(loader);
  EXPECT_EQ(stream.reply, 0x00) << sim.Log();
  EXPECT_LT(stream.sent, loader.size());

  ASSERT_TRUE(sim.WaitForReport(1, 2s)) << sim.Log();
  const std::string line = sim.Report()[0];
  ASSERT_EQ(line.rfind("reply-mid loader=", 0), 0u) << line;
  EXPECT_EQ(std::stoul(line.substr(17)), stream.sent);
  EXPECT_EQ(pc.Read(300), kSilence) << "the end byte is swallowed, not answered";
  // Ready for the next download.
  EXPECT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
}

TEST(SimTest, HangUpClosesTheLineUnderThePc) {
  SimProcess sim(kSim, {"--hangup", "agent:2000"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Stream(ImageBytes(500, 6));
  ASSERT_EQ(pc.Read(1000), 0x00);
  StreamResult agent = pc.Stream(ImageBytes(100000, 7));
  EXPECT_TRUE(agent.hungUp);
  EXPECT_LT(agent.sent, 100000u);
  EXPECT_EQ(pc.Read(100), kHangUp);
  EXPECT_FALSE(pc.Write({0x00}));
  EXPECT_EQ(pc.LastError(), EIO);
  EXPECT_EQ(sim.WaitForExit(2s), 0);
  EXPECT_TRUE(Contains(sim.Stdout(), "hung up")) << sim.Stdout();
  ASSERT_EQ(sim.Report().size(), 1u);
  EXPECT_EQ(sim.Report()[0], "hung up loader=500 agent=2000");
}

TEST(SimTest, TraceStampsHandshakeBytesAndAnswersOnTheCallersClock) {
  SimProcess sim(kSim, {"--trace", "{dir}/trace"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  const auto before = SteadyClock::now();
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Stream(ImageBytes(3000, 8));
  ASSERT_EQ(pc.Read(1000), 0x00);
  const auto after = SteadyClock::now();

  std::vector<std::string> events;
  long long last = 0;
  std::istringstream trace(ReadFile(sim.File("trace")));
  for (std::string line; std::getline(trace, line);) {
    std::istringstream fields(line);
    long long ns = 0;
    std::string direction, byte;
    ASSERT_TRUE(fields >> ns >> direction >> byte) << line;
    const SteadyClock::time_point at{std::chrono::nanoseconds(ns)};
    EXPECT_TRUE(at >= before && at <= after) << line << ": not on the caller's monotonic clock";
    EXPECT_GE(ns, last) << line;
    last = ns;
    events.push_back(direction + " " + byte);
  }
  // Both stages byte for byte, then only the loader's answer: image bytes are not traced.
  const std::vector<std::string> stage = {"in 0x01", "out 0x5A", "in 0x05", "out 0x5A",
                                          "in 0x0F", "out 0x5A", "in 0x00", "out 0x5A"};
  std::vector<std::string> expected = stage;
  expected.insert(expected.end(), stage.begin(), stage.end());
  expected.push_back("out 0x00");
  EXPECT_EQ(events, expected);
}

TEST(SimTest, BytesArrivingInOneBlockFireATriggerAtItsExactOffset) {
  SimProcess sim(kSim, {"--hangup", "loader:2345"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  // One write, read by the unit in blocks that run past the offset.
  pc.Write(ImageBytes(6000, 9));
  EXPECT_EQ(sim.WaitForExit(2s), 0) << sim.Log();
  ASSERT_EQ(sim.Report().size(), 1u);
  EXPECT_EQ(sim.Report()[0], "hung up loader=2345");
}

TEST(SimTest, StartsOverOnANewHandshakeOrANewClient) {
  ImageFiles files;
  ASSERT_TRUE(files.Write());
  SimProcess sim(kSim, {"--expect-loader", files.Loader(), "--loader-skip", "4", "--expect-agent",
                        files.Agent()});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  {
    PcPort first(sim.Device());
    ASSERT_TRUE(first.Handshake(0x01, B115200)) << sim.Log();
    first.Write(Bytes(1000, 0x11));
    std::this_thread::sleep_for(100ms);  // read at 115200, before the rate changes
    // Gave up in the loader and starts again on the same descriptor.
    ASSERT_TRUE(first.Handshake(0x01, B115200)) << sim.Log();
    first.Write(Bytes(700, 0x22));
    std::this_thread::sleep_for(100ms);
  }  // gone without an end byte
  PcPort second(sim.Device());
  ASSERT_TRUE(second.Handshake(0x01, B115200)) << sim.Log();
  second.Stream(files.LoaderSent());
  EXPECT_EQ(second.Read(1000), 0x00);
  second.Stream(files.agent);
  EXPECT_EQ(second.Read(1000), 0x16);
  ASSERT_TRUE(sim.WaitForReport(3, 2s)) << sim.Log();
  EXPECT_EQ(sim.Report(),
            (std::vector<std::string>{"incomplete loader=1000", "incomplete loader=700",
                                      "ok loader=3000 agent=20000"}));
}

TEST(SimTest, CountEndsTheRunAndRemovesTheLink) {
  SimProcess sim(kSim, {"--count", "1", "--link", "{dir}/unit", "--idle-ms", "50"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::string link = sim.File("unit");
  ASSERT_EQ(std::filesystem::read_symlink(link).string(), sim.Device());
  {
    PcPort pc(link);
    ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
    pc.Stream(ImageBytes(100, 8));
    EXPECT_EQ(pc.Read(1000), 0x00);
    pc.Stream(ImageBytes(100, 9));
    EXPECT_EQ(pc.Read(1000), 0x16) << "the last answer is not lost to the exit";
  }
  EXPECT_EQ(sim.WaitForExit(3s), 0) << sim.Log();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimTest, UnaskedByteComesDuringTheListen) {
  SimProcess sim(kSim, {"--unasked", "0x07", "--idle-ms", "50"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Stream(ImageBytes(100, 10));
  ASSERT_EQ(pc.Read(1000), 0x00);
  const auto answered = SteadyClock::now();
  EXPECT_EQ(pc.Read(1500), 0x07);
  const auto after = SteadyClock::now() - answered;
  EXPECT_GE(after, 100ms);
  EXPECT_LT(after, 1000ms) << "within the PC's five reads";
}

TEST(SimTest, GarbageBetweenTheStagesIsTolerated) {
  SimProcess sim(kSim, {"--garbage=stages", "--seed", "5", "--idle-ms", "50"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_EQ(pc.Stage(0x01), 1);
  ASSERT_TRUE(pc.SetRate(B115200));
  const int tries = pc.Stage(0x01);
  EXPECT_GE(tries, 3) << "2 to 4 garbage bytes, each a miss";
  EXPECT_LE(tries, 5);
  for (std::size_t i = 4; i < pc.heard.size() - 4; ++i) EXPECT_NE(pc.heard[i], 0x5A);
  // The repeats of the first byte did not upset the unit.
  pc.Stream(ImageBytes(300, 11));
  EXPECT_EQ(pc.Read(1000), 0x00) << sim.Log();
  EXPECT_TRUE(sim.WaitForOutput("repeated first byte 0x01, ignored", 1s)) << sim.Log();
}

TEST(SimTest, GarbageInTheListenFollowsTheLoaderAnswer) {
  SimProcess sim(kSim, {"--garbage=listen", "--idle-ms", "50"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x01, B115200)) << sim.Log();
  pc.Stream(ImageBytes(300, 12));
  ASSERT_EQ(pc.Read(1000), 0x00);
  const int garbage = pc.Read(300);
  EXPECT_NE(garbage, kSilence);
  EXPECT_NE(garbage, 0x5A);
}

// 3001 bytes (with the end byte) at 19200 bps, 11 bits each: 1.719 s.
TEST(SimTest, PaceHoldsTheLineRate) {
  ImageFiles files;
  files.loaderFile = ImageBytes(3004, 13);
  ASSERT_TRUE(files.Write());
  SimProcess sim(kSim, {"--pace", "--expect-loader", files.Loader(), "--loader-skip", "4"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  PcPort pc(sim.Device());
  ASSERT_TRUE(pc.Handshake(0x02, B19200)) << sim.Log();
  const auto start = SteadyClock::now();
  pc.Stream(files.LoaderSent());
  ASSERT_EQ(pc.Read(3000), 0x00) << sim.Log();
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  EXPECT_GT(seconds, 1.719 * 0.99);
  EXPECT_LT(seconds, 1.719 * 1.04);
}

TEST(SimTest, RejectsBadUsageWithStatusTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"stray"},
      {"--count"},
      {"--count", "0"},
      {"--loader-code", "256"},
      {"--agent-code", "-1"},
      {"--wrong-reply", "3:1:0x33"},
      {"--wrong-reply", "1:5:0x33"},
      {"--wrong-reply", "1:1"},
      {"--reply-mid", "middle:10:0"},
      {"--reply-mid", "loader:10"},
      {"--hangup", "agent:ten"},
      {"--garbage=everywhere"},
      {"--silent=yes"},
      {"--loader-skip", "4"},
      {"--idle-ms", "0"},
  };
  for (const auto& args : bad) {
    ChildProcess::Options options;
    options.argv = {kSim};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    const RunResult run = RunToEnd(options, 5s);
    EXPECT_EQ(run.status, 2) << args[0] << "\n" << run.err;
    EXPECT_TRUE(run.out.empty()) << args[0] << ": no device for a bad command line";
  }

  ChildProcess::Options missing;
  missing.argv = {kSim, "--expect-agent", "/nonexistent/agent.bin"};
  EXPECT_EQ(RunToEnd(missing, 5s).status, 1);

  ChildProcess::Options help;
  help.argv = {kSim, "--help"};
  const RunResult shown = RunToEnd(help, 5s);
  EXPECT_EQ(shown.status, 0);
  for (const char* option :
       {"--link",         "--count",        "--pace",       "--quiet",       "--expect-loader",
        "--loader-skip",  "--expect-agent", "--idle-ms",    "--save-loader", "--save-agent",
        "--report",       "--loader-code",  "--agent-code", "--silent",      "--answer-after",
        "--answer-delay", "--wrong-reply",  "--unasked",    "--reply-mid",   "--hangup",
        "--garbage",      "--seed",         "--trace"})
    EXPECT_TRUE(Contains(shown.out, option)) << option;
}

}  // namespace
}  // namespace portflash::testing
