#include "app/update_app.h"

#include <atomic>

#include "engine/download_thread.h"
#include "engine/result_messages.h"

namespace portflash {
namespace {
std::atomic<CUpdateApp*> g_currentApp{nullptr};
}  // namespace

CUpdateApp::CUpdateApp(Profile& profile, Dialogs& dialogs)
    : m_profile(profile), m_dialogs(dialogs) {
  g_currentApp = this;
}

CUpdateApp::~CUpdateApp() {
  StopDownload();
  FreeResultMessages(*this);
  CUpdateApp* self = this;
  g_currentApp.compare_exchange_strong(self, nullptr);
}

CUpdateApp* CUpdateApp::Current() {
  return g_currentApp.load();
}

void CUpdateApp::SetProgressView(ProgressView* view) {
  m_progress = view;
}

void CUpdateApp::Shutdown() {
  SaveLastAgentPath();
  StopDownload();
}

void CUpdateApp::SetPortName(const char* text) {
  m_pszPortName.reset(DupString(text));
}
void CUpdateApp::SetSpeed(const char* text) {
  m_pszSpeed.reset(DupString(text));
}
void CUpdateApp::SetAppDir(const char* dir) {
  m_pszAppDir.reset(DupString(dir));
}
void CUpdateApp::SetLoaderPath(const char* path) {
  m_pszLoaderPath.reset(DupString(path));
}
void CUpdateApp::SetLoaderOverride(const char* path) {
  m_pszLoaderOverride.reset(path ? DupString(path) : nullptr);
}

void CUpdateApp::StepProgress(int channel, int delta) {
  if (ProgressView* view = m_progress.load()) view->StepProgress(channel, delta);
}
void CUpdateApp::ShowEstimate(int channel, int percent, unsigned secondsLeft) {
  if (ProgressView* view = m_progress.load()) view->ShowEstimate(channel, percent, secondsLeft);
}
void CUpdateApp::ShowComplete(int channel) {
  if (ProgressView* view = m_progress.load()) view->ShowComplete(channel);
}
void CUpdateApp::ShowTook(int channel, int seconds) {
  if (ProgressView* view = m_progress.load()) view->ShowTook(channel, seconds);
}
void CUpdateApp::ShowDelayWarning(double seconds) {
  if (ProgressView* view = m_progress.load()) view->ShowDelayWarning(seconds);
}

void CUpdateApp::ShowLineNote(const std::string& text) {
  if (ProgressView* view = m_progress.load()) view->ShowLineNote(text);
}

bool CUpdateApp::StartDownload() {
  std::lock_guard lock(m_threadMutex);
  if (m_pDownloadThread) return false;
  m_pDownloadThread = CDownloadThread::Begin(*this);
  return m_pDownloadThread != nullptr;
}

bool CUpdateApp::IsDownloadSet() const {
  std::lock_guard lock(m_threadMutex);
  return m_pDownloadThread != nullptr;
}

std::shared_ptr<CDownloadThread> CUpdateApp::GetDownloadThread() const {
  std::lock_guard lock(m_threadMutex);
  return m_pDownloadThread;
}

int CUpdateApp::StopDownload() {
  std::shared_ptr<CDownloadThread> thread = GetDownloadThread();
  if (!thread) return 1;
  thread->Abort();
  // Wait in slices so that a GUI can go on answering the thread's requests.
  auto deadline = std::chrono::steady_clock::now() + m_stopWait;
  while (!thread->HasEnded()) {
    auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::milliseconds(0)) break;
    auto slice = std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20));
    if (thread->WaitForEnd(std::chrono::duration_cast<std::chrono::milliseconds>(slice))) break;
    if (m_eventPump) m_eventPump();
  }
  std::lock_guard lock(m_threadMutex);
  std::erase_if(m_abandoned, [](const auto& weak) { return weak.expired(); });
  if (!thread->HasEnded()) m_abandoned.push_back(thread);
  if (m_pDownloadThread == thread) m_pDownloadThread.reset();
  return 0;
}

bool CUpdateApp::IsAbandonedDownloadAlive() const {
  std::lock_guard lock(m_threadMutex);
  for (const auto& weak : m_abandoned) {
    auto thread = weak.lock();
    if (thread && !thread->HasEnded()) return true;
  }
  return false;
}

void CUpdateApp::ClearDownloadThread(const CDownloadThread* thread) {
  std::lock_guard lock(m_threadMutex);
  if (m_pDownloadThread.get() == thread) m_pDownloadThread.reset();
}

}  // namespace portflash
