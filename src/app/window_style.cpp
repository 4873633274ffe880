#include "app/window_style.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QFontMetrics>
#include <QPalette>
#include <QWidget>

namespace kestrel {

bool LightPalette() {
  const QPalette palette = QApplication::palette();
  return palette.color(QPalette::Window).lightness() >= 128 &&
         palette.color(QPalette::WindowText).lightness() <
             palette.color(QPalette::Window).lightness();
}

void ApplyBackground(QWidget* widget) {
  if (!LightPalette()) return;
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, kBackgroundColour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void SetLightColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  if (!LightPalette()) return;
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

double ContrastRatio(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& colour) {
    auto channel = [](double value) {
      return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
  };
  const double first = luminance(a);
  const double second = luminance(b);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
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
