#pragma once
// What every suite shares: the program's texts that tests look for, a temporary
// folder, file reading and writing, and the sample image set.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace portflash::testing {

inline const std::string kPowerOff = "Please Power OFF your unit and Click OK to continue.";
inline const std::string kSuccess = "Update completed successfully";
inline const std::string kOpenFailed =
    "Unable to open the COM port\nPlease check that there are no other applications using the "
    "COM port";
inline const std::string kCancelled = "Download cancelled";

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// Makes the folders on its way.
bool WriteFile(const std::string& path, const std::string& content);
inline bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return WriteFile(path, std::string(bytes.begin(), bytes.end()));
}
// An image body of n bytes that never holds the end byte 0xFF, so that a
// unit can tell the end byte from the data.
std::vector<std::uint8_t> ImageBytes(std::size_t n, std::uint8_t seed = 0);

// Polls until pred holds or the limit has passed; pred's last answer.
bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit);

// The sample image set, made once by scripts/make-sample-set (a 40 KiB agent, which
// takes a few seconds on a paced line, and a 4 KiB loader body).
class SampleSet {
 public:
  static const SampleSet& Get();
  bool Ok() const { return ok_; }
  const std::string& Dir() const { return dir_.Path(); }
  std::string Loader() const { return dir_ / "loaders/kvr.ldr"; }
  std::string Agent() const { return dir_ / "images/kvr-agent.bin"; }
  std::string Profile() const { return dir_ / "profile/Tarvex Corporation/Portflash.conf"; }

 private:
  SampleSet();
  TempDir dir_;
  bool ok_ = false;
};

}  // namespace portflash::testing
