#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/interrupt.h"

namespace portflash::cli::console {
namespace {

// stdin read on a thread of its own: a console or pipe read cannot be waited on
// together with a Ctrl-C. It runs until the end of input; the process may end
// while it waits.
class InputReader {
 public:
  static InputReader& Get() {
    static InputReader* reader = new InputReader;  // never destroyed: its thread may still read
    return *reader;
  }

  Input ReadLine(std::string* line) {
    std::unique_lock lock(m_mutex);
    for (;;) {
      if (std::size_t end = m_buffer.find('\n'); end != std::string::npos) {
        *line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        if (!line->empty() && line->back() == '\r') line->pop_back();
        return Input::Line;
      }
      if (m_ended) {
        *line = m_buffer;
        m_buffer.clear();
        return line->empty() ? Input::End : Input::Line;
      }
      if (Interrupt::Requested()) return Input::Interrupted;
      m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
  }

 private:
  InputReader() {
    std::thread([this] { Run(); }).detach();
  }

  void Run() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
      char chunk[256];
      DWORD got = 0;
      const bool ok = input != nullptr && input != INVALID_HANDLE_VALUE &&
                      ReadFile(input, chunk, sizeof chunk, &got, nullptr) != 0 && got > 0;
      std::lock_guard lock(m_mutex);
      if (!ok) {
        m_ended = true;
        m_changed.notify_all();
        return;
      }
      m_buffer.append(chunk, got);
      m_changed.notify_all();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::string m_buffer;
  bool m_ended = false;
};

}  // namespace

bool ProgressRedraws() {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == INVALID_HANDLE_VALUE || GetConsoleMode(error, &mode) == 0) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  // Older consoles refuse the mode: they get plain lines.
  return SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int Width() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) != 0) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

Input ReadLine(std::string* line, int) {
  line->clear();
  if (Interrupt::Requested()) return Input::Interrupted;
  return InputReader::Get().ReadLine(line);
}

}  // namespace portflash::cli::console
