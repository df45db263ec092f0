#pragma once

namespace portflash {

// The program's string table, keyed by resource number. Unknown numbers give "".
const char* LoadStringResource(int id);

inline constexpr int IDS_WIZARD = 103;
inline constexpr int IDS_UPDATE_OK = 111;
inline constexpr int IDS_NO_FILENAME = 113;
inline constexpr int IDS_NO_MEMORY = 119;
inline constexpr int IDS_BIN_NOT_FOUND = 120;
inline constexpr int IDS_OPEN_FAILED = 121;
inline constexpr int IDS_UTILITY_VERSION = 122;
inline constexpr int IDS_COMPLETE = 123;
inline constexpr int IDS_WAITING = 124;
inline constexpr int IDS_DOWNLOADING = 125;
inline constexpr int IDS_NO_LOADER = 126;
inline constexpr int IDS_CANCEL_QUESTION = 128;
inline constexpr int IDS_FONT_FACE = 129;
inline constexpr int IDS_FONT_HEIGHT = 131;
inline constexpr int IDS_POWER_OFF = 141;

}  // namespace portflash
