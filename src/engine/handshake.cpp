#include <cstdio>

#include "app/update_app.h"
#include "engine/download_thread.h"

namespace portflash {
namespace {

constexpr std::uint8_t kSyncReply = 0x5A;

constexpr SyncStep kSteps19200[] = {
    {0x02, kSyncReply, 15000},
    {0x05, kSyncReply, 5000},
    {0x0F, kSyncReply, 5000},
    {0x00, kSyncReply, 5000},
};

constexpr SyncStep kSteps115200[] = {
    {0x01, kSyncReply, 15000},
    {0x05, kSyncReply, 5000},
    {0x0F, kSyncReply, 5000},
    {0x00, kSyncReply, 5000},
};

// A step's time-out as a number of reads. A step shorter than one read gets
// no reads at all and fails at once, before anything is sent.
unsigned ReadsFor(const SyncStep& step) {
  return step.timeoutMs / GetReadDelay();
}

}  // namespace

const SyncPlan g_syncPlan19200{19200, 4, kSteps19200};
const SyncPlan g_syncPlan115200{115200, 4, kSteps115200};

ResultCode CDownloadThread::Synchronise(CommHandle handle, const SyncPlan& plan) {
  // Cancelled at the power-off request: nothing is sent and the port stays as it was.
  if (IsAborted()) return RESULT_SYNC_FAILED;
  const auto count = static_cast<std::uint16_t>(plan.stepCount);
  if (ConfigureCommPort(handle, 9600, 1) != RESULT_SUCCESS) return RESULT_SYNC_FAILED;
  // What the unit printed before it was powered off is no answer, and read as one it
  // would use up the first step's tries. The only purge: nothing later is thrown away.
  DiscardCommInput(handle);
  if (!RunSyncPlan(plan.steps, count)) return RESULT_SYNC_FAILED;
  // The unit switches as soon as it has answered: no pause, no flush.
  if (ConfigureCommPort(handle, plan.rate, 1) != RESULT_SUCCESS) return RESULT_SYNC_FAILED;
  if (!RunSyncPlan(plan.steps, count)) return RESULT_SYNC_FAILED;
  return RESULT_SUCCESS;
}

bool CDownloadThread::RunSyncPlan(const SyncStep* steps, std::uint16_t count) {
  if (count == 0) return false;
  const SyncStep& first = steps[0];
  unsigned attempts = ReadsFor(first);
  if (attempts == 0) return false;
  // The unit is being powered on: keep offering the first byte until it answers.
  WriteCommByte(first.sendByte);
  for (;;) {
    if (IsAborted()) return false;
    m_app.StepProgress(PROGRESS_SYNC, 0);
    if (ReadCommByte() == first.expectedReply) break;
    if (CommLineLost(g_hCommPort) || --attempts == 0) return false;
    WriteCommByte(first.sendByte);
  }
  for (std::uint16_t i = 1; i < count; ++i) {
    if (!RunSyncStep(steps[i])) return false;
  }
  return true;
}

bool CDownloadThread::RunSyncStep(const SyncStep& step) {
  unsigned reads = ReadsFor(step);
  if (reads == 0) return false;
  WriteCommByte(step.sendByte);
  while (--reads != 0) {
    // A cancel is answered within one read here too, not after the step's 19.
    if (IsAborted()) return false;
    if (ReadCommByte() == step.expectedReply) return true;
    if (CommLineLost(g_hCommPort)) return false;
    std::fputc('.', stdout);
    std::fflush(stdout);
  }
  return false;
}

}  // namespace portflash
