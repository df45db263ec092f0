#pragma once
// Real files in a private temporary directory for the image-set tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "image/image_files.h"

namespace portflash::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pfimgXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory with a trailing "/", as the program directory is kept.
  std::string Dir() const { return path_.string() + "/"; }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

  std::string Write(const std::string& name, const std::string& bytes) const {
    std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

// An anonymous stream holding bytes, positioned at its start.
inline FileHandle Stream(const std::string& bytes) {
  FileHandle file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

// One agent-image record: type, L, payload, check byte.
inline std::string Record(char type, const std::string& payload) {
  auto length = static_cast<std::uint8_t>(payload.size() + 1);  // 255 bytes give L = 0
  std::uint8_t sum = length;
  for (char c : payload) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
  std::string record{type, static_cast<char>(length)};
  record += payload;
  record.push_back(static_cast<char>(static_cast<std::uint8_t>(~sum)));
  return record;
}

inline std::string Product(const std::string& name) {
  return Record('P', name + std::string(1, '\0'));
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// A loader with the marked header listing names, then a short body.
inline std::string MarkedLoader(std::initializer_list<std::string> names) {
  std::string bytes = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
  for (const std::string& name : names) bytes += "P" + Bytes({0x01}) + name + std::string(1, '\0');
  bytes += Bytes({0xFF});
  return bytes + "loader body";
}

}  // namespace portflash::testing
