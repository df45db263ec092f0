#pragma once
#include <QLabel>

namespace portflash {

// A one-line label for a file path. It shows `shown` (the program's own shortened
// form of the path) when that fits; when it does not, the whole path shortened in
// the middle to the width instead, so that there is never more than one ellipsis
// and nothing is cut off unmarked. The tool tip holds the whole path.
class PathLabel final : public QLabel {
  Q_OBJECT
 public:
  explicit PathLabel(QWidget* parent = nullptr);
  void SetPath(const QString& path, const QString& shown);
  void SetPath(const QString& path) { SetPath(path, path); }
  // What the label shows at its present width.
  QString ShownText() const;
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_path;
};

}  // namespace portflash
