#pragma once
// The splash windows shown while the drives are enumerated: a borderless window holding the
// splash bitmap, one for screens up to 96 pixels per inch and one for 97..120.

#include <QWidget>

namespace kestrel {

class SplashWindow : public QWidget {
 public:
  // `scale`: the bitmap's size factor on the screen it is made for.
  SplashWindow(const QString& name, double scale);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage bitmap_;
};

class FlashDlg : public SplashWindow {
 public:
  FlashDlg() : SplashWindow(QStringLiteral("FlashDlg"), 1.0) {}
};

class CFlash120 : public SplashWindow {
 public:
  // Its picture is 335 x 186 dialog units of a 120 DPI screen: the bitmap, a little smaller.
  CFlash120() : SplashWindow(QStringLiteral("CFlash120"), 0.9) {}
};

}  // namespace kestrel
