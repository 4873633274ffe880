#include "app/window_style.h"

#include <QFontMetrics>
#include <QPalette>
#include <QWidget>

namespace kestrel {

void ApplyBackground(QWidget* widget) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, kBackgroundColour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void KeepSelectionVisible(QWidget* view) {
  QPalette palette = view->palette();
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  }
  view->setPalette(palette);
}

QFont Underlined(QFont font) {
  font.setUnderline(true);
  return font;
}

QFont Bold(QFont font) {
  font.setBold(true);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = (letters / 26 + 1) / 2;
  base_y_ = metrics.height();
}

int DialogUnits::X(int units) const {
  return (units * base_x_ + 2) / 4;
}
int DialogUnits::Y(int units) const {
  return (units * base_y_ + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return {X(x), Y(y), X(width), Y(height)};
}

}  // namespace kestrel
