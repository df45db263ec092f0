#include "image/loader_header.h"

#include <array>
#include <cstring>

#include "app/update_app.h"
#include "engine/dialogs.h"
#include "image/image_files.h"

namespace portflash {
namespace {

constexpr std::uint8_t kMarkByte = 0xFF;
constexpr std::uint8_t kEndByte = 0xFF;
constexpr std::uint8_t kEntryByte = 0x50;
constexpr std::uint32_t kMarkSize = 4;

using Window = std::array<std::uint8_t, kLoaderWindowSize>;

// Entries 'P', one unread byte, a NUL-terminated name; any other byte is passed over,
// and the first 0xFF met ends the area.
LoaderHeader WalkMarkedArea(const Window& window, std::size_t count) {
  LoaderHeader header;
  std::size_t p = 0;
  for (;;) {
    if (p >= count) return header;  // no end byte in what was read
    if (window[p] == kEndByte) break;
    if (window[p] == kEntryByte) {
      for (p += 2;; ++p) {
        if (p >= count) return header;  // name runs past the window
        if (window[p] == 0) break;
        if (header.products.size() >= kLoaderNamesMax) return header;
        header.products.push_back(static_cast<char>(window[p]));
      }
    }
    ++p;
  }
  header.valid = true;
  header.skip = static_cast<std::uint32_t>(kMarkSize + p + 1);
  return header;
}

// A skipped text, then the product list; both must end inside the window.
LoaderHeader ReadFixedTexts(const Window& window, std::size_t count) {
  LoaderHeader header;
  const std::uint8_t* begin = window.data();
  const std::uint8_t* end = begin + count;
  const auto* skipped = static_cast<const std::uint8_t*>(std::memchr(begin, 0, count));
  if (skipped == nullptr) return header;
  const std::uint8_t* list = skipped + 1;
  const auto* listEnd =
      static_cast<const std::uint8_t*>(std::memchr(list, 0, static_cast<std::size_t>(end - list)));
  if (listEnd == nullptr) return header;
  header.products.assign(reinterpret_cast<const char*>(list),
                         static_cast<std::size_t>(listEnd - list));
  header.valid = true;
  header.skip = 0;
  return header;
}

}  // namespace

std::uint32_t LoaderProductOffset(const char* prefix) {
  std::string lower = prefix != nullptr ? prefix : "";
  LowerString(lower.data());
  if (lower == "hpz" || lower == "jdq") return 1031;
  if (lower == "kvr" || lower == "tnw") return 15;
  return 10;
}

LoaderHeader ReadLoaderHeader(std::FILE* file, const char* prefix) {
  Window window{};
  if (std::fread(window.data(), 1, kMarkSize, file) != kMarkSize) return {};
  bool marked = window[0] == kMarkByte && window[1] == kMarkByte && window[2] == kMarkByte &&
                window[3] == kMarkByte;
  long offset = marked ? long{kMarkSize} : static_cast<long>(LoaderProductOffset(prefix));
  if (std::fseek(file, offset, SEEK_SET) != 0) return {};
  std::size_t count = std::fread(window.data(), 1, window.size(), file);
  if (std::ferror(file)) return {};
  return marked ? WalkMarkedArea(window, count) : ReadFixedTexts(window, count);
}

char* ReadLoaderProductList(CUpdateApp& app, bool* refused) {
  *refused = false;
  FileHandle file = OpenRegularFile(app.GetLoaderPath(), "rb");
  if (!file) return nullptr;
  LoaderHeader header = ReadLoaderHeader(file.get(), app.GetAgentPrefix());
  file.reset();
  if (!header.valid) {
    *refused = true;
    app.GetDialogs().ShowMessage(std::string("The loader file ") + app.GetLoaderPath() +
                                 " has no valid product header");
    return nullptr;
  }
  app.SetLoaderSkip(header.skip);
  return DupString(header.products.c_str());
}

char* CUpdateApp::ReadLoaderProducts() {
  bool refused = false;
  return ReadLoaderProductList(*this, &refused);
}

}  // namespace portflash
