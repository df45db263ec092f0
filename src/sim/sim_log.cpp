#include "sim/sim_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace portflash::sim {

void Logger::Line(const std::string& text) const {
  if (quiet_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fprintf(stderr, "portflash-sim [%7.3f] %s\n", seconds, text.c_str());
  std::fflush(stderr);
}

std::string HexByte(unsigned byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte & 0xFFu);
  return text;
}

ByteTrace::~ByteTrace() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ByteTrace::Open(const std::string& path, std::string* error) {
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void ByteTrace::Note(const char* direction, std::uint8_t byte,
                     std::chrono::steady_clock::time_point at) const {
  if (file_ == nullptr) return;
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  std::fprintf(file_, "%lld %s %s\n", static_cast<long long>(ns), direction, HexByte(byte).c_str());
  // A reader follows the file while the unit runs.
  std::fflush(file_);
}

}  // namespace portflash::sim
