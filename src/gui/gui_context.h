#pragma once
#include <memory>
#include <mutex>
#include <vector>

namespace portflash {

class CDownloadThread;
class CUpdateApp;
class GuiProgressView;
class QtDialogs;

// Every download thread that the wizard started, so that the program can tell
// at exit whether one is still running after StopDownload gave up on it.
class DownloadRecord {
 public:
  void Add(std::shared_ptr<CDownloadThread> thread);
  bool AllEnded() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::shared_ptr<CDownloadThread>> m_threads;
};

// What the wizard and its pages work with.
struct GuiContext {
  CUpdateApp& app;
  QtDialogs& dialogs;
  GuiProgressView& progress;
  DownloadRecord downloads;
};

}  // namespace portflash
