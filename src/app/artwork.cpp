#include "app/artwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#ifndef KESTREL_DATA_DIR
#define KESTREL_DATA_DIR "/usr/local/share/kestrel"
#endif

namespace kestrel {
namespace {

QImage NewCanvas(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A drive body: a rounded slab with a front light, in unit coordinates scaled by `painter`.
void DrawDriveBody(QPainter& painter, const QRectF& body, const QColor& top, const QColor& bottom) {
  QLinearGradient shade(body.topLeft(), body.bottomLeft());
  shade.setColorAt(0, top);
  shade.setColorAt(1, bottom);
  painter.setPen(QPen(bottom.darker(150), body.height() * 0.06));
  painter.setBrush(shade);
  painter.drawRoundedRect(body, body.height() * 0.18, body.height() * 0.18);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(90, 220, 110));
  const double light = body.height() * 0.16;
  painter.drawEllipse(QPointF(body.right() - light * 2.2, body.center().y()), light, light);
}

// The curved "bring back" arrow of the application icon.
void DrawRecoverArrow(QPainter& painter, double side) {
  QPainterPath arc;
  arc.moveTo(side * 0.22, side * 0.46);
  arc.cubicTo(side * 0.22, side * 0.12, side * 0.78, side * 0.12, side * 0.78, side * 0.40);
  painter.setPen(QPen(QColor(255, 255, 255), side * 0.09, Qt::SolidLine, Qt::RoundCap));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(arc);
  QPolygonF head;
  head << QPointF(side * 0.64, side * 0.36) << QPointF(side * 0.92, side * 0.36)
       << QPointF(side * 0.78, side * 0.54);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255));
  painter.drawPolygon(head);
}

void DrawRoundBadge(QPainter& painter, int side, const QColor& color, const QString& glyph) {
  QRadialGradient fill(QPointF(side * 0.4, side * 0.35), side * 0.6);
  fill.setColorAt(0, color.lighter(140));
  fill.setColorAt(1, color);
  painter.setPen(QPen(color.darker(140), side * 0.05));
  painter.setBrush(fill);
  painter.drawEllipse(QRectF(side * 0.06, side * 0.06, side * 0.88, side * 0.88));
  QFont font(QStringLiteral("DejaVu Serif"));
  font.setBold(true);
  font.setPixelSize(static_cast<int>(side * 0.62));
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(0, 0, side, side * 0.98), Qt::AlignCenter, glyph);
}

}  // namespace

QImage DrawAppIcon(int side) {
  QImage image = NewCanvas(side, side);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = side;
  QLinearGradient back(0, 0, 0, s);
  back.setColorAt(0, QColor(38, 110, 190));
  back.setColorAt(1, QColor(16, 58, 120));
  painter.setPen(Qt::NoPen);
  painter.setBrush(back);
  painter.drawRoundedRect(QRectF(s * 0.03, s * 0.03, s * 0.94, s * 0.94), s * 0.2, s * 0.2);
  DrawDriveBody(painter, QRectF(s * 0.14, s * 0.58, s * 0.72, s * 0.26), QColor(235, 238, 242),
                QColor(160, 168, 180));
  DrawRecoverArrow(painter, s);
  return image;
}

QImage DrawAboutPicture(int side) {
  QImage image = NewCanvas(side, side);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawRoundBadge(painter, side, QColor(30, 100, 185), QStringLiteral("i"));
  return image;
}

QImage DrawHelpPicture(int side) {
  QImage image = NewCanvas(side, side);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  DrawRoundBadge(painter, side, QColor(40, 150, 80), QStringLiteral("?"));
  return image;
}

QImage DrawComputerPicture(int side) {
  QImage image = NewCanvas(side, side);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = side;
  painter.setPen(QPen(QColor(60, 70, 85), s * 0.06));
  painter.setBrush(QColor(200, 205, 212));
  painter.drawRoundedRect(QRectF(s * 0.08, s * 0.1, s * 0.84, s * 0.6), s * 0.06, s * 0.06);
  QLinearGradient screen(0, s * 0.16, 0, s * 0.62);
  screen.setColorAt(0, QColor(110, 180, 240));
  screen.setColorAt(1, QColor(30, 90, 170));
  painter.setPen(Qt::NoPen);
  painter.setBrush(screen);
  painter.drawRect(QRectF(s * 0.16, s * 0.17, s * 0.68, s * 0.45));
  painter.setBrush(QColor(60, 70, 85));
  painter.drawRect(QRectF(s * 0.42, s * 0.7, s * 0.16, s * 0.1));
  painter.drawRoundedRect(QRectF(s * 0.24, s * 0.8, s * 0.52, s * 0.09), s * 0.03, s * 0.03);
  return image;
}

QImage DrawHardDiskPicture(int side) {
  QImage image = NewCanvas(side, side);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = side;
  DrawDriveBody(painter, QRectF(s * 0.06, s * 0.3, s * 0.88, s * 0.42), QColor(225, 228, 234),
                QColor(120, 128, 140));
  return image;
}

QImage DrawSplashBitmap() {
  constexpr int kWidth = 500;
  constexpr int kHeight = 300;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, kWidth, kHeight);
  back.setColorAt(0, QColor(22, 70, 140));
  back.setColorAt(1, QColor(8, 30, 70));
  painter.fillRect(image.rect(), back);
  painter.drawImage(QPoint(36, 86), DrawAppIcon(128));

  QFont title(QStringLiteral("DejaVu Sans"));
  title.setBold(true);
  title.setPixelSize(30);
  painter.setFont(title);
  painter.setPen(Qt::white);
  painter.drawText(QRect(190, 90, 300, 40), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Kestrel V3"));
  QFont line(QStringLiteral("DejaVu Sans"));
  line.setPixelSize(15);
  painter.setFont(line);
  painter.setPen(QColor(200, 220, 245));
  painter.drawText(QRect(190, 132, 300, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Quillmark File Recovery Utility"));
  painter.drawText(QRect(190, 158, 300, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Version 3.05 \u2014 Build 05"));
  line.setPixelSize(12);
  painter.setFont(line);
  painter.setPen(QColor(150, 175, 210));
  painter.drawText(QRect(20, 262, 460, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Looking for drives\u2026"));
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64, 128}) icon.addPixmap(QPixmap::fromImage(DrawAppIcon(side)));
  return icon;
}

QIcon NamedIcon(const QString& file_name, QImage (*fallback)(int side)) {
  const QStringList folders = {QDir::currentPath(), QCoreApplication::applicationDirPath(),
                               QStringLiteral(KESTREL_DATA_DIR)};
  for (const QString& folder : folders) {
    const QString path = QDir(folder).filePath(file_name);
    if (!QFileInfo(path).isFile()) continue;
    QIcon icon(path);
    if (!icon.availableSizes().isEmpty()) return icon;
  }
  QIcon drawn;
  for (int side : {16, 32}) drawn.addPixmap(QPixmap::fromImage(fallback(side)));
  return drawn;
}

}  // namespace kestrel
