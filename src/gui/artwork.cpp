#include "gui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>

namespace portflash {
namespace {

void PaintTraces(QPainter& p) {
  // A faint circuit-board pattern: a few right-angled traces ending in pads.
  struct Trace {
    std::array<QPointF, 3> points;
  };
  constexpr Trace kTraces[] = {
      {{QPointF(0, 18), QPointF(40, 18), QPointF(52, 30)}},
      {{QPointF(150, 12), QPointF(118, 12), QPointF(104, 26)}},
      {{QPointF(0, 122), QPointF(22, 122), QPointF(34, 134)}},
      {{QPointF(150, 140), QPointF(132, 140), QPointF(120, 152)}},
      {{QPointF(0, 196), QPointF(28, 196), QPointF(40, 208)}},
      {{QPointF(150, 214), QPointF(124, 214), QPointF(112, 226)}},
      {{QPointF(0, 282), QPointF(30, 282), QPointF(42, 270)}},
      {{QPointF(150, 286), QPointF(118, 286), QPointF(108, 276)}},
  };
  p.setPen(QPen(QColor(255, 255, 255, 34), 1.2));
  p.setBrush(Qt::NoBrush);
  for (const Trace& trace : kTraces) {
    p.drawPolyline(trace.points.data(), static_cast<int>(trace.points.size()));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 52));
  for (const Trace& trace : kTraces) p.drawEllipse(trace.points.back(), 2.2, 2.2);
}

void PaintUnit(QPainter& p) {
  // Glow behind the unit.
  QRadialGradient glow(QPointF(75, 70), 70);
  glow.setColorAt(0, QColor(120, 220, 255, 70));
  glow.setColorAt(1, QColor(120, 220, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(glow);
  p.drawEllipse(QPointF(75, 70), 70, 70);

  // The unit's case, seen from the front.
  const QRectF body(18, 48, 114, 42);
  QLinearGradient metal(body.topLeft(), body.bottomLeft());
  metal.setColorAt(0, QColor(0xf1, 0xf4, 0xf7));
  metal.setColorAt(1, QColor(0xaa, 0xb7, 0xc2));
  p.setPen(QPen(QColor(0x22, 0x33, 0x44), 1.2));
  p.setBrush(metal);
  p.drawRoundedRect(body, 5, 5);
  p.setPen(QPen(QColor(255, 255, 255, 160), 1));
  p.drawLine(QPointF(23, 51.5), QPointF(127, 51.5));

  // Network ports.
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 4; ++i) {
    const QRectF port(26 + i * 17, 70, 13, 11);
    p.setBrush(QColor(0x2b, 0x36, 0x40));
    p.drawRoundedRect(port, 1.5, 1.5);
    p.setBrush(QColor(0x55, 0x66, 0x74));
    p.drawRect(QRectF(port.left() + 4, port.top() + 7, 5, 4));
  }
  // Status lights: two green, one amber.
  const QColor lights[] = {QColor(0x3d, 0xdc, 0x84), QColor(0x3d, 0xdc, 0x84),
                           QColor(0xff, 0xb3, 0x00)};
  for (int i = 0; i < 3; ++i) {
    p.setBrush(lights[i]);
    p.drawEllipse(QPointF(30 + i * 9, 60), 2.4, 2.4);
  }
  // The console port, where the cable goes in.
  p.setBrush(QColor(0x1d, 0x26, 0x2e));
  p.drawRoundedRect(QRectF(106, 66, 18, 15), 2, 2);
  p.setBrush(QColor(0x7f, 0xf3, 0xff));
  p.drawEllipse(QPointF(115, 60), 2.4, 2.4);
}

QPainterPath CablePath() {
  QPainterPath cable(QPointF(115, 81));
  cable.cubicTo(QPointF(118, 150), QPointF(30, 150), QPointF(45, 200));
  cable.cubicTo(QPointF(55, 232), QPointF(76, 224), QPointF(76, 246));
  return cable;
}

void PaintCable(QPainter& p) {
  const QPainterPath cable = CablePath();
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x14, 0x1c, 0x22), 7, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(cable);
  p.setPen(QPen(QColor(0x5f, 0x78, 0x86), 3.5, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(cable);

  // Bytes travelling up the cable towards the unit.
  p.setPen(Qt::NoPen);
  for (int i = 1; i < 9; ++i) {
    const qreal at = i / 9.0;
    const QPointF point = cable.pointAtPercent(at);
    const qreal size = 2.0 + 2.2 * (1.0 - at);
    p.setBrush(QColor(127, 243, 255, 60));
    p.drawEllipse(point, size + 2.5, size + 2.5);
    p.setBrush(QColor(0xd8, 0xfd, 0xff));
    p.drawRoundedRect(QRectF(point.x() - size / 2, point.y() - size / 2, size, size), 1, 1);
  }

  // A chevron pointing the way the image goes.
  const QPointF tip = cable.pointAtPercent(0.06);
  QPainterPath arrow;
  arrow.moveTo(tip.x() - 11, tip.y() + 12);
  arrow.lineTo(tip.x() - 4, tip.y() + 4);
  arrow.lineTo(tip.x() + 3, tip.y() + 12);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xff, 0xb3, 0x00), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.translate(-12, 14);
  p.drawPath(arrow);
  p.translate(0, 9);
  p.drawPath(arrow);
  p.translate(12, -23);
}

void PaintConnector(QPainter& p) {
  // A nine-pin serial plug at the PC's end.
  QPainterPath shell;
  shell.moveTo(50, 246);
  shell.lineTo(102, 246);
  shell.lineTo(97, 268);
  shell.lineTo(55, 268);
  shell.closeSubpath();
  QLinearGradient steel(QPointF(0, 246), QPointF(0, 268));
  steel.setColorAt(0, QColor(0xe3, 0xe8, 0xec));
  steel.setColorAt(1, QColor(0x8d, 0x9a, 0xa5));
  p.setPen(QPen(QColor(0x22, 0x33, 0x44), 1.2));
  p.setBrush(steel);
  p.drawPath(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2b, 0x36, 0x40));
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(60 + i * 8, 253), 1.7, 1.7);
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(64 + i * 8, 261), 1.7, 1.7);
  p.setBrush(QColor(0x9b, 0xa8, 0xb2));
  p.drawEllipse(QPointF(44, 257), 3, 3);
  p.drawEllipse(QPointF(108, 257), 3, 3);
}

}  // namespace

