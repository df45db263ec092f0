#include "gui/gui_context.h"

#include <algorithm>

#include "engine/download_thread.h"

namespace portflash {

void DownloadRecord::Add(std::shared_ptr<CDownloadThread> thread) {
  if (!thread) return;
  std::lock_guard lock(m_mutex);
  std::erase_if(m_threads, [](const auto& known) { return known->HasEnded(); });
  m_threads.push_back(std::move(thread));
}

bool DownloadRecord::AllEnded() const {
  std::lock_guard lock(m_mutex);
  return std::all_of(m_threads.begin(), m_threads.end(),
                     [](const auto& known) { return known->HasEnded(); });
}

}  // namespace portflash
