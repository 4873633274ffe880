#pragma once
// The look shared by the window and its dialogs: the background colour (red 250, green 250,
// blue 250) of every control but the source tree and list, the underlined variant of a font,
// and dialog units, in which the dialogs' control positions are given.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>

class QWidget;

namespace kestrel {

inline const QColor kBackgroundColour(250, 250, 250);

// Whether the running palette is a light one (dark text on a light window). The window's own
// colours apply only then; under a dark palette the palette's colours keep every text readable.
bool LightPalette();
// Paints `widget` and its children with the background colour (read-only edits included), when
// the palette is light.
void ApplyBackground(QWidget* widget);
// Sets a role's colour of `widget` when the palette is light; leaves the palette's otherwise.
void SetLightColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);
// A dark palette of the kind desktop themes give (screenshots and tests render with it).
QPalette DarkPalette();
// The ratio of the relative luminances of two colours (1 to 21); text is readable at 4.5.
double ContrastRatio(const QColor& a, const QColor& b);
// Keeps the selection of an item view drawn in the focus colours when it loses the focus.
void KeepSelectionVisible(QWidget* view);

QFont Underlined(QFont font);
QFont Bold(QFont font);

// Converts dialog units of a font to pixels: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;

 private:
  int base_x_;
  int base_y_;
};

}  // namespace kestrel
