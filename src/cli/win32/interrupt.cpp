#include <windows.h>

#include <atomic>
#include <csignal>

#include "cli/interrupt.h"

namespace portflash::cli {
namespace {

std::atomic<int> g_signal{0};

// Runs on a thread of its own. Ctrl-C and Ctrl-Break ask for the same cancel as
// SIGINT on Linux. A closed console window ends the process once this returns,
// so there the handler waits, leaving the main thread the few seconds the
// system grants to stop the download and put the port back.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  int expected = 0;
  const int number = type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
  g_signal.compare_exchange_strong(expected, number);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

bool Interrupt::Install() {
  static const bool installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
  return installed;
}

bool Interrupt::Requested() {
  return g_signal.load() != 0;
}

int Interrupt::Signal() {
  return g_signal.load();
}

// No descriptor to wait on: waits poll Requested().
int Interrupt::Descriptor() {
  return -1;
}

// Console events come on a thread of their own; no thread has to be kept out.
void Interrupt::BlockInThisThread() {}
void Interrupt::UnblockInThisThread() {}

}  // namespace portflash::cli
