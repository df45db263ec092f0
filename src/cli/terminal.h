#pragma once
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include "engine/dialogs.h"
#include "engine/progress_view.h"

namespace portflash::cli {

// The process's stdout (messages) and stderr (progress, hints), shared by the
// main thread and the download thread. On a terminal, progress is one line
// redrawn in place; a message first ends that line so that nothing is overdrawn.
class TerminalOutput {
 public:
  explicit TerminalOutput(bool redraw, int width = 80);
  bool Redraws() const { return m_redraw; }
  int Width() const { return m_width; }
  // Messages to stderr too, leaving stdout to a machine-readable report.
  void MessagesToStderr() { m_messages = stderr; }

  void Message(const std::string& text);  // stdout, with a line end if it has none
  void Note(const std::string& text);     // stderr, one line

  // For the progress view; these expect the caller to hold Lock().
  std::unique_lock<std::mutex> Lock() { return std::unique_lock(m_mutex); }
  void DrawLocked(const std::string& line);  // replaces the open line
  void EndLineLocked();                      // ends the open line, if any
  void NoteLocked(const std::string& text);

 private:
  std::mutex m_mutex;
  bool m_redraw;
  int m_width;
  std::FILE* m_messages = stdout;
  bool m_lineOpen = false;
};

// Message boxes on a terminal. The power-off request (message 141) waits for
// Enter on stdin unless told not to; end of input goes on, an interrupt (the
// descriptor becomes readable) gives up the wait at once after onInterrupt.
class TerminalDialogs : public Dialogs {
 public:
  TerminalDialogs(TerminalOutput& out, bool noWait, int interruptFd,
                  std::function<void()> onInterrupt);
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  // The text of the last message box, for the report of a refusal.
  std::string LastMessage() const;

 private:
  // The line read, or nothing at end of input or an interrupt.
  bool ReadLine(std::string* line);

  TerminalOutput& m_out;
  mutable std::mutex m_lastMutex;
  std::string m_last;  // guarded by m_lastMutex: the download thread shows messages too
  bool m_noWait;
  int m_interruptFd;
  std::function<void()> m_onInterrupt;
};

// The download page's progress display for a terminal. Called on the download thread.
class TerminalProgress : public ProgressView {
 public:
  explicit TerminalProgress(TerminalOutput& out);
  void StepProgress(int channel, int delta) override;
  void ShowEstimate(int channel, int percent, unsigned secondsLeft) override;
  void ShowComplete(int channel) override;
  void ShowTook(int channel, int seconds) override;
  void ShowDelayWarning(double seconds) override;
  void ShowLineNote(const std::string& text) override;  // stderr, never stdout
  // Ends an open progress line (before the program's own last words).
  void Finish();

 private:
  enum class Line { None, Sync, Boot, Agent };
  struct Row {
    int position = 0;  // 0..100, as the bar stands
    std::string percentText;
    std::string estimateText;
  };

  Row& RowFor(int channel);
  static Line LineFor(int channel);
  void EnterLocked(Line line);
  void DrawRowLocked(Line line, bool important);
  std::string RowText(Line line) const;
  bool DueLocked();

  TerminalOutput& m_out;
  Row m_boot;
  Row m_agent;
  Line m_current = Line::None;
  bool m_synced = false;
  unsigned m_spinner = 0;
  std::chrono::steady_clock::time_point m_lastPlain{};
  bool m_plainShown = false;
};

}  // namespace portflash::cli
