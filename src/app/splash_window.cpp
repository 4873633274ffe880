#include "app/splash_window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "app/artwork.h"

namespace kestrel {

SplashWindow::SplashWindow(const QString& name, double scale)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(name);
  bitmap_ = DrawSplashBitmap();
  const QSize size(static_cast<int>(bitmap_.width() * scale),
                   static_cast<int>(bitmap_.height() * scale));
  setFixedSize(size);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void SplashWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), bitmap_);
}

}  // namespace kestrel
