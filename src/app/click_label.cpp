#include "app/click_label.h"

#include <QMouseEvent>

namespace kestrel {

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QLabel::mouseReleaseEvent(event);
}

void ClickLabel::enterEvent(QEnterEvent* event) {
  emit hovered(true);
  QLabel::enterEvent(event);
}

void ClickLabel::leaveEvent(QEvent* event) {
  emit hovered(false);
  QLabel::leaveEvent(event);
}

}  // namespace kestrel
