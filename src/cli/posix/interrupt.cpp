#include "cli/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace portflash::cli {
namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler must not take a lock");

void OnSignal(int number) {
  int saved = errno;
  int expected = 0;
  g_signal.compare_exchange_strong(expected, number);
  // One byte is enough: nobody reads it, the pipe only has to stay readable.
  char byte = 1;
  if (write(g_pipe[1], &byte, 1) < 0) {
    // Full pipe: already readable.
  }
  errno = saved;
}

sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

bool Interrupt::Install() {
  if (g_pipe[0] >= 0) return true;
  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigaction(number, &action, nullptr) != 0) return false;
  }
  // A vanished reader of our output must not kill us with the port still configured.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  return true;
}

bool Interrupt::Requested() {
  return g_signal.load() != 0;
}

int Interrupt::Signal() {
  return g_signal.load();
}

int Interrupt::Descriptor() {
  return g_pipe[0];
}

void Interrupt::UnblockInThisThread() {
  sigset_t set = HandledSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void Interrupt::BlockInThisThread() {
  sigset_t set = HandledSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace portflash::cli
