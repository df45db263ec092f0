#pragma once
// Progress lines on stderr, stamped with the seconds since start.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace portflash::sim {

class Logger {
 public:
  explicit Logger(bool quiet) : quiet_(quiet) {}
  void Line(const std::string& text) const;
  bool Quiet() const { return quiet_; }

 private:
  bool quiet_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "0x5A"
std::string HexByte(unsigned byte);

// --trace: one line per byte, "<ns> in|out 0xNN", stamped with the monotonic clock
// that steady_clock reads (CLOCK_MONOTONIC), so that a program on the same machine
// can time its reactions to the unit's bytes against its own clock.
class ByteTrace {
 public:
  ByteTrace() = default;
  ~ByteTrace();
  ByteTrace(const ByteTrace&) = delete;
  ByteTrace& operator=(const ByteTrace&) = delete;

  // An empty path leaves the trace off.
  bool Open(const std::string& path, std::string* error);
  void Note(const char* direction, std::uint8_t byte,
            std::chrono::steady_clock::time_point at) const;

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace portflash::sim
