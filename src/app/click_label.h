#pragma once
// A static control that notifies clicks and the mouse entering and leaving it: the About and
// Help pictures of the main window and the web addresses of the About box.

#include <QLabel>

namespace kestrel {

class ClickLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ClickLabel(QWidget* parent = nullptr) : QLabel(parent) {}

 signals:
  void clicked();
  void hovered(bool inside);

 protected:
  // The press is kept, so that it does not reach the window (which would start moving).
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

}  // namespace kestrel
