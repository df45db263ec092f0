#include "gui/path_label.h"

#include <QPainter>
#include <QStyle>

namespace portflash {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void PathLabel::SetPath(const QString& path) {
  if (path == text()) return;
  setText(path);
  setToolTip(path);
}

QSize PathLabel::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 8, fontMetrics().height()};
}

QSize PathLabel::sizeHint() const {
  return {fontMetrics().averageCharWidth() * 40, fontMetrics().height()};
}

void PathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect();
  const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
  style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                        shown, foregroundRole());
}

}  // namespace portflash
