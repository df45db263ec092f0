// portflash-sim: a simulated unit on a pseudo-terminal. See --help.
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sim/boot_monitor.h"
#include "sim/pacer.h"
#include "sim/pty_line.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"
#include "sim/socket_line.h"

namespace {

using portflash::sim::BootMonitor;
using portflash::sim::ExpectedImage;
using portflash::sim::Logger;
using portflash::sim::Pacer;
using portflash::sim::PtyLine;
using portflash::sim::SimOptions;
using portflash::sim::SocketLine;
using portflash::sim::UnitLine;
using Clock = std::chrono::steady_clock;

// QEMU may still be starting when the simulator is.
constexpr int kConnectWaitMs = 5000;

volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_bannerRequested = 0;

void OnStopSignal(int signal) {
  g_stopSignal = signal;
}

void OnBannerSignal(int) {
  g_bannerRequested = 1;
}

bool LoadExpected(const std::string& path, std::size_t skip, ExpectedImage* image,
                  std::string* error) {
  if (path.empty()) return true;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read " + path;
    return false;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
  if (skip > bytes.size()) {
    *error = path + " is shorter than the loader skip (" + std::to_string(skip) + ")";
    return false;
  }
  image->known = true;
  image->path = path;
  image->bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(skip), bytes.end());
  return true;
}

enum class Ending { Stopped, Counted, HungUp, Failed };

// Serves the line until a signal, --count or --hangup ends it.
Ending Serve(const SimOptions& options, UnitLine& line, BootMonitor& monitor, const Logger& log,
             const sigset_t& waitMask) {
  Pacer pacer;
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    monitor.OnTime(Clock::now());
    if (monitor.HangUpRequested()) return Ending::HungUp;
    if (options.count != 0 && monitor.DownloadsEnded() >= options.count) return Ending::Counted;

    // The line is watched for bytes unless the pacer says the next one is not due yet.
    std::optional<Clock::time_point> wake = monitor.NextDeadline();
    std::optional<Clock::time_point> paceDue;
    if (options.pace && pacer.Running()) {
      Clock::time_point due;
      if (pacer.Allowance(line.Rate(), Clock::now(), &due) == 0) {
        paceDue = due;
      } else if (line.Pending() == 0) {
        pacer.LineIdle();  // a real line gives no credit for the time it stood idle
      }
    }
    if (paceDue && (!wake || *paceDue < *wake)) wake = paceDue;

    pollfd fds[2] = {{paceDue ? -1 : line.ReadFd(), POLLIN, 0}, {line.WatchFd(), POLLIN, 0}};
    timespec timeout{};
    const timespec* timeoutPointer = nullptr;
    if (wake) {
      const auto left = std::max(Clock::duration::zero(), *wake - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
      timeoutPointer = &timeout;
    }
    const int ready = ppoll(fds, 2, timeoutPointer, &waitMask);
    if (g_stopSignal != 0) return Ending::Stopped;
    if (g_bannerRequested != 0) {
      g_bannerRequested = 0;
      monitor.OnBannerRequest();
    }
    if (ready < 0) {
      if (errno == EINTR) continue;
      log.Line("poll failed");
      return Ending::Failed;
    }
    if (line.TakeClientEvents()) monitor.OnPowerOn();

    const bool readable = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    if (!readable && !(paceDue && Clock::now() >= *paceDue)) continue;
    std::size_t want = buffer.size();
    if (options.pace) {
      Clock::time_point due;
      want = std::min(want, pacer.Allowance(line.Rate(), Clock::now(), &due));
      if (want == 0) continue;
    }
    const long got = line.Read(buffer.data(), want);
    // A pty's own slave keeps the master from hanging up; should it anyway, stop
    // rather than spin on it.
    const bool lost = got == 0 && (fds[0].revents & (POLLHUP | POLLERR)) != 0;
    if (got < 0 || lost) {
      log.Line("the line is gone");
      return Ending::Failed;
    }
    if (options.pace)
      pacer.Took(static_cast<std::size_t>(got), static_cast<std::size_t>(got) < want);
    // Read the rate after the bytes: the PC changes it only after hearing an answer.
    const unsigned rate = line.Rate();
    const auto now = Clock::now();
    monitor.OnBytes(buffer.data(), static_cast<std::size_t>(got), rate, now);
    if (monitor.HangUpRequested()) return Ending::HungUp;
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  std::string error;
  switch (portflash::sim::ParseSimOptions(argc, argv, &options, &error)) {
    case portflash::sim::ParseOutcome::Help:
      std::fputs(portflash::sim::SimHelpText().c_str(), stdout);
      return 0;
    case portflash::sim::ParseOutcome::UsageError:
      std::fprintf(stderr, "portflash-sim: %s\nTry 'portflash-sim --help'.\n", error.c_str());
      return 2;
    case portflash::sim::ParseOutcome::Run:
      break;
  }
  const Logger log(options.quiet);
  ExpectedImage loader, agent;
  if (!LoadExpected(options.expectLoader, options.loaderSkip.value_or(0), &loader, &error) ||
      !LoadExpected(options.expectAgent, 0, &agent, &error)) {
    std::fprintf(stderr, "portflash-sim: %s\n", error.c_str());
    return 1;
  }

  // The stop and banner signals are only let in while waiting, so none is lost between checks.
  sigset_t handled, waitMask;
  sigemptyset(&handled);
  sigaddset(&handled, SIGINT);
  sigaddset(&handled, SIGTERM);
  sigaddset(&handled, SIGUSR1);
  sigprocmask(SIG_BLOCK, &handled, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGUSR1);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = OnBannerSignal;
  sigaction(SIGUSR1, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  portflash::sim::ByteTrace trace;
  if (!trace.Open(options.tracePath, &error)) {
    std::fprintf(stderr, "portflash-sim: %s\n", error.c_str());
    return 1;
  }

  PtyLine pty(log);
  SocketLine socket(log);
  UnitLine& line = options.connectPath.empty() ? static_cast<UnitLine&>(pty) : socket;
  const bool opened =
      options.connectPath.empty()
          ? pty.Open(&error) && (options.linkPath.empty() || pty.Link(options.linkPath, &error))
          : socket.Open(options.connectPath, kConnectWaitMs, &error);
  if (!opened) {
    std::fprintf(stderr, "portflash-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", line.Name().c_str());
  std::fflush(stdout);
  log.Line("unit ready on " + line.Name() +
           (options.linkPath.empty() ? "" : " (" + options.linkPath + ")"));

  BootMonitor monitor(options, std::move(loader), std::move(agent), line, log, trace);
  switch (Serve(options, line, monitor, log, waitMask)) {
    case Ending::Stopped:
      log.Line("stopped by signal " + std::to_string(g_stopSignal));
      return 0;
    case Ending::Counted:
      line.Linger(2000);
      log.Line(std::to_string(monitor.DownloadsEnded()) + " downloads ended");
      return 0;
    case Ending::HungUp:
      line.Close();
      std::printf("hung up\n");
      std::fflush(stdout);
      return 0;
    case Ending::Failed:
      return 1;
  }
  return 1;
}
