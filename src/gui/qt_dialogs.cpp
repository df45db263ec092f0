#include "gui/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <memory>

#include "gui/text.h"

namespace portflash {

struct QtDialogs::Request {
  Kind kind;
  std::string text;
  bool done = false;
  bool answer = false;
};

QtDialogs::QtDialogs() = default;

QtDialogs::~QtDialogs() {
  BeginShutdown();
}

void QtDialogs::ShowMessage(const std::string& text) {
  Ask(Kind::Message, text);
}

bool QtDialogs::AskYesNo(const std::string& text) {
  return Ask(Kind::YesNo, text);
}

void QtDialogs::SetAutoAnswer(AutoAnswer answer) {
  std::lock_guard lock(m_mutex);
  m_autoAnswer = std::move(answer);
}

void QtDialogs::BeginShutdown() {
  {
    std::lock_guard lock(m_mutex);
    m_shuttingDown = true;
  }
  m_answered.notify_all();
}

bool QtDialogs::IsShuttingDown() const {
  std::lock_guard lock(m_mutex);
  return m_shuttingDown;
}

std::vector<QtDialogs::Record> QtDialogs::Records() const {
  std::lock_guard lock(m_mutex);
  return m_records;
}

std::vector<std::string> QtDialogs::Texts() const {
  std::vector<std::string> texts;
  for (const Record& record : Records()) texts.push_back(record.text);
  return texts;
}

void QtDialogs::ClearRecords() {
  std::lock_guard lock(m_mutex);
  m_records.clear();
}

bool QtDialogs::Ask(Kind kind, const std::string& text) {
  {
    std::lock_guard lock(m_mutex);
    m_records.push_back({kind, text});
    if (m_shuttingDown) return kind == Kind::Message;
  }
  if (QThread::currentThread() == thread()) return AnswerOnGuiThread(kind, text);

  auto request = std::make_shared<Request>(Request{kind, text});
  QMetaObject::invokeMethod(
      this,
      [this, request] {
        const bool answer = AnswerOnGuiThread(request->kind, request->text);
        {
          std::lock_guard lock(m_mutex);
          request->done = true;
          request->answer = answer;
        }
        m_answered.notify_all();
      },
      Qt::QueuedConnection);

  std::unique_lock lock(m_mutex);
  m_answered.wait(lock, [&] { return request->done || m_shuttingDown; });
  return request->done ? request->answer : kind == Kind::Message;
}

bool QtDialogs::AnswerOnGuiThread(Kind kind, const std::string& text) {
  AutoAnswer autoAnswer;
  {
    std::lock_guard lock(m_mutex);
    if (m_shuttingDown) return kind == Kind::Message;
    autoAnswer = m_autoAnswer;
  }
  if (autoAnswer) return autoAnswer(kind, text);

  QWidget* parent = m_parent ? m_parent.data() : QApplication::activeWindow();
  const int answer = MakeBox(kind, text, parent)->exec();
  return kind == Kind::Message || answer == QMessageBox::Yes;
}

std::unique_ptr<QMessageBox> QtDialogs::MakeBox(Kind kind, const std::string& text,
                                                QWidget* parent) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(QStringLiteral("Portflash"));
  box->setTextFormat(Qt::PlainText);
  box->setText(FromCore(text));
  if (kind == Kind::YesNo) {
    box->setIcon(QMessageBox::Question);
    box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box->setDefaultButton(QMessageBox::Yes);
    box->setEscapeButton(QMessageBox::No);
  } else {
    box->setIcon(QMessageBox::NoIcon);
    box->setStandardButtons(QMessageBox::Ok);
    box->setDefaultButton(QMessageBox::Ok);
    box->setEscapeButton(QMessageBox::Ok);
  }
  return box;
}

}  // namespace portflash
