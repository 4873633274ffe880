#include "imaging/placeholder_picture.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "imaging/thumbnail.h"

namespace kestrel {
namespace {

// A framed landscape (sun and two hills) with a diagonal stroke: "no picture here".
void DrawLandscape(QPainter& painter, const QRectF& frame) {
  painter.setPen(QPen(QColor(150, 160, 175), 2));
  painter.setBrush(QColor(232, 237, 244));
  painter.drawRoundedRect(frame, 6, 6);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(246, 196, 84));
  painter.drawEllipse(QPointF(frame.right() - 20, frame.top() + 18), 8, 8);

  QPainterPath hills;
  hills.moveTo(frame.left() + 2, frame.bottom() - 2);
  hills.lineTo(frame.left() + 28, frame.top() + 26);
  hills.lineTo(frame.left() + 46, frame.top() + 44);
  hills.lineTo(frame.left() + 62, frame.top() + 32);
  hills.lineTo(frame.right() - 2, frame.bottom() - 2);
  hills.closeSubpath();
  painter.setBrush(QColor(120, 150, 185));
  painter.drawPath(hills);

  painter.setPen(QPen(QColor(200, 70, 60), 4, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(frame.bottomLeft() + QPointF(10, -10), frame.topRight() + QPointF(-10, 10));
}

}  // namespace

QImage PlaceholderPicture() {
  QImage image(kThumbnailSide, kThumbnailSide, QImage::Format_RGB32);
  image.fill(QColor(250, 250, 250));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawLandscape(painter, QRectF(22, 14, 81, 66));

  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(12);
  painter.setFont(font);
  painter.setPen(QColor(90, 100, 115));
  painter.drawText(QRectF(0, 86, kThumbnailSide, 30), Qt::AlignCenter,
                   QStringLiteral("No preview"));
  return image;
}

}  // namespace kestrel
