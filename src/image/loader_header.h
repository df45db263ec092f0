#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace portflash {

class CUpdateApp;

inline constexpr std::size_t kLoaderWindowSize = 1000;
inline constexpr std::size_t kLoaderNamesMax = 499;  // the names buffer held 500 bytes

// Where the fixed-offset header's texts start for an agent prefix (any case).
std::uint32_t LoaderProductOffset(const char* prefix);

struct LoaderHeader {
  bool valid = false;      // false: the bytes fit neither header layout
  std::string products;    // marked: the names run together; fixed: the list text
  std::uint32_t skip = 0;  // leading bytes the download does not send
};

// Reads the header of an open loader file (from its start).
LoaderHeader ReadLoaderHeader(std::FILE* file, const char* prefix);

// The loader's product list as a heap string; null when the loader cannot be opened,
// or when its header is malformed, which is also reported to the user and flagged
// in *refused. Sets the app's loader skip when a header has been read.
char* ReadLoaderProductList(CUpdateApp& app, bool* refused);

}  // namespace portflash
