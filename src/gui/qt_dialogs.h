#pragma once
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/dialogs.h"

namespace portflash {

// Message boxes for the wizard. Boxes are always shown by the GUI thread: a
// request from another thread (the download) is posted there, and the caller
// waits for the answer. Once the GUI is shutting down, requests are answered at
// once (OK, No) so that no thread waits for a box that nobody will see.
class QtDialogs final : public QObject, public Dialogs {
  Q_OBJECT
 public:
  enum class Kind { Message, YesNo };
  struct Record {
    Kind kind;
    std::string text;
  };
  // Answers a box instead of showing it (true: Yes/OK). Runs on the GUI thread.
  using AutoAnswer = std::function<bool(Kind, const std::string&)>;

  QtDialogs();
  ~QtDialogs() override;

  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;

  // The box as it is shown (OK box, or Yes/No with Yes as the default).
  static std::unique_ptr<QMessageBox> MakeBox(Kind kind, const std::string& text, QWidget* parent);

  void SetParentWidget(QWidget* parent) { m_parent = parent; }
  void SetAutoAnswer(AutoAnswer answer);
  void BeginShutdown();
  bool IsShuttingDown() const;

  // Every box asked for, in order (kept for the tests and for diagnosis).
  std::vector<Record> Records() const;
  std::vector<std::string> Texts() const;
  void ClearRecords();

 private:
  struct Request;
  bool Ask(Kind kind, const std::string& text);
  bool AnswerOnGuiThread(Kind kind, const std::string& text);

  QPointer<QWidget> m_parent;
  mutable std::mutex m_mutex;
  std::condition_variable m_answered;
  bool m_shuttingDown = false;
  AutoAnswer m_autoAnswer;
  std::vector<Record> m_records;
};

}  // namespace portflash
