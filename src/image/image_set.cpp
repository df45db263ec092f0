#include <cstdlib>
#include <cstring>
#include <string>

#include "app/profile.h"
#include "app/update_app.h"
#include "engine/dialogs.h"
#include "engine/result_messages.h"
#include "image/image_files.h"
#include "platform/system.h"
#include "res/string_table.h"

namespace portflash {
namespace {

constexpr const char* kLoaderSection = "LDR Filename";
constexpr const char* kLastBinSection = "Last Bin File";
constexpr const char* kLastBinEntry = "Filename";
constexpr std::size_t kPrefixLength = 3;

std::string Text(const char* text) {
  return text != nullptr ? text : "";
}

// The loader path with its extension swapped for ".err". The last dot of the whole
// path counts; a path without any dot just gets ".err" appended.
std::string MessageFilePath(const std::string& loaderPath) {
  std::size_t dot = loaderPath.rfind('.');
  return (dot == std::string::npos ? loaderPath : loaderPath.substr(0, dot)) + ".err";
}

}  // namespace

void CUpdateApp::InitAppDir() {
  const std::string exe = system::ExecutablePath();
  if (exe.empty()) return;  // no directory: loader names count from the working directory
  const std::size_t slash = exe.find_last_of(system::PathSeparators());
  const std::size_t length = slash != std::string::npos ? slash + 1 : 0;
  m_pszAppDir.reset(CopyLeft(exe.c_str(), length));
}

void CUpdateApp::LoadLastAgentPath() {
  std::string path = m_profile.GetString(kLastBinSection, kLastBinEntry);
  if (!path.empty()) m_pszAgentPath.reset(DupString(path.c_str()));
}

void CUpdateApp::SaveLastAgentPath() {
  if (m_pszAgentPath) {
    m_profile.WriteString(kLastBinSection, kLastBinEntry, m_pszAgentPath.get());
  } else {
    m_profile.RemoveEntry(kLastBinSection, kLastBinEntry);
  }
}

int CUpdateApp::SetAgentPath(const char* path) {
  m_pszAgentPath.reset(DupString(system::NativePath(path != nullptr ? path : "").c_str()));
  if (!PathFits(Text(m_pszAgentPath.get()))) {
    ShowPathTooLong(*this, "agent file", Text(m_pszAgentPath.get()));
    return 0;
  }
  if (ResolveAgentPrefix() == 0) return 0;
  if (ResolveLoaderPath() == 0) return 0;
  if (ResolveErrorFilePath() == 0) return 0;
  if (CheckProducts() == 0) return 0;
  return 1;
}

int CUpdateApp::ResolveAgentPrefix() {
  std::string path = Text(m_pszAgentPath.get());
  std::size_t slash = path.find_last_of(system::PathSeparators());
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  m_pszAgentPrefix.reset(DupString(name.substr(0, kPrefixLength).c_str()));
  return 1;
}

int CUpdateApp::ResolveLoaderPath() {
  m_pszLoaderPath.reset();
  // A loader named by the user (the CLI's --loader) replaces the profile's entry.
  std::string candidate = Text(m_pszLoaderOverride.get());
  if (candidate.empty()) {
    std::string value = m_profile.GetString(kLoaderSection, Text(m_pszAgentPrefix.get()));
    if (value.empty()) {
      m_dialogs.ShowMessage(LoadStringResource(IDS_NO_LOADER));
      return 0;
    }
    candidate = Text(m_pszAppDir.get()) + value;
  }
  if (!PathFits(candidate)) {
    ShowPathTooLong(*this, "loader file", candidate);
    return 0;
  }
  // A directory opens here too, but is no loader.
  if (!OpenRegularFile(candidate.c_str(), "r")) {
    m_dialogs.ShowMessage(LoadStringResource(IDS_NO_LOADER));
    return 0;
  }
  m_pszLoaderPath.reset(DupString(candidate.c_str()));
  return 1;
}

int CUpdateApp::ResolveErrorFilePath() {
  if (!m_pszLoaderPath) return 0;
  m_pszErrorFilePath.reset();
  // Always start from an empty list: loading adds to whatever is there.
  FreeResultMessages(*this);
  std::string path = MessageFilePath(m_pszLoaderPath.get());
  if (!PathFits(path)) {
    ShowPathTooLong(*this, "message file", path);
    return 0;
  }
  m_pszErrorFilePath.reset(DupString(path.c_str()));
  LoadResultMessages(*this, m_pszErrorFilePath.get());
  return 1;
}

std::string CUpdateApp::GetAbbreviatedAgentPath(int maxLength) const {
  std::string path = Text(m_pszAgentPath.get());
  const std::size_t n = path.size();
  // Compared unsigned: a negative limit never shortens.
  if (maxLength < 0 || n < static_cast<std::size_t>(maxLength)) return path;
  const auto limit = static_cast<std::size_t>(maxLength);

  std::size_t first = path.find_first_of(system::PathSeparators());
  std::string head = first == std::string::npos ? "" : path.substr(0, first + 1);
  // The tail starts at the first separator far enough to the right to keep the
  // result near the limit, else at the last one.
  std::size_t from = (first == std::string::npos ? 0 : first + 1) + n - limit;
  std::size_t cut =
      from < n ? path.find_first_of(system::PathSeparators(), from) : std::string::npos;
  if (cut == std::string::npos) cut = path.find_last_of(system::PathSeparators());
  std::string tail = cut == std::string::npos ? path : path.substr(cut);
  return head + "..." + tail;
}

}  // namespace portflash
