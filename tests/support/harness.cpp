#include "support/harness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace portflash::testing {

namespace fs = std::filesystem;

// Made the same way on every system; no dot in the name (the message-file rule
// looks for the last dot of a whole path).
TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate =
        fs::temp_directory_path() / ("portflash-test-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) path_ = candidate.string();
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::error_code ignored;
  fs::create_directories(fs::path(path).parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= until) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

const SampleSet& SampleSet::Get() {
  static const SampleSet set;
  return set;
}

SampleSet::SampleSet() {
  const std::string command = "'" PORTFLASH_SOURCE_DIR "/scripts/make-sample-set' '" + dir_.Path() +
                              "' --agent-body 40K --loader-body 4K >/dev/null";
  ok_ = !dir_.Path().empty() && std::system(command.c_str()) == 0 && fs::exists(Agent());
}

std::vector<std::uint8_t> ImageBytes(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

}  // namespace portflash::testing
