#include "cli/terminal.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "engine/result_code.h"
#include "res/string_table.h"

namespace portflash::cli {
namespace {

constexpr int IDS_POWER_ON = 110;
constexpr const char* kDelayWarning =
    "Detecting severe network delays. To improve serial download performance, copy agent file "
    "to a local drive";
constexpr const char* kSynchronised = "Synchronised with the unit";

void WriteAll(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

std::string Format(const char* pattern, int a, int b = 0) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, a, b);
  return buffer;
}

}  // namespace

TerminalOutput::TerminalOutput(bool redraw, int width) : m_redraw(redraw), m_width(width) {}

void TerminalOutput::Message(const std::string& text) {
  std::lock_guard lock(m_mutex);
  EndLineLocked();
  WriteAll(m_messages, text.ends_with('\n') ? text : text + "\n");
}

void TerminalOutput::Note(const std::string& text) {
  std::lock_guard lock(m_mutex);
  NoteLocked(text);
}

void TerminalOutput::NoteLocked(const std::string& text) {
  EndLineLocked();
  WriteAll(stderr, text + "\n");
}

void TerminalOutput::DrawLocked(const std::string& line) {
  std::string shown = line;
  if (m_width > 1 && shown.size() >= static_cast<std::size_t>(m_width)) {
    shown.resize(static_cast<std::size_t>(m_width - 1));  // a wrapped line cannot be redrawn
  }
  WriteAll(stderr, "\r\033[K" + shown);
  m_lineOpen = true;
}

void TerminalOutput::EndLineLocked() {
  if (!m_lineOpen) return;
  WriteAll(stderr, "\n");
  m_lineOpen = false;
}

TerminalDialogs::TerminalDialogs(TerminalOutput& out, bool noWait, int interruptFd,
                                 std::function<void()> onInterrupt)
    : m_out(out),
      m_noWait(noWait),
      m_interruptFd(interruptFd),
      m_onInterrupt(std::move(onInterrupt)) {}

void TerminalDialogs::ShowMessage(const std::string& text) {
  {
    std::lock_guard lock(m_lastMutex);
    m_last = text;
  }
  m_out.Message(text);
  if (text != LoadStringResource(IDS_POWER_OFF) || m_noWait) return;
  m_out.Note("Press Enter when the unit is off, then power it on (Ctrl-C cancels).");
  std::string line;
  ReadLine(&line);
}

std::string TerminalDialogs::LastMessage() const {
  std::lock_guard lock(m_lastMutex);
  return m_last;
}

bool TerminalDialogs::AskYesNo(const std::string& text) {
  m_out.Message(text + " [y/N]");
  if (m_noWait) return true;
  std::string line;
  if (!ReadLine(&line)) return false;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

bool TerminalDialogs::ReadLine(std::string* line) {
  line->clear();
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_interruptFd, POLLIN, 0}};
    int count = m_interruptFd >= 0 ? 2 : 1;
    int ready = poll(fds, static_cast<nfds_t>(count), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) {
      if (m_onInterrupt) m_onInterrupt();
      return false;
    }
    if (fds[0].revents & POLLNVAL) return false;  // no stdin at all: nobody to wait for
    if (fds[0].revents == 0) continue;
    char buffer[256];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return !line->empty();  // end of input
    std::string chunk(buffer, static_cast<std::size_t>(got));
    if (std::size_t end = chunk.find('\n'); end != std::string::npos) {
      *line += chunk.substr(0, end);
      return true;
    }
    *line += chunk;
  }
}

TerminalProgress::TerminalProgress(TerminalOutput& out) : m_out(out) {}

TerminalProgress::Line TerminalProgress::LineFor(int channel) {
  if (channel == PROGRESS_SYNC) return Line::Sync;
  return channel == PROGRESS_BOOT ? Line::Boot : Line::Agent;
}

TerminalProgress::Row& TerminalProgress::RowFor(int channel) {
  return channel == PROGRESS_BOOT ? m_boot : m_agent;
}

bool TerminalProgress::DueLocked() {
  auto now = std::chrono::steady_clock::now();
  if (m_plainShown && now - m_lastPlain < std::chrono::seconds(1)) return false;
  m_plainShown = true;
  m_lastPlain = now;
  return true;
}

