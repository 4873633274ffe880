// The file type dialog: what it opens with, its two options, "&Select all", message 1141, and
// what OK and Cancel store.

#include <QApplication>
#include <QHash>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/app_texts.h"
#include "app/options_dlg.h"
#include "app/window_style.h"
#include "platform/settings_store.h"
#include "run/messages.h"

namespace kestrel {

using testing::Control;
using testing::ScriptedHost;

class OptionsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<SettingsStore> settings_;
  FileTypeSelection types_;
  ScriptedHost host_;

  int Ticked(COptionsDlg& dialog) {
    int count = 0;
    for (const FileTypeEntry& entry : FileTypeCatalogue()) {
      count += dialog.Ticks().Has(entry.index) ? 1 : 0;
    }
    return count;
  }
  QTreeWidget* List(COptionsDlg& dialog) { return Control<QTreeWidget>(&dialog, 1109); }

  // The strongest contrast between the drawn text of the list's first row and the row's most
  // common colour (its background).
  static double FirstRowInk(QTreeWidget* list) {
    const QImage drawn = list->viewport()->grab().toImage();
    const qreal ratio = drawn.devicePixelRatio();
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    QHash<QRgb, int> counts;
    for (int y = int(row.top() * ratio); y < int(row.bottom() * ratio); ++y) {
      for (int x = 0; x < drawn.width(); ++x) ++counts[drawn.pixel(x, y)];
    }
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
      if (it.value() > counts.value(background)) background = it.key();
    }
    double strongest = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
      strongest = std::max(strongest, ContrastRatio(QColor(it.key()), QColor(background)));
    }
    return strongest;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    settings_ = std::make_unique<SettingsStore>(dir_->filePath("registry.reg").toStdString());
    types_ = FileTypeSelection{};
    host_ = ScriptedHost{};
  }

  void ListsTheCatalogueInIndexOrderWithTheTexts() {
    COptionsDlg dialog(*settings_, types_, host_);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("File types"));
    QTreeWidget* list = List(dialog);
    QCOMPARE(list->topLevelItemCount(), static_cast<int>(kFileTypeCount));
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("AIF"));
    QCOMPARE(list->topLevelItem(7)->text(0), QStringLiteral("DOC/DOCX"));
    QCOMPARE(list->topLevelItem(10)->text(1),
             QStringLiteral("Joint Photographic Experts Group file format"));
    QCOMPARE(list->topLevelItem(36)->text(0), QStringLiteral("ZIP"));
    QCOMPARE(list->topLevelItem(0)->foreground(0).color(), QColor(1, 10, 120));
    QCOMPARE(list->topLevelItem(0)->foreground(1).color(), QColor(0, 107, 215));
    QCOMPARE(Control<QPushButton>(&dialog, 3)->text(), QStringLiteral("&Select all"));
    QCOMPARE(Control<QRadioButton>(&dialog, 1245)->text(), QStringLiteral("Scan for all files"));
    QCOMPARE(Control<QRadioButton>(&dialog, 1246)->text(),
             QStringLiteral("Scan for the file type selected"));
  }

  void WithoutSettingsAllFilesAndEveryTypeDisabled() {
    COptionsDlg dialog(*settings_, types_, host_);
    QVERIFY(dialog.scan_all_selected());
    QCOMPARE(Ticked(dialog), static_cast<int>(kFileTypeCount));
    QVERIFY(!List(dialog)->isEnabled());
    QVERIFY(!Control<QPushButton>(&dialog, 3)->isEnabled());
  }

  void ChoosingSelectedTypesUnticksEverythingAndOkRefuses() {
    COptionsDlg dialog(*settings_, types_, host_);
    Control<QRadioButton>(&dialog, 1246)->click();
    QCOMPARE(Ticked(dialog), 0);
    QVERIFY(List(dialog)->isEnabled());
    QVERIFY(Control<QPushButton>(&dialog, 3)->isEnabled());
    Control<QPushButton>(&dialog, 1)->click();
    QCOMPARE(host_.Ids(), std::vector<int>{apptext::kNoTypeSelected});
    QCOMPARE(host_.messages[0].icon, MessageIcon::kStop);
    QCOMPARE(dialog.result(), 0);  // still open, nothing stored
    QVERIFY(!settings_->KeyExists());
    // "&Select all" ticks every row again.
    Control<QPushButton>(&dialog, 3)->click();
    QCOMPARE(Ticked(dialog), static_cast<int>(kFileTypeCount));
  }

  void OkStoresTheTicksAndTheOption() {
    COptionsDlg dialog(*settings_, types_, host_);
    Control<QRadioButton>(&dialog, 1246)->click();
    List(dialog)->topLevelItem(kJpg)->setCheckState(0, Qt::Checked);
    List(dialog)->topLevelItem(kPng)->setCheckState(0, Qt::Checked);
    Control<QPushButton>(&dialog, 1)->click();
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
    QVERIFY(host_.messages.empty());
    QCOMPARE(settings_->GetByte("Scan File"), std::optional<uint8_t>(0));
    QCOMPARE(settings_->GetByte("JPG"), std::optional<uint8_t>(1));
    QCOMPARE(settings_->GetByte("PNG"), std::optional<uint8_t>(1));
    QCOMPARE(settings_->GetByte("GIF"), std::optional<uint8_t>(0));
    QVERIFY(types_.mask == (TypeBit(kJpg) | TypeBit(kPng)));
    QCOMPARE(types_.scan_all, uint8_t{0});
  }

  void DisabledListLooksDisabledInLightAndDarkPalettes() {
    const QPalette standard = QApplication::palette();
    for (const QPalette& palette : {standard, DarkPalette()}) {
      QApplication::setPalette(palette);
      COptionsDlg dialog(*settings_, types_, host_);
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      Control<QRadioButton>(&dialog, 1246)->click();
      const double enabled = FirstRowInk(List(dialog));
      Control<QRadioButton>(&dialog, 1245)->click();
      QVERIFY(!List(dialog)->isEnabled());
      const double disabled = FirstRowInk(List(dialog));
      QVERIFY2(enabled > 4.5 && disabled < enabled - 1.5,
               qPrintable(QStringLiteral("light %1: enabled %2, disabled %3")
                              .arg(LightPalette())
                              .arg(enabled)
                              .arg(disabled)));
      // Enabled again, the rows take their fixed colours back under a light palette.
      Control<QRadioButton>(&dialog, 1246)->click();
      QCOMPARE(List(dialog)->topLevelItem(0)->foreground(0).color() == QColor(1, 10, 120),
               LightPalette());
    }
    QApplication::setPalette(standard);
  }

  void ScanAllStoresEveryTypeAndScanFileOne() {
    settings_->SetByte("Scan File", 0);
    COptionsDlg dialog(*settings_, types_, host_);
    QVERIFY(!dialog.scan_all_selected());
    Control<QRadioButton>(&dialog, 1245)->click();
    QVERIFY(!List(dialog)->isEnabled());
    Control<QPushButton>(&dialog, 1)->click();
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(settings_->GetByte("Scan File"), std::optional<uint8_t>(1));
    for (const FileTypeEntry& entry : FileTypeCatalogue()) {
      QCOMPARE(settings_->GetByte(std::string(entry.name)), std::optional<uint8_t>(1));
    }
    QVERIFY(types_.mask == kAllFileTypesMask);
  }

  void OpensWithTheStoredTicksUnderScanAll() {
    settings_->SetByte("Scan File", 1);
    for (const FileTypeEntry& entry : FileTypeCatalogue()) {
      settings_->SetByte(std::string(entry.name), entry.index == kGif ? 1 : 0);
    }
    COptionsDlg dialog(*settings_, types_, host_);
    QVERIFY(dialog.scan_all_selected());
    QVERIFY(!List(dialog)->isEnabled());
    QCOMPARE(Ticked(dialog), 1);
    QVERIFY(dialog.Ticks().Has(kGif));
  }

  void ScanFileAbsentOpensWithSelectedTypes() {
    settings_->SetByte("JPG", 0);  // the key exists, "Scan File" does not
    COptionsDlg dialog(*settings_, types_, host_);
    QVERIFY(!dialog.scan_all_selected());
    QVERIFY(List(dialog)->isEnabled());
    // Ticks show the stored values; values never written count as ticked.
    QCOMPARE(Ticked(dialog), static_cast<int>(kFileTypeCount) - 1);
    QVERIFY(!dialog.Ticks().Has(kJpg));
  }

  void CancelStoresNothing() {
    settings_->SetByte("Scan File", 1);
    COptionsDlg dialog(*settings_, types_, host_);
    Control<QRadioButton>(&dialog, 1246)->click();
    List(dialog)->topLevelItem(kBmp)->setCheckState(0, Qt::Checked);
    Control<QPushButton>(&dialog, 2)->click();
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(settings_->GetByte("Scan File"), std::optional<uint8_t>(1));
    QVERIFY(!settings_->GetByte("BMP").has_value());
    QVERIFY(types_.mask.None());
  }
};

KESTREL_APP_TEST_GROUP(OptionsTest, "options");

}  // namespace kestrel

#include "options_test.moc"
