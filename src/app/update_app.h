#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/progress_view.h"
#include "engine/result_code.h"
#include "engine/strings.h"

namespace portflash {

class CDownloadThread;
class Dialogs;
class Profile;
struct ResultMessage;
struct SyncPlan;

// The application object: transfer settings, the image set, the progress
// operations and the running download. One is current at a time (Current()).
class CUpdateApp {
 public:
  CUpdateApp(Profile& profile, Dialogs& dialogs);
  ~CUpdateApp();  // stops a download still set, frees everything
  CUpdateApp(const CUpdateApp&) = delete;
  CUpdateApp& operator=(const CUpdateApp&) = delete;

  static CUpdateApp* Current();

  Profile& GetProfile() { return m_profile; }
  Dialogs& GetDialogs() { return m_dialogs; }
  void SetProgressView(ProgressView* view);  // null: progress goes nowhere
  // Called while StopDownload waits, so that a GUI keeps handling events.
  void SetEventPump(std::function<void()> pump) { m_eventPump = std::move(pump); }

  // Start-up and shutdown of the wizard's program.
  void InitAppDir();
  void LoadLastAgentPath();
  void SaveLastAgentPath();
  void Shutdown();  // SaveLastAgentPath, then StopDownload

  // Image set resolution.
  int SetAgentPath(const char* path);
  int ResolveAgentPrefix();
  int ResolveLoaderPath();
  int ResolveErrorFilePath();
  int CheckProducts();
  char* ReadLoaderProducts();  // heap list or null; sets the loader skip
  std::string GetAbbreviatedAgentPath(int maxLength) const;

  // Settings.
  void SetPortName(const char* text);
  void SetSpeed(const char* text);
  void SetAllSignals(int allSignals) { m_bAllSignals = allSignals; }
  void SetLoaderSkip(std::uint32_t skip) { m_nLoaderSkip = skip; }
  void SetResultMessages(ResultMessage* head) { m_pResultMessages = head; }
  void SetAppDir(const char* dir);       // normally InitAppDir's job
  void SetLoaderPath(const char* path);  // an explicit loader, bypassing the profile
  // A loader file that ResolveLoaderPath takes instead of the profile's entry (null: none).
  void SetLoaderOverride(const char* path);
  const char* GetLoaderOverride() const { return m_pszLoaderOverride.get(); }
  const char* GetPortName() const { return m_pszPortName.get(); }
  const char* GetSpeed() const { return m_pszSpeed.get(); }
  int GetAllSignals() const { return m_bAllSignals; }
  std::uint32_t GetLoaderSkip() const { return m_nLoaderSkip; }
  ResultMessage* GetResultMessages() const { return m_pResultMessages; }
  const char* GetAgentPath() const { return m_pszAgentPath.get(); }
  const char* GetAgentPrefix() const { return m_pszAgentPrefix.get(); }
  const char* GetAppDir() const { return m_pszAppDir.get(); }
  const char* GetLoaderPath() const { return m_pszLoaderPath.get(); }
  const char* GetErrorFilePath() const { return m_pszErrorFilePath.get(); }
  const char* GetProductList() const { return m_pszProductList.get(); }

  // Progress operations, called on the download thread.
  void StepProgress(int channel, int delta);
  void ShowEstimate(int channel, int percent, unsigned secondsLeft);
  void ShowComplete(int channel);
  void ShowTook(int channel, int seconds);
  void ShowDelayWarning(double seconds);
  void ShowLineNote(const std::string& text);

  // The running download (m_pDownloadThread).
  bool StartDownload();  // false when one is set or the thread could not start
  bool IsDownloadSet() const;
  std::shared_ptr<CDownloadThread> GetDownloadThread() const;
  int StopDownload();  // abort, wait up to StopWait(), clear: 1 when none was set
  // True while a download that StopDownload gave up waiting for has not ended.
  bool IsAbandonedDownloadAlive() const;
  // Clears m_pDownloadThread if it still names this thread.
  void ClearDownloadThread(const CDownloadThread* thread);
  void SetStopWait(std::chrono::milliseconds wait) { m_stopWait = wait; }
  // Tests over real lines only: a handshake plan with shorter time-outs that every
  // download uses instead of the built-in plan its speed selects (null: built-in).
  void SetSyncPlanOverride(const SyncPlan* plan) { m_pSyncPlanOverride = plan; }
  const SyncPlan* GetSyncPlanOverride() const { return m_pSyncPlanOverride; }

 private:
  Profile& m_profile;
  Dialogs& m_dialogs;
  std::atomic<ProgressView*> m_progress{nullptr};
  std::function<void()> m_eventPump;
  std::chrono::milliseconds m_stopWait{10000};
  const SyncPlan* m_pSyncPlanOverride = nullptr;

  mutable std::mutex m_threadMutex;
  std::shared_ptr<CDownloadThread> m_pDownloadThread;
  std::vector<std::weak_ptr<CDownloadThread>> m_abandoned;  // guarded by m_threadMutex

  HeapString m_pszAgentPath;
  HeapString m_pszAgentPrefix;
  HeapString m_pszPortName;
  HeapString m_pszSpeed;
  HeapString m_pszLoaderPath;
  HeapString m_pszAppDir;
  HeapString m_pszErrorFilePath;
  HeapString m_pszProductList;
  HeapString m_pszLoaderOverride;
  std::uint32_t m_nLoaderSkip = 0;
  std::atomic<int> m_bAllSignals{1};
  ResultMessage* m_pResultMessages = nullptr;

  friend void FreeResultMessages(CUpdateApp& app);
};

}  // namespace portflash
