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

QPalette DarkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(45, 45, 48));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
  dark.setColor(QPalette::Base, QColor(30, 30, 32));
  dark.setColor(QPalette::AlternateBase, QColor(50, 50, 54));
  dark.setColor(QPalette::Text, QColor(235, 235, 235));
  dark.setColor(QPalette::Button, QColor(60, 60, 64));
  dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
  dark.setColor(QPalette::Highlight, QColor(60, 110, 200));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
  dark.setColor(QPalette::ToolTipText, QColor(235, 235, 235));
  dark.setColor(QPalette::Light, QColor(75, 75, 80));
  dark.setColor(QPalette::Midlight, QColor(62, 62, 66));
  dark.setColor(QPalette::Mid, QColor(38, 38, 40));
  dark.setColor(QPalette::Dark, QColor(25, 25, 27));
  dark.setColor(QPalette::Shadow, QColor(10, 10, 10));
  dark.setColor(QPalette::PlaceholderText, QColor(160, 160, 160));
  dark.setColor(QPalette::Link, QColor(120, 180, 255));
  dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(130, 130, 130));
  dark.setColor(QPalette::Disabled, QPalette::Text, QColor(130, 130, 130));
  dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(130, 130, 130));
  return dark;
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
