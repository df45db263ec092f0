#pragma once
#include <cstdint>

namespace portflash {

// A 16-bit outcome: 0..255 is a byte that the unit sent, the top ten values are our own.
using ResultCode = std::uint16_t;

inline constexpr ResultCode RESULT_SUCCESS = 0xFFFF;
inline constexpr ResultCode RESULT_RESULT_TIMEOUT = 0xFFFE;
inline constexpr ResultCode RESULT_NO_FILE = 0xFFFD;
inline constexpr ResultCode RESULT_WRITE_FAILED = 0xFFFC;
inline constexpr ResultCode RESULT_SYNC_FAILED = 0xFFFB;
inline constexpr ResultCode RESULT_BAD_BAUD = 0xFFFA;
inline constexpr ResultCode RESULT_CONFIG_FAILED = 0xFFF9;
inline constexpr ResultCode RESULT_NO_DATA = 0xFFF8;
inline constexpr ResultCode RESULT_NO_MEMORY = 0xFFF7;
inline constexpr ResultCode RESULT_OPEN_FAILED = 0xFFF6;

inline constexpr bool IsInternalResult(ResultCode code) {
  return code >= RESULT_OPEN_FAILED;
}

// Progress channels and the step value that marks an image as completely sent.
inline constexpr int PROGRESS_SYNC = 101;
inline constexpr int PROGRESS_BOOT = 102;
inline constexpr int PROGRESS_AGENT = 103;
inline constexpr int PROGRESS_DONE = 104;

}  // namespace portflash
