#include <cstring>
#include <string>
#include <string_view>

#include "app/update_app.h"
#include "engine/dialogs.h"
#include "image/bin_record.h"
#include "image/image_files.h"
#include "image/loader_header.h"
#include "res/string_table.h"

namespace portflash {
namespace {

constexpr const char* kBadRecordType = "Unable to get agent record\nCorrupt BIN file?";
constexpr const char* kBadRecord =
    "Unknown Firmware record\nCheck for a new version of this Utility";
// The list was built in a 200-byte buffer.
constexpr std::size_t kProductListMax = 199;

std::string ReadErrorText(const char* path) {
  return std::string("Unable to read the agent file\n") + path;
}

}  // namespace

int CUpdateApp::CheckProducts() {
  m_pszProductList.reset();
  bool productFlag = false;
  bool imageFlag = false;
  int result = 1;
  bool stop = false;

  bool refused = false;
  HeapString loaderList(ReadLoaderProductList(*this, &refused));
  if (refused) return 0;
  // " " matches no ordinary name: only wildcards pass without a loader list.
  if (!loaderList) loaderList.reset(DupString(""));
  std::string_view supported(loaderList ? loaderList.get() : " ");  // null only without memory

  std::string accumulated;
  const char* agentPath = m_pszAgentPath ? m_pszAgentPath.get() : "";
  FileHandle file = OpenRegularFile(agentPath, "rb");
  if (!file) {
    m_dialogs.ShowMessage(LoadStringResource(IDS_BIN_NOT_FOUND));
    return 0;
  }

  BinPayload payload{};
  int type = std::fgetc(file.get());
  while (type != EOF && !stop && result == 1) {
    std::uint8_t length = 0;
    if (!IsBinRecordType(type)) {
      m_dialogs.ShowMessage(kBadRecordType);
      result = 0;
    } else if (ReadBinRecord(file.get(), &length, payload) != 0) {
      m_dialogs.ShowMessage(std::ferror(file.get()) ? ReadErrorText(agentPath) : kBadRecord);
      result = 0;
    } else {
      if (type == kRecordProduct) {
        const char* text = reinterpret_cast<const char*>(payload.data());
        std::string_view name(text, strnlen(text, length));
        if (accumulated.find(name) == std::string::npos &&
            supported.find(name) != std::string_view::npos) {
          if (accumulated.size() + name.size() + 1 > kProductListMax) {
            m_dialogs.ShowMessage(
                "Too many products in agent file\nThe supported product names exceed " +
                std::to_string(kProductListMax) + " characters");
            result = 0;
            break;
          }
          accumulated.append(name).push_back(' ');
          productFlag = true;
        }
        if (!name.empty() && name.front() == '*') productFlag = true;
      } else if (type == kRecordClearImage) {
        productFlag = false;
        imageFlag = false;
      } else if (type == kRecordImage) {
        imageFlag = true;
      }
      if (productFlag && imageFlag) {
        m_pszProductList.reset(DupString(accumulated.c_str()));
        stop = true;
      }
    }
    if (!stop && result == 1) type = std::fgetc(file.get());
  }
  if (result == 1 && type == EOF && std::ferror(file.get())) {
    m_dialogs.ShowMessage(ReadErrorText(agentPath));
    result = 0;
  }
  return result;
}

}  // namespace portflash
