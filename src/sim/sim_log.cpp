#include "sim/sim_log.h"

#include <cstdio>

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

}  // namespace portflash::sim
