#include "support/raw_client.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/raw_line.h"

namespace portflash::bench {

namespace {
constexpr std::uint8_t kSyncReply = 0x5A;
}  // namespace

RawClient::~RawClient() {
  if (fd_ >= 0) close(fd_);
}

bool RawClient::Open(const std::string& device) {
  fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return fd_ >= 0 && SetSpeed(B9600);
}

bool RawClient::SetSpeed(speed_t speed) {
  return testing::SetRawLine(fd_, speed);
}

bool RawClient::Write(std::uint8_t byte) {
  for (;;) {
    const ssize_t wrote = write(fd_, &byte, 1);
    if (wrote == 1) return true;
    if (wrote < 0 && errno == EINTR) continue;
    return false;
  }
}

int RawClient::Read(int timeoutMs) {
  pollfd readable{fd_, POLLIN, 0};
  if (poll(&readable, 1, timeoutMs) <= 0) return -1;
  std::uint8_t byte = 0;
  return read(fd_, &byte, 1) == 1 ? byte : -1;
}

bool RawClient::Stage(std::uint8_t first) {
  bool answered = false;
  for (int attempt = 0; attempt < 20 && !answered; ++attempt) {
    answered = Write(first) && Read(300) == kSyncReply;
  }
  if (!answered) return false;
  for (const std::uint8_t byte : {std::uint8_t{0x05}, std::uint8_t{0x0F}, std::uint8_t{0x00}}) {
    if (!Write(byte) || Read(2000) != kSyncReply) return false;
  }
  return true;
}

bool RawClient::Handshake(const std::string& speed) {
  const bool slow = speed == "19200";
  const std::uint8_t first = slow ? 0x02 : 0x01;
  return fd_ >= 0 && SetSpeed(B9600) && Stage(first) && SetSpeed(slow ? B19200 : B115200) &&
         Stage(first);
}

RawClient::Copy RawClient::CopyWith(const std::vector<std::string>& argv, int answerTimeoutMs) {
  Copy copy;
  const auto start = SteadyClock::now();
  MeasuredChild program;
  MeasuredChild::Options options;
  options.argv = argv;
  options.stdoutFd = fd_;
  if (!program.Start(options)) return copy;
  copy.program = program.Wait();
  if (copy.program.status == 0 && SendEndByteAndListen(answerTimeoutMs, &copy))
    copy.seconds = SecondsSince(start);
  return copy;
}

bool RawClient::SendEndByteAndListen(int answerTimeoutMs, Copy* copy) {
  if (!Write(0xFF)) return false;
  copy->answer = Read(answerTimeoutMs);
  copy->ok = copy->answer >= 0;
  return copy->ok;
}

RawClient::Copy RawClient::WriteChunks(const std::string& path, std::size_t chunk,
                                       int answerTimeoutMs) {
  Copy copy;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return copy;
  const int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  std::vector<std::uint8_t> buffer(chunk);
  const double cpuStart = ThreadCpuSeconds();
  const long switchesStart = ThreadContextSwitches();
  const auto start = SteadyClock::now();
  bool failed = false;
  for (std::size_t n; !failed && (n = std::fread(buffer.data(), 1, chunk, file)) > 0;) {
    for (std::size_t done = 0; done < n;) {
      const ssize_t wrote = write(fd_, buffer.data() + done, n - done);
      if (wrote > 0) {
        done += static_cast<std::size_t>(wrote);
      } else if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd writable{fd_, POLLOUT, 0};
        poll(&writable, 1, 100);
      } else {
        failed = true;
        break;
      }
    }
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) failed = true;  // the unit spoke early
  }
  std::fclose(file);
  copy.program.cpuSeconds = ThreadCpuSeconds() - cpuStart;
  copy.program.contextSwitches = ThreadContextSwitches() - switchesStart;
  fcntl(fd_, F_SETFL, flags);
  if (!failed && SendEndByteAndListen(answerTimeoutMs, &copy)) copy.seconds = SecondsSince(start);
  return copy;
}

}  // namespace portflash::bench
