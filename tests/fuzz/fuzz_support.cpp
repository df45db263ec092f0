#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace portflash::fuzz {

FuzzWorld::FuzzWorld() {
  char pattern[] = "/tmp/portflash-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
  dir = std::string(pattern) + "/";
}

FuzzWorld& World() {
  static FuzzWorld world;
  return world;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace portflash::fuzz
