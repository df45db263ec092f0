#pragma once
#include <QLabel>

namespace portflash {

// A one-line label for a file path: shortened in the middle with an ellipsis
// when the page is too narrow, instead of widening the wizard. text() and the
// tool tip keep the whole path.
class PathLabel final : public QLabel {
  Q_OBJECT
 public:
  explicit PathLabel(QWidget* parent = nullptr);
  void SetPath(const QString& path);
  QSize minimumSizeHint() const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace portflash
