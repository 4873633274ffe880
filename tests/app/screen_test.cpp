// A 1280 x 1024 screen at 144 dots per inch (scale 1.5, tests/app/screen_144dpi.json): the
// window fits the screen and its pictures are drawn at the screen's pixel density.

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/click_label.h"

namespace kestrel {

class ScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void WindowFitsAScaledScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen->devicePixelRatio() < 1.4) QSKIP("the offscreen screen is not scaled");
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    window.show();
    const QRect available = screen->availableGeometry();
    QVERIFY2(window.width() + 16 <= available.width() && window.height() + 40 <= available.height(),
             qPrintable(QStringLiteral("%1x%2 on %3x%4")
                            .arg(window.width())
                            .arg(window.height())
                            .arg(available.width())
                            .arg(available.height())));
    // Nothing is cut off: what does not fit can be scrolled to.
    auto* scroll = window.findChild<QScrollArea*>();
    QVERIFY(scroll != nullptr);
    QVERIFY(scroll->widget()->minimumSizeHint().height() <= scroll->widget()->height() ||
            scroll->verticalScrollBar()->maximum() > 0);
    auto* about = testing::Control<ClickLabel>(&window, 1300);
    QCOMPARE(about->pixmap().devicePixelRatio(), screen->devicePixelRatio());
  }
};

KESTREL_APP_TEST_GROUP(ScreenTest, "screen");

}  // namespace kestrel

#include "screen_test.moc"
