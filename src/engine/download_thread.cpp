#include "engine/download_thread.h"

#include <string>
#include <system_error>

#include "app/update_app.h"
#include "engine/dialogs.h"
#include "engine/result_messages.h"
#include "res/string_table.h"

namespace portflash {

CDownloadThread::CDownloadThread(CUpdateApp& app) : m_app(app) {}

CDownloadThread::~CDownloadThread() {
  if (m_hPort != nullptr) CloseCommPort(m_hPort);
}

std::shared_ptr<CDownloadThread> CDownloadThread::Begin(CUpdateApp& app) {
  auto thread = std::make_shared<CDownloadThread>(app);
  try {
    std::thread([self = thread]() mutable {
      SetCommAbortFlag(&self->m_bAbort);
      self->RunDownload();
      SetCommAbortFlag(nullptr);
      // Release the port before anyone waiting for the end is told about it,
      // so that "Again?" right after a cancel finds the port free.
      CloseCommPort(self->m_hPort);
      self->m_hPort = nullptr;
      {
        std::lock_guard lock(self->m_endMutex);
        self->m_bEnded = true;
      }
      self->m_endSignal.notify_all();
      self.reset();
    }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  return thread;
}

bool CDownloadThread::WaitForEnd(std::chrono::milliseconds wait) {
  std::unique_lock lock(m_endMutex);
  return m_endSignal.wait_for(lock, wait, [this] { return m_bEnded; });
}

bool CDownloadThread::HasEnded() const {
  std::lock_guard lock(m_endMutex);
  return m_bEnded;
}

std::optional<ResultCode> CDownloadThread::GetOutcome() const {
  std::lock_guard lock(m_endMutex);
  return m_outcome;
}

std::string CDownloadThread::GetReason() const {
  std::lock_guard lock(m_endMutex);
  return m_reason;
}

void CDownloadThread::SetReason(std::string reason) {
  std::lock_guard lock(m_endMutex);
  m_reason = std::move(reason);
}

std::string CDownloadThread::OutcomeText(ResultCode code) const {
  const std::string reason = GetReason();
  if (reason.empty()) return ResultText(m_app, code);
  // An image cut short is no missing file name: its reason says it all.
  if (code == RESULT_NO_FILE) return reason;
  return ResultText(m_app, code) + "\n" + reason;
}

TransferRecord CDownloadThread::GetTransferRecord() const {
  std::lock_guard lock(m_recordMutex);
  return m_record;
}

void CDownloadThread::RunDownload() {
  const char* speed = m_app.GetSpeed();
  const SyncPlan& chosen =
      StringsEqual(speed != nullptr ? speed : "", "19200") ? g_syncPlan19200 : g_syncPlan115200;
  const SyncPlan& plan =
      m_app.GetSyncPlanOverride() != nullptr ? *m_app.GetSyncPlanOverride() : chosen;
  const char* portName = m_app.GetPortName() != nullptr ? m_app.GetPortName() : "";

  OpenFailure why;
  m_hPort = OpenCommPort(portName, &why);
  if (m_hPort == nullptr) {
    m_app.GetDialogs().ShowMessage(OpenFailureMessage(portName, why));
    // The page keeps Finish disabled until the user cancels: the pointer stays set.
    m_bAbort = 1;
    return;
  }

  m_app.GetDialogs().ShowMessage(LoadStringResource(IDS_POWER_OFF));
  ResultCode outcome = Synchronise(m_hPort, plan);
  if (outcome == RESULT_SUCCESS) outcome = SendImage(m_app.GetLoaderPath(), 0);
  if (outcome == RESULT_SUCCESS) outcome = ProbeForReply();
  if (outcome == RESULT_SUCCESS) outcome = SendImage(m_app.GetAgentPath(), 22);
  // A cancelled download says nothing; StopDownload clears the pointer. What it
  // left queued is not to go out after the settings are put back.
  if (IsAborted()) {
    DiscardCommOutput(m_hPort);
    return;
  }
  if (CommLineLost(m_hPort)) {
    // Whatever phase saw it, the line is gone: the port is released at once.
    outcome = RESULT_WRITE_FAILED;
    SetReason("The serial device was disconnected");
    CloseCommPort(m_hPort);
    m_hPort = nullptr;
  } else if (outcome == RESULT_WRITE_FAILED) {
    DiscardCommOutput(m_hPort);
  }
  {
    std::lock_guard lock(m_endMutex);
    m_outcome = outcome;
  }
  ShowResult(outcome);
  // Free the port before the download stops being set, so that "Again?"
  // offered at once finds it free.
  CloseCommPort(m_hPort);
  m_hPort = nullptr;
  m_app.ClearDownloadThread(this);
}

void CDownloadThread::ShowResult(ResultCode code) {
  m_app.GetDialogs().ShowMessage(OutcomeText(code));
}

}  // namespace portflash
