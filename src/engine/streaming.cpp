#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "app/update_app.h"
#include "engine/clock.h"
#include "engine/download_thread.h"

namespace portflash {
namespace {

constexpr std::uint8_t kEndByte = 0xFF;
constexpr std::int64_t kDelayWarningMs = 2500;

// Only regular files are images: a directory or a device opens but has no size to send.
bool RegularFileSize(std::FILE* file, std::uint64_t* size) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

// Whole seconds since start, at least 1 (also if the wall clock was set back).
std::int64_t SecondsSince(std::int64_t start, std::int64_t now) {
  return std::max<std::int64_t>(now - start, 1);
}

}  // namespace

ResultCode CDownloadThread::SendImage(const char* path, std::uint32_t code) {
  ResultCode result = RESULT_SUCCESS;
  int previousPercent = 0;
  const std::uint32_t skip = m_app.GetLoaderSkip();
  const auto expected = static_cast<std::uint8_t>(code & 0xFF);
  const bool isLoader = expected == 0;
  const int channel = isLoader ? PROGRESS_BOOT : PROGRESS_AGENT;
  Clock& clock = GetClock();

  m_app.ShowDelayWarning(0.0);
  std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (file == nullptr) return RESULT_NO_FILE;
  std::uint64_t total = 0;
  if (!RegularFileSize(file, &total)) {
    std::fclose(file);
    return RESULT_NO_FILE;
  }
  if (isLoader && skip != 0) {
    // A loader shorter than its own header claims is no loader to send.
    if (skip > total || std::fseek(file, static_cast<long>(skip), SEEK_SET) != 0) {
      std::fclose(file);
      return RESULT_NO_FILE;
    }
    total -= skip;
  }

  const std::int64_t start = clock.Seconds();
  ImageTransfer& record = isLoader ? m_record.loader : m_record.agent;
  {
    std::lock_guard lock(m_recordMutex);
    record = ImageTransfer{true, 0, 0};
  }
  std::optional<std::int64_t> startMs;  // the first chunk's clock reading
  std::int64_t lastSecond = 0;
  std::uint64_t remaining = total;
  std::string readFailure;  // why the file could not be read to its end
  while (remaining != 0) {
    if (IsAborted()) break;
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize));
    const std::int64_t readStart = clock.Milliseconds();
    if (!startMs) startMs = readStart;
    errno = 0;
    const std::size_t n = std::fread(m_abTransferBuffer.data(), 1, chunk, file);
    const int readError = errno;
    const std::int64_t readEnd = clock.Milliseconds();
    if (n == 0) {
      // The file failed or shrank under us: retrying could go on for ever.
      readFailure = std::ferror(file) == 0 ? "the file is shorter than it was"
                                           : std::strerror(readError != 0 ? readError : EIO);
      break;
    }
    remaining -= n;
    const std::int64_t now = clock.Seconds();
    if (now != lastSecond) {
      lastSecond = now;
      const auto elapsed = static_cast<std::uint64_t>(SecondsSince(start, now));
      const std::uint64_t sent = total - remaining;
      const auto percent = static_cast<int>(sent * 100 / total);
      const std::uint64_t secondsLeft = elapsed * remaining / sent;
      m_app.StepProgress(channel, percent - previousPercent);
      m_app.ShowEstimate(channel, percent,
                         static_cast<unsigned>(std::min<std::uint64_t>(secondsLeft, UINT_MAX)));
      if (!isLoader && readEnd - readStart > kDelayWarningMs) {
        m_app.ShowDelayWarning(static_cast<double>(readEnd - readStart) * 0.001);
      }
      previousPercent = percent;
    }
    result = WriteCommBlock(m_abTransferBuffer.data(), n);
    if (result != RESULT_WRITE_FAILED) {
      std::lock_guard lock(m_recordMutex);
      record.bytesSent += n;
    }
    // Anything but silence is the unit answering early, or the line failing.
    if (result != RESULT_NO_DATA) break;
  }
  std::fclose(file);
  {
    const std::int64_t endMs = clock.Milliseconds();
    std::lock_guard lock(m_recordMutex);
    record.milliseconds = std::max<std::int64_t>(endMs - startMs.value_or(endMs), 0);
  }

  if (IsAborted()) return RESULT_SUCCESS;
  if (!readFailure.empty()) {
    // An end byte would tell the unit that the image is whole.
    DiscardCommOutput(m_hPort);
    SetReason("The image file could not be read to the end: " + std::string(path) + ": " +
              readFailure);
    return RESULT_NO_FILE;
  }
  // The rest of the image still queued is not to reach a unit that has answered.
  if (remaining != 0) DiscardCommOutput(m_hPort);
  WriteCommByte(kEndByte);
  const auto took = static_cast<int>(SecondsSince(start, clock.Seconds()));
  if (remaining != 0) return result;
  if (IsAborted()) return result;
  m_app.ShowComplete(channel);
  if (result == RESULT_NO_DATA || result == RESULT_SUCCESS) {
    result = WaitForResult(code, kResultTimeoutMs);
    // A cancelled wait, or a dead line, has no time to report.
    if (IsAborted() || CommLineLost(m_hPort)) return result;
    m_app.ShowTook(channel, took);
  }
  return result == expected ? RESULT_SUCCESS : result;
}

ResultCode CDownloadThread::WaitForResult(std::uint32_t code, std::uint32_t timeoutMs) {
  const unsigned reads = timeoutMs / GetReadDelay();
  for (unsigned i = 0; i < reads; ++i) {
    // A cancel must not keep the port for the minutes that the unit may take.
    if (IsAborted()) return RESULT_RESULT_TIMEOUT;
    const ResultCode reply = ReadCommByte();
    if (reply != RESULT_NO_DATA) return reply == (code & 0xFF) ? RESULT_SUCCESS : reply;
  }
  return RESULT_RESULT_TIMEOUT;
}

ResultCode CDownloadThread::ProbeForReply() {
  for (int i = 0; i < kProbeReads; ++i) {
    if (IsAborted()) return RESULT_SUCCESS;
    const ResultCode reply = ReadCommByte();
    if (reply != RESULT_NO_DATA) return reply;
  }
  return RESULT_SUCCESS;
}

}  // namespace portflash
