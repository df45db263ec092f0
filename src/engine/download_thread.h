#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/result_code.h"
#include "engine/serial_link.h"

namespace portflash {

class CUpdateApp;

struct SyncStep {
  std::uint8_t sendByte;
  std::uint8_t expectedReply;
  std::uint32_t timeoutMs;
};

struct SyncPlan {
  std::uint32_t rate;
  std::uint32_t stepCount;  // low 16 bits used
  const SyncStep* steps;
};

extern const SyncPlan g_syncPlan19200;
extern const SyncPlan g_syncPlan115200;

inline constexpr std::size_t kChunkSize = 1000;
inline constexpr std::uint32_t kResultTimeoutMs = 180000;
inline constexpr int kProbeReads = 5;
inline constexpr double kDelayWarningSeconds = 2.5;

// What went over the line of one image, for reports after the download.
struct ImageTransfer {
  bool started = false;           // streaming began (the file was usable)
  std::uint64_t bytesSent = 0;    // image bytes the driver took; the end byte is not counted
  std::int64_t milliseconds = 0;  // from the first chunk until the last was written
};

struct TransferRecord {
  ImageTransfer loader;
  ImageTransfer agent;
};

// One download, run on a thread of its own (or called step by step in tests).
class CDownloadThread : public std::enable_shared_from_this<CDownloadThread> {
 public:
  explicit CDownloadThread(CUpdateApp& app);
  ~CDownloadThread();  // closes m_hPort
  CDownloadThread(const CDownloadThread&) = delete;
  CDownloadThread& operator=(const CDownloadThread&) = delete;

  // Starts RunDownload on a new thread; null when the thread cannot be made.
  // The thread keeps its object alive until RunDownload has returned.
  static std::shared_ptr<CDownloadThread> Begin(CUpdateApp& app);

  void Abort() { m_bAbort = 1; }
  bool IsAborted() const { return m_bAbort.load() != 0; }
  // True once RunDownload has returned on the thread (waits at most `wait`).
  bool WaitForEnd(std::chrono::milliseconds wait);
  bool HasEnded() const;
  // The outcome that RunDownload showed; none after a failed open or a cancel.
  std::optional<ResultCode> GetOutcome() const;
  // A line under the outcome's message saying what really happened (empty: none).
  std::string GetReason() const;
  // The outcome's message as ShowResult shows it, the reason line included.
  std::string OutcomeText(ResultCode code) const;
  // A copy of the transfer figures so far; safe from any thread.
  TransferRecord GetTransferRecord() const;

  void RunDownload();
  ResultCode Synchronise(CommHandle handle, const SyncPlan& plan);
  bool RunSyncPlan(const SyncStep* steps, std::uint16_t count);
  bool RunSyncStep(const SyncStep& step);
  ResultCode SendImage(const char* path, std::uint32_t code);
  ResultCode WaitForResult(std::uint32_t code, std::uint32_t timeoutMs);
  ResultCode ProbeForReply();
  void ShowResult(ResultCode code);

  CommHandle m_hPort = nullptr;
  std::atomic<int> m_bAbort{0};

 private:
  void SetReason(std::string reason);

  CUpdateApp& m_app;
  // One per download: an abandoned thread may still be sending while a new one starts.
  std::array<std::uint8_t, kChunkSize> m_abTransferBuffer{};
  mutable std::mutex m_endMutex;
  std::condition_variable m_endSignal;
  bool m_bEnded = false;
  std::optional<ResultCode> m_outcome;  // guarded by m_endMutex
  std::string m_reason;                 // guarded by m_endMutex
  mutable std::mutex m_recordMutex;
  TransferRecord m_record;  // guarded by m_recordMutex
};

}  // namespace portflash