void TerminalProgress::EnterLocked(Line line) {
  if (line == m_current) return;
  if (m_current == Line::Sync && !m_synced) {
    // The images are only sent once the handshake has succeeded.
    m_synced = true;
    if (m_out.Redraws()) {
      m_out.DrawLocked(kSynchronised);
      m_out.EndLineLocked();
    } else {
      m_out.NoteLocked(kSynchronised);
    }
  }
  m_out.EndLineLocked();
  if (line == Line::Sync && !m_out.Redraws()) m_out.NoteLocked(LoadStringResource(IDS_POWER_ON));
  m_current = line;
}

std::string TerminalProgress::RowText(Line line) const {
  const Row& row = line == Line::Boot ? m_boot : m_agent;
  std::string label = line == Line::Boot ? "Loader" : "Agent ";
  if (!m_out.Redraws()) {
    label.erase(label.find_last_not_of(' ') + 1);
    std::string text = label + ":";
    if (!row.percentText.empty()) text += " " + row.percentText;
    if (!row.estimateText.empty())
      text += (row.percentText.empty() ? " " : ", ") + row.estimateText;
    return text;
  }
  int width = std::clamp(m_out.Width() - 56, 10, 40);
  int filled = row.position * width / 100;
  std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(width - filled), '-') + "]";
  std::string percent = row.percentText;
  if (percent.size() < 9) percent.insert(0, 9 - percent.size(), ' ');
  return label + " " + bar + " " + percent + "  " + row.estimateText;
}

void TerminalProgress::DrawRowLocked(Line line, bool important) {
  if (m_out.Redraws()) {
    m_out.DrawLocked(RowText(line));
  } else if (important || DueLocked()) {
    m_out.NoteLocked(RowText(line));
  }
}

void TerminalProgress::StepProgress(int channel, int delta) {
  auto lock = m_out.Lock();
  Line line = LineFor(channel);
  EnterLocked(line);
  if (line == Line::Sync) {
    if (m_out.Redraws()) {
      static constexpr char kSpinner[] = {'|', '/', '-', '\\'};
      m_out.DrawLocked(std::string(LoadStringResource(IDS_POWER_ON)) + " " +
                       kSpinner[m_spinner++ % 4]);
    }
    return;
  }
  // An estimate always follows: the row is drawn then, bar and texts together.
  Row& row = RowFor(channel);
  row.position = std::clamp(row.position + delta, 0, 100);
}

void TerminalProgress::ShowEstimate(int channel, int percent, unsigned secondsLeft) {
  auto lock = m_out.Lock();
  Line line = LineFor(channel) == Line::Boot ? Line::Boot : Line::Agent;
  EnterLocked(line);
  Row& row = RowFor(channel);
  row.percentText = Format("%d%% Done", percent);
  row.estimateText = Format("Time left: %02d:%02d", static_cast<int>(secondsLeft / 60),
                            static_cast<int>(secondsLeft % 60));
  DrawRowLocked(line, false);
}

void TerminalProgress::ShowComplete(int channel) {
  auto lock = m_out.Lock();
  Line line = LineFor(channel) == Line::Boot ? Line::Boot : Line::Agent;
  EnterLocked(line);
  Row& row = RowFor(channel);
  row.position = 100;
  row.percentText = LoadStringResource(IDS_COMPLETE);
  row.estimateText = LoadStringResource(IDS_WAITING);
  DrawRowLocked(line, true);
}

void TerminalProgress::ShowTook(int channel, int seconds) {
  auto lock = m_out.Lock();
  Line line = LineFor(channel) == Line::Boot ? Line::Boot : Line::Agent;
  EnterLocked(line);
  RowFor(channel).estimateText = Format("Took: %d secs", seconds);
  DrawRowLocked(line, true);
  m_out.EndLineLocked();
  m_current = Line::None;
}

void TerminalProgress::ShowDelayWarning(double seconds) {
  if (seconds == 0.0) return;  // the start of an image clears it; there is nothing shown to clear
  auto lock = m_out.Lock();
  m_out.NoteLocked(kDelayWarning);
  if (m_current == Line::Boot || m_current == Line::Agent) DrawRowLocked(m_current, false);
}

void TerminalProgress::ShowLineNote(const std::string& text) {
  if (text.empty()) return;  // a printed note stays where it is
  auto lock = m_out.Lock();
  m_out.NoteLocked(text);
  if (m_current == Line::Boot || m_current == Line::Agent) DrawRowLocked(m_current, false);
}

void TerminalProgress::Finish() {
  auto lock = m_out.Lock();
  m_out.EndLineLocked();
  m_current = Line::None;
}

}  // namespace portflash::cli
