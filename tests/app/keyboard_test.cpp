// The window by keyboard alone: the focus chain of the idle and the finished window, Tab out of
// the results list, the mnemonics of the modes and the sources, and what Enter does.

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/results_view.h"
#include "app/source_list.h"
#include "app/source_tree.h"
#include "run/messages.h"

namespace kestrel {

using testing::Control;
using testing::WindowFixture;

namespace {

// The widgets Tab (or Shift+Tab) visits from `start` until it comes back to a widget seen.
QList<QWidget*> FocusChain(CKestrelDlg& window, QWidget* start, bool backwards = false) {
  QList<QWidget*> chain;
  start->setFocus(Qt::TabFocusReason);
  QWidget* focused = window.focusWidget();
  while (focused != nullptr && !chain.contains(focused) && chain.size() < 64) {
    chain << focused;
    QTest::keyClick(focused, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
    focused = window.focusWidget();
  }
  return chain;
}

QStringList Names(const QList<QWidget*>& widgets) {
  QStringList names;
  for (const QWidget* widget : widgets) names << widget->objectName();
  return names;
}

CKestrelDlg& ShowWindow(WindowFixture& fixture) {
  CKestrelDlg& window = fixture.OpenWindow();
  window.show();
  window.activateWindow();
  if (!QTest::qWaitForWindowActive(&window)) (void)QTest::qWaitForWindowExposed(&window);
  return window;
}

}  // namespace

class KeyboardTest : public QObject {
  Q_OBJECT

 private slots:
  void IdleWindowReachesEveryControlByTab() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = ShowWindow(fixture);
    const QStringList forward = Names(FocusChain(window, Control<QWidget>(&window, 1304)));
    for (const char* name :
         {"ctl1304", "ctl1289", "ctl1288", "ctl1313", "attachImage", "ctl1036"}) {
      QVERIFY2(forward.contains(QLatin1String(name)), qPrintable(forward.join(' ')));
    }
    QVERIFY(!forward.contains(QStringLiteral("ctl1037")));  // Cancel is off when idle
    QVERIFY(!forward.contains(QString()));                  // no stop at a nameless frame
    const QStringList backward = Names(FocusChain(window, Control<QWidget>(&window, 1036), true));
    QCOMPARE(QSet<QString>(backward.begin(), backward.end()),
             QSet<QString>(forward.begin(), forward.end()));

    window.EnterMode(RecoveryMode::kPartitionDisk);
    const QStringList disk_mode = Names(FocusChain(window, Control<QWidget>(&window, 1305)));
    QVERIFY(disk_mode.contains(QStringLiteral("ctl1002")));
    QVERIFY(!disk_mode.contains(QStringLiteral("ctl1313")));
  }

  void FinishedWindowLetsTabLeaveTheResults() {
    WindowFixture fixture;
    testing::WriteSampleImage(fixture.PathStd("samples.img"));
    fixture.AttachDisk("samples.img");
    CKestrelDlg& window = ShowWindow(fixture);
    window.EnterMode(RecoveryMode::kPartitionDisk);
    window.source_list()->setCurrentRow(window.source_list()->header_row() + 1);
    Control<QPushButton>(window.page(), 1036)->click();
    QCOMPARE(fixture.host.Count(msg::kCompleted), 1);
    ResultsList* results = window.results();
    QCOMPARE(results->rowCount(), 3);
    results->setCurrentCell(0, 0);

    for (bool backwards : {false, true}) {
      const QList<QWidget*> chain = FocusChain(window, results, backwards);
      QVERIFY2(chain.size() > 2, qPrintable(Names(chain).join(' ')));
      QCOMPARE(chain[0], static_cast<QWidget*>(results));
      QVERIFY(chain[1] != results);
      const QStringList names = Names(chain);
      for (const char* name : {"ctl1305", "ctl1289", "ctl1002", "ctl1036"}) {
        QVERIFY2(names.contains(QLatin1String(name)), qPrintable(names.join(' ')));
      }
    }
  }

  void MnemonicsChooseTheModeAndFocusTheSources() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = ShowWindow(fixture);
    if (!window.isActiveWindow()) QSKIP("the platform gives the window no keyboard focus");
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(fixture.app().recovery_mode, RecoveryMode::kPartitionDisk);
    QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(window.focusWidget(), static_cast<QWidget*>(window.source_list()));
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    QTRY_COMPARE(fixture.app().recovery_mode, RecoveryMode::kDeletedFiles);
    QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(window.focusWidget(), static_cast<QWidget*>(window.tree()));
    // The visible captions are the plain texts.
    QCOMPARE(Control<QRadioButton>(&window, 1304)->text().remove('&'),
             QStringLiteral("Recover deleted files"));
    QCOMPARE(Control<QRadioButton>(&window, 1305)->text().remove('&'),
             QStringLiteral("Recover files from partition/disk"));
  }

  void EnterPressesTheFocusedButtonOrOpensTheRowAndEscapeDoesNothing() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = ShowWindow(fixture);
    auto* recover = Control<QPushButton>(window.page(), 1036);
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(window.tree(), key);
      QTest::keyClick(&window, key);
    }
    QTest::keyClick(recover, Qt::Key_Escape);
    QVERIFY(window.isVisible());
    QCOMPARE(window.page()->runs_started(), 0);
    QVERIFY(fixture.host.messages.empty());

    QTest::keyClick(recover, Qt::Key_Return);
    QCOMPARE(window.page()->runs_started(), 1);
    QTest::keyClick(recover, Qt::Key_Enter);
    QCOMPARE(window.page()->runs_started(), 2);
    QVERIFY(window.isVisible());

    ResultsList* results = window.results();
    const std::string folder = fixture.RecoveryFolder() + "/";
    results->AddRow({"a.jpg", "1 KB", folder, folder + "a.jpg", 100, true, std::nullopt});
    results->AddRow({"b.jpg", "1 KB", folder, folder + "b.jpg", 100, true, std::nullopt});
    results->setCurrentCell(1, 0);
    QTest::keyClick(results, Qt::Key_Return);
    QCOMPARE(fixture.host.opened.size(), size_t{1});
    QCOMPARE(fixture.host.opened.back(),
             QUrl::fromLocalFile(QString::fromStdString(folder + "b.jpg")));
  }
};

KESTREL_APP_TEST_GROUP(KeyboardTest, "keyboard");

}  // namespace kestrel

#include "keyboard_test.moc"
