#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/system.h"

namespace portflash::system {
namespace {

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// True when the descriptor's open file holds a lock (a "lock:" line in its fdinfo).
bool HoldsLock(const std::string& pid, const char* fd) {
  std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
  std::string line;
  while (std::getline(info, line)) {
    if (line.starts_with("lock:")) return true;
  }
  return false;
}

// A process other than us with the device open: "comm, process pid", or "".
// The one whose descriptor holds the lock wins over others that merely have the
// device open too (a simulator's own end, say).
std::string FindHolderOf(const std::string& devicePath) {
  const std::string self = std::to_string(::getpid());
  char resolved[PATH_MAX];
  std::string target = ::realpath(devicePath.c_str(), resolved) != nullptr ? resolved : devicePath;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return "";
  std::string anyHolder;
  std::string lockHolder;
  while (lockHolder.empty()) {
    dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    std::string pid = entry->d_name;
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])) || pid == self) continue;
    std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (dirent* fdEntry = ::readdir(fds)) {
      if (fdEntry->d_name[0] == '.') continue;
      std::string link = fdDir + "/" + fdEntry->d_name;
      char buffer[PATH_MAX];
      ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
      if (n <= 0 || target != std::string(buffer, static_cast<std::size_t>(n))) continue;
      if (anyHolder.empty()) anyHolder = pid;
      if (HoldsLock(pid, fdEntry->d_name)) {
        lockHolder = pid;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  const std::string& pid = lockHolder.empty() ? anyHolder : lockHolder;
  if (pid.empty()) return "";
  return ReadSmallFile("/proc/" + pid + "/comm") + ", process " + pid;
}

std::string GroupOfDevice(const std::string& devicePath) {
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0 || info.st_gid == 0) return "";
  std::vector<char> buffer(16384);
  group entry{};
  group* result = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr) {
    return "";
  }
  return result->gr_name;
}

}  // namespace

std::string DefaultComDevice(unsigned number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::string FindPortHolder(const std::string& devicePath) {
  return FindHolderOf(devicePath);
}

std::string DeviceGroup(const std::string& devicePath) {
  return GroupOfDevice(devicePath);
}

std::string ExecutablePath() {
  // The kernel's link names the executable with every link already resolved;
  // realpath() just allocates a buffer of the right size.
  char* exe = ::realpath("/proc/self/exe", nullptr);
  if (exe == nullptr) return "";
  std::string path = exe;
  std::free(exe);
  return path;
}

bool NamesADevice(const std::string& name) {
  return !name.empty() && name[0] == '/';
}

const char* PathSeparators() {
  return "/";
}

std::string NativePath(const std::string& path) {
  return path;
}

}  // namespace portflash::system
