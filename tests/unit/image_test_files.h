#pragma once
// Agent-image records and loader headers, as bytes, for the image-set tests.
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_files.h"

namespace portflash::testing {

// An anonymous stream holding bytes, positioned at its start.
inline FileHandle Stream(const std::string& bytes) {
  FileHandle file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  return file;
}

inline std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

// One agent-image record: type, L, payload, check byte (255 payload bytes give L = 0).
inline std::string Record(char type, const std::string& payload) {
  std::string record{type, static_cast<char>(payload.size() + 1)};
  record += payload;
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < record.size(); ++i) sum = static_cast<std::uint8_t>(sum + record[i]);
  return record + static_cast<char>(~sum);
}

inline std::string Product(const std::string& name) {
  return Record('P', name + '\0');
}

// A loader with the marked header listing names, then a short body.
inline std::string MarkedLoader(std::initializer_list<std::string> names) {
  std::string bytes = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
  for (const std::string& name : names) bytes += "P" + Bytes({0x01}) + name + '\0';
  return bytes + Bytes({0xFF}) + "loader body";
}

}  // namespace portflash::testing