QPixmap WizardPicture(qreal devicePixelRatio) {
  const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
  QPixmap picture(qRound(kPictureWidth * ratio), qRound(kPictureHeight * ratio));
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);

  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(QPointF(0, 0), QPointF(0, kPictureHeight));
  sky.setColorAt(0, QColor(0x0d, 0x2f, 0x52));
  sky.setColorAt(1, QColor(0x0f, 0x6b, 0x6b));
  p.setPen(Qt::NoPen);
  p.setBrush(sky);
  p.drawRoundedRect(QRectF(0, 0, kPictureWidth, kPictureHeight), 4, 4);
  PaintTraces(p);
  PaintCable(p);
  PaintUnit(p);
  PaintConnector(p);
  return picture;
}

QImage PaintIcon(int size) {
  QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  QPainter p(&icon);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);

  QLinearGradient tile(QPointF(0, 0), QPointF(32, 32));
  tile.setColorAt(0, QColor(0x11, 0x49, 0x7a));
  tile.setColorAt(1, QColor(0x12, 0x87, 0x7f));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

  // A chip with its pins.
  p.setBrush(QColor(0xe8, 0xee, 0xf2));
  for (int i = 0; i < 3; ++i) {
    p.drawRect(QRectF(6.5, 17 + i * 3.5, 3, 1.6));
    p.drawRect(QRectF(22.5, 17 + i * 3.5, 3, 1.6));
  }
  p.setPen(QPen(QColor(0x0b, 0x2a, 0x45), 0.8));
  p.drawRoundedRect(QRectF(9, 15, 14, 12.5), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x12, 0x87, 0x7f));
  p.drawEllipse(QPointF(12, 18), 1.1, 1.1);

  // The image going in.
  QPainterPath arrow;
  arrow.moveTo(13.5, 4);
  arrow.lineTo(18.5, 4);
  arrow.lineTo(18.5, 9);
  arrow.lineTo(22, 9);
  arrow.lineTo(16, 15.5);
  arrow.lineTo(10, 9);
  arrow.lineTo(13.5, 9);
  arrow.closeSubpath();
  p.setBrush(QColor(0xff, 0xb3, 0x00));
  p.setPen(QPen(QColor(0x6b, 0x40, 0x00), 0.7));
  p.drawPath(arrow);
  return icon;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    icon.addPixmap(QPixmap::fromImage(PaintIcon(size)));
  }
  return icon;
}

}  // namespace portflash
