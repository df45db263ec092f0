#include "gui/path_label.h"

#include <QPainter>
#include <QStyle>

namespace portflash {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void PathLabel::SetPath(const QString& path, const QString& shown) {
  if (path == m_path && shown == text()) return;
  m_path = path;
  setText(shown);
  setToolTip(path);
  update();
}

QString PathLabel::ShownText() const {
  const int width = contentsRect().width();
  if (fontMetrics().horizontalAdvance(text()) <= width) return text();
  return fontMetrics().elidedText(m_path, Qt::ElideMiddle, width);
}

QSize PathLabel::minimumSizeHint() const {
  return {fontMetrics().averageCharWidth() * 8, fontMetrics().height()};
}

QSize PathLabel::sizeHint() const {
  return {fontMetrics().averageCharWidth() * 40, fontMetrics().height()};
}

void PathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                        isEnabled(), ShownText(), foregroundRole());
}

}  // namespace portflash
