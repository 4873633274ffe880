// The main window: its controls, the source tree and list, the two modes, Browse, the settings
// it reads at start-up, Help and About, and the thumbnail preview.

#include <unistd.h>

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "app/about_dlg.h"
#include "app/app_test_support.h"
#include "app/app_texts.h"
#include "app/click_label.h"
#include "app/results_view.h"
#include "app/source_list.h"
#include "app/source_size_delegate.h"
#include "app/source_tree.h"
#include "app/user_manual.h"
#include "imaging/placeholder_picture.h"
#include "output/recovered_output.h"
#include "run/messages.h"
#include "support/fat_image.h"
#include "support/fixture_samples.h"

namespace kestrel {

using testing::Control;
using testing::WindowFixture;

namespace {

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& name) {
  for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == name) return parent->child(i);
  }
  return nullptr;
}

QStringList ChildNames(QTreeWidgetItem* parent) {
  QStringList names;
  for (int i = 0; i < parent->childCount(); ++i) names << parent->child(i)->text(0);
  names.sort();
  return names;
}

QString Edit(CKestrelDlg& window, int id) {
  return Control<QLineEdit>(&window, id)->text();
}

// Browse refuses folders that cannot be written; the path shown stays as it was.
void BrowseRefusesFoldersThatCannotBeWritten(WindowFixture& fixture, CKestrelDlg& window) {
  const QString before = Edit(window, 1307);
  // Below a file: no user, root included, can make a folder there.
  const QString under_file = fixture.Path("blank.img/Saved");
  fixture.host.folders.push_back(under_file);
  Control<QPushButton>(&window, 1289)->click();
  QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kFolderNotWritable});
  QVERIFY(fixture.host.messages[0].text.contains(under_file + " (Not a directory)"));
  QCOMPARE(Edit(window, 1307), before);
  QCOMPARE(fixture.app().settings.GetString("Default Folder"),
           std::optional<std::string>(before.toStdString()));

  const QString locked = fixture.Path("Locked");
  QVERIFY(QDir().mkpath(locked));
  QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
  if (geteuid() != 0) {  // root writes to any folder of a writable file system
    fixture.host.folders.push_back(locked);
    Control<QPushButton>(&window, 1289)->click();
    QCOMPARE(fixture.host.Count(apptext::kFolderNotWritable), 2);
    QVERIFY(fixture.host.messages[1].text.contains(locked + " (Permission denied)"));
    QCOMPARE(Edit(window, 1307), before);
  }
  // A folder still to be made below a writable one is accepted.
  fixture.host.folders.push_back(fixture.Path("New/Deeper"));
  Control<QPushButton>(&window, 1289)->click();
  QCOMPARE(Edit(window, 1307), fixture.Path("New/Deeper"));
  QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  // A FAT16 card at E: with folders, and two disk images; null when the FAT tools are missing.
  std::unique_ptr<WindowFixture> CardAndDisks() {
    auto fixture = std::make_unique<WindowFixture>();
    std::string why;
    auto card = testing::FatImage::Create(fixture->PathStd("card.img"), 16, 16384, 0, &why);
    if (!card) return nullptr;
    card->MakeFolder("/DCIM");
    card->MakeFolder("/DCIM/100CANON");
    card->MakeFolder("/DCIM/Old Trips");
    card->MakeFolder("/RECYCLED");
    card->MakeFolder("/System Volume Information");
    card->MakeFolder("/Music");
    testing::WriteEmptyImage(fixture->PathStd("disk0.img"));
    testing::WriteEmptyImage(fixture->PathStd("disk1.img"));
    fixture->AttachVolume('E', "card.img", true);
    fixture->AttachDisk("disk0.img");
    fixture->AttachDisk("disk1.img");
    return fixture;
  }

 private slots:
  void EveryControlOfTheTemplateExists() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    for (int id : {1297, 1299, 1304, 1305, 1308, 1301, 1307, 1289, 1302, 1288, 1280, 1313, 1002,
                   1279, 1314, 1315, 1000, 1310, 1309, 1281, 1312, 1300, 1306, 1303, 1311, 1298}) {
      QVERIFY2(Control<QWidget>(&window, id) != nullptr, qPrintable(QString::number(id)));
    }
    for (int id : {1028, 1029, 1030, 1034, 1040, 1033, 1035, 1038, 1037, 1036}) {
      QVERIFY2(Control<QWidget>(window.page(), id) != nullptr, qPrintable(QString::number(id)));
    }
    QCOMPARE(window.windowTitle(), QStringLiteral("Quillmark Kestrel V3 Build 05"));
    QCOMPARE(Control<QLabel>(&window, 1297)->text(), AppText(apptext::kIntroText));
    QCOMPARE(Control<QPushButton>(&window, 1289)->text(), QStringLiteral("&Browse"));
    QCOMPARE(Control<QWidget>(&window, 1304)->toolTip(),
             QStringLiteral("This option will recover the deleted files from the selected "
                            "folder or partition."));
    QCOMPARE(Control<QWidget>(&window, 1305)->toolTip(),
             QStringLiteral("This option will recover only the supported file types from "
                            "Partition/Disk including formatted or deleted partition."));
    QCOMPARE(Control<QWidget>(&window, 1289)->toolTip(),
             QStringLiteral("Click here to select a folder to save the recovered files."));
    QCOMPARE(Control<QWidget>(&window, 1288)->toolTip(),
             QStringLiteral("Click here to select the file type(s) to recover."));
    QCOMPARE(Control<QWidget>(&window, 1300)->toolTip(), QStringLiteral("About Kestrel V3"));
    QCOMPARE(Control<QWidget>(&window, 1303)->toolTip(),
             QStringLiteral("Click here to launch the user manual."));
    QCOMPARE(Control<QWidget>(window.page(), 1036)->toolTip(),
             QStringLiteral("Click here to recover files from selected drive or folder."));
    // Starts in mode 1 with the tree shown, the page idle.
    QVERIFY(Control<QRadioButton>(&window, 1304)->isChecked());
    QCOMPARE(fixture.app().recovery_mode, RecoveryMode::kDeletedFiles);
    QVERIFY(!window.tree()->isHidden());
    QVERIFY(window.source_list()->isHidden());
    QVERIFY(window.thumbnail()->isHidden());
    QVERIFY(!Control<QWidget>(window.page(), 1037)->isEnabled());
    QVERIFY(Control<QWidget>(window.page(), 1036)->isEnabled());
    QCOMPARE(window.palette().color(QPalette::Window), QColor(250, 250, 250));
  }

  void SourceListShowsVolumesHeaderAndDisks() {
    auto fixture = CardAndDisks();
    if (!fixture) QSKIP("mkfs.fat or mtools is not installed");
    CKestrelDlg& window = fixture->OpenWindow();
    SourceList* list = window.source_list();
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->TextOfRow(0), QStringLiteral(" Removable Disk (E:)"));
    QCOMPARE(list->TextOfRow(1), QStringLiteral("Physical Drives"));
    QCOMPARE(list->TextOfRow(2), QStringLiteral(" disk0.img"));
    QCOMPARE(list->TextOfRow(3), QStringLiteral(" disk1.img"));
    QVERIFY(list->item(1)->font().bold());
    QCOMPARE(list->drive_row_count(), 1);
    QCOMPARE(list->selection_mark(), 0);
    QVERIFY(!list->physical_disk_selected());

    window.EnterMode(RecoveryMode::kPartitionDisk);
    // Choosing the header moves on to the first disk below it.
    list->setCurrentRow(1);
    QCOMPARE(list->selection_mark(), 2);
    QVERIFY(list->physical_disk_selected());
    QCOMPARE(Edit(window, 1315), QStringLiteral(" disk0.img"));
    QCOMPARE(list->SelectedDisk(fixture->app().devices)->ordinal, 0);
    QVERIFY(list->SelectedVolume(fixture->app().devices) == nullptr);
    list->setCurrentRow(3);
    QCOMPARE(list->SelectedDisk(fixture->app().devices)->ordinal, 1);
    list->setCurrentRow(0);
    QCOMPARE(list->SelectedVolume(fixture->app().devices)->letter, 'E');
    QVERIFY(!list->physical_disk_selected());

    // Each volume and disk shows its size beside its text, which stays as it
    // was.
    QCOMPARE(list->item(2)->toolTip(), QStringLiteral("disk0.img, 153.6 kB"));
    QCOMPARE(SourceSizeText(24'000'000), QStringLiteral("24.0 MB"));
    QCOMPARE(SourceSizeText(1'000'000'000'000), QStringLiteral("1.0 TB"));
    QVERIFY(list->item(1)->toolTip().isEmpty());  // the header has no size
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage drawn = list->viewport()->grab().toImage();
    const QRect disk_row = list->visualItemRect(list->item(2));
    const QRect header_row = list->visualItemRect(list->item(1));
    const int size_width = list->fontMetrics().horizontalAdvance(QStringLiteral("153.6 kB"));
    auto ink = [&](const QRect& row) {
      const QRect tail(row.right() - size_width - 8, row.top(), size_width + 8, row.height());
      int dark = 0;
      for (int y = tail.top(); y <= tail.bottom(); ++y) {
        for (int x = tail.left(); x <= tail.right(); ++x) {
          if (qGray(drawn.pixel(x * drawn.width() / list->viewport()->width(),
                                y * drawn.height() / list->viewport()->height())) < 128) {
            ++dark;
          }
        }
      }
      return dark;
    };
    QVERIFY(ink(disk_row) > 20);
    QCOMPARE(ink(header_row), 0);
  }

  void FileNamesShowWholeOrElidedInTheMiddle() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ResultsList* results = window.results();
    const int start_width = results->columnWidth(0);
    const std::string folder = fixture.RecoveryFolder() + "/";
    const QString copy = QStringLiteral("Family Holiday 2019 at the lake - Copy(1).jpg");
    for (const QString& name : {QStringLiteral("KES_ERVER.PNG"), copy}) {
      results->AddRow({name.toStdString(), "1 KB", folder, folder + name.toStdString(), 100, true,
                       std::nullopt});
    }
    QVERIFY(results->columnWidth(0) > results->fontMetrics().horizontalAdvance(copy));
    QCOMPARE(results->item(1, 0)->toolTip(), copy);

    // A name wider than the list is cut in the middle; the path column keeps
    // some room.
    const QString huge = QString(QStringLiteral("very long name ")).repeated(20) + "end.jpg";
    results->AddRow(
        {huge.toStdString(), "1 KB", folder, folder + huge.toStdString(), 100, true, std::nullopt});
    QVERIFY(results->columnWidth(0) < results->viewport()->width() - results->columnWidth(1));
    QCOMPARE(results->textElideMode(), Qt::ElideMiddle);
    QCOMPARE(results->item(2, 0)->toolTip(), huge);
    results->Clear();
    QCOMPARE(results->columnWidth(0), start_width);
  }

  void TreeOffersDrivesAndTheirFolders() {
    auto fixture = CardAndDisks();
    if (!fixture) QSKIP("mkfs.fat or mtools is not installed");
    CKestrelDlg& window = fixture->OpenWindow();
    SourceTree* tree = window.tree();
    QTreeWidgetItem* root = tree->root();
    QCOMPARE(root->text(0), QStringLiteral("My Computer"));
    QVERIFY(root->font(0).bold());
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 3);
    QCOMPARE(root->child(0)->text(0), QStringLiteral("Desktop"));
    QCOMPARE(root->child(1)->text(0), QStringLiteral("Documents"));
    QTreeWidgetItem* card = tree->DriveItem('E');
    QVERIFY(card != nullptr);
    QCOMPARE(card->text(0), QStringLiteral("Removable Disk (E:)"));
    // The last drive is selected at start, and mode 1 shows its path.
    QCOMPARE(tree->selected_item(), card);
    QCOMPARE(Edit(window, 1315), QStringLiteral("E:/"));
    QCOMPARE(fixture->app().selected_source_text, std::string("E:/"));

    QCOMPARE(card->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    card->setExpanded(true);
    // RECYCLED and System Volume Information are left out.
    QCOMPARE(ChildNames(card), (QStringList{"DCIM", "Music"}));
    QTreeWidgetItem* dcim = ChildNamed(card, "DCIM");
    QCOMPARE(dcim->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QCOMPARE(ChildNamed(card, "Music")->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    dcim->setExpanded(true);
    QCOMPARE(ChildNames(dcim), (QStringList{"100CANON", "Old Trips"}));
    QTreeWidgetItem* trips = ChildNamed(dcim, "Old Trips");
    QCOMPARE(tree->ItemPath(trips), QStringLiteral("E:/DCIM/Old Trips/"));
    const TreeSource source = tree->SourceOf(trips);
    QCOMPARE(source.kind, TreeSource::Kind::kVolumeFolder);
    QCOMPARE(source.volume->letter, 'E');
    QCOMPARE(source.inner_path, std::string("/DCIM/Old Trips"));

    tree->setCurrentItem(trips);
    QCOMPARE(Edit(window, 1315), QStringLiteral("E:/DCIM/Old Trips/"));
    // Collapsing and expanding rebuilds the children and keeps the selection.
    dcim->setExpanded(false);
    dcim->setExpanded(true);
    QCOMPARE(tree->ItemPath(tree->selected_item()), QStringLiteral("E:/DCIM/Old Trips/"));

    // Selecting "My Computer" selects the Desktop folder instead.
    tree->setCurrentItem(root);
    QCOMPARE(tree->selected_item(), root->child(0));
    QCOMPARE(Edit(window, 1315), fixture->Path("home/Desktop") + "/");
  }

  void SwitchingModesKeepsEachSelection() {
    auto fixture = CardAndDisks();
    if (!fixture) QSKIP("mkfs.fat or mtools is not installed");
    CKestrelDlg& window = fixture->OpenWindow();
    QTreeWidgetItem* card = window.tree()->DriveItem('E');
    card->setExpanded(true);
    window.tree()->setCurrentItem(ChildNamed(card, "Music"));

    Control<QRadioButton>(&window, 1305)->click();
    QCOMPARE(fixture->app().recovery_mode, RecoveryMode::kPartitionDisk);
    QVERIFY(window.tree()->isHidden());
    QVERIFY(!window.source_list()->isHidden());
    QCOMPARE(Control<QGroupBox>(&window, 1280)->title().remove('&'),
             QStringLiteral("Select a Partition/Drive"));
    QCOMPARE(Control<QLabel>(&window, 1314)->text(), QStringLiteral("Selected Partition/Drive:"));
    QCOMPARE(Edit(window, 1315), QStringLiteral(" Removable Disk (E:)"));
    window.source_list()->setCurrentRow(3);

    Control<QRadioButton>(&window, 1304)->click();
    QCOMPARE(Control<QGroupBox>(&window, 1280)->title().remove('&'),
             QStringLiteral("Select a folder"));
    QCOMPARE(Control<QLabel>(&window, 1314)->text(), QStringLiteral("Selected Folder:"));
    QCOMPARE(Edit(window, 1315), QStringLiteral("E:/Music/"));
    QCOMPARE(fixture->app().selected_source_text, std::string("E:/Music/"));

    Control<QRadioButton>(&window, 1305)->click();
    QCOMPARE(Edit(window, 1315), QStringLiteral(" disk1.img"));
    QCOMPARE(window.source_list()->selection_mark(), 3);
  }

  void BrowseStoresTheFolderAtOnce() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    const QString before = Edit(window, 1307);
    QCOMPARE(before, fixture.Path("Recover"));

    // Cancelling the browser changes nothing.
    Control<QPushButton>(&window, 1289)->click();
    QCOMPARE(fixture.host.folder_questions, 1);
    QCOMPARE(Edit(window, 1307), before);
    QCOMPARE(fixture.app().settings.GetString("Default Folder"),
             std::optional<std::string>(before.toStdString()));

    const QString chosen = fixture.Path("Saved");
    fixture.host.folders.push_back(chosen);
    Control<QPushButton>(&window, 1289)->click();
    QCOMPARE(Edit(window, 1307), chosen);
    // Stored before any run, where another process reads it too.
    QCOMPARE(SettingsStore(fixture.PathStd("registry.reg")).GetString("Default Folder"),
             std::optional<std::string>(chosen.toStdString()));
    BrowseRefusesFoldersThatCannotBeWritten(fixture, window);
  }

  void FirstStartCreatesTheSettings() {
    WindowFixture fixture(/*clean_settings=*/true);
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    SettingsStore store(fixture.PathStd("registry.reg"));
    QVERIFY(!store.KeyExists());
    CKestrelDlg& window = fixture.OpenWindow();
    QVERIFY(store.KeyExists());
    QCOMPARE(store.GetByte("Scan File"), std::optional<uint8_t>(1));
    QVERIFY(!store.GetString("Default Folder").has_value());
    QCOMPARE(Edit(window, 1307), QString::fromStdString(DefaultRecoveryFolder()));
    QVERIFY(Control<QLineEdit>(&window, 1307)->isReadOnly());
  }

  void StoredScanFileIsKept() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    SettingsStore(fixture.PathStd("registry.reg")).SetByte("Scan File", 0);
    fixture.OpenWindow();
    QCOMPARE(SettingsStore(fixture.PathStd("registry.reg")).GetByte("Scan File"),
             std::optional<uint8_t>(0));
  }

  void HelpOpensTheManualOrSaysWhyNot() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    const QString saved = QDir::currentPath();
    QDir::setCurrent(fixture.Path(""));
    if (FindUserManual().isEmpty()) {
      window.OpenHelp();
      QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kManualMissing});
      QCOMPARE(fixture.host.messages.back().icon, MessageIcon::kStop);
      QVERIFY(fixture.host.opened.empty());
    }
    QFile manual(fixture.Path("KESUSMAN.PDF"));
    QVERIFY(manual.open(QIODevice::WriteOnly));
    manual.write("%PDF-1.4\n");
    manual.close();
    fixture.host.messages.clear();
    window.OpenHelp();
    QVERIFY(fixture.host.messages.empty());
    QCOMPARE(fixture.host.opened.back(), QUrl::fromLocalFile(fixture.Path("KESUSMAN.PDF")));
    // The desktop cannot open it: message 130.
    fixture.host.open_succeeds = false;
    window.OpenHelp();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kManualMissing});
    QDir::setCurrent(saved);
  }

  void AboutBoxOpensItsPages() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    QString caption;
    QString build;
    fixture.host.on_modal = [&](QDialog& dialog) {
      caption = dialog.windowTitle();
      auto* about = qobject_cast<CAboutDlg*>(&dialog);
      if (about == nullptr) return 0;
      build = Control<QLabel>(about, 1025)->text();
      emit about->support_link()->clicked();
      emit about->vendor_link()->clicked();
      emit about->vendor_link()->hovered(true);
      if (!about->vendor_link()->font().underline()) return -1;
      return 1;
    };
    emit Control<ClickLabel>(&window, 1300)->clicked();
    QCOMPARE(fixture.host.modal_runs, 1);
    QCOMPARE(caption, QStringLiteral("About Quillmark Kestrel V3"));
    QCOMPARE(build, QStringLiteral("Build 05"));
    QCOMPARE(fixture.host.opened.size(), size_t{2});
    QCOMPARE(fixture.host.opened[0], QUrl(SupportPageUrl()));
    QCOMPARE(fixture.host.opened[1], QUrl(VendorPageUrl()));

    // A real click: the picture keeps the press, so the release reaches it too.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(Control<ClickLabel>(&window, 1300), Qt::LeftButton);
    QCOMPARE(fixture.host.modal_runs, 2);
  }

  void HoverUnderlinesTheLabels() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    emit Control<ClickLabel>(&window, 1300)->hovered(true);
    QVERIFY(Control<QLabel>(&window, 1306)->font().underline());
    emit Control<ClickLabel>(&window, 1300)->hovered(false);
    QVERIFY(!Control<QLabel>(&window, 1306)->font().underline());
    emit Control<ClickLabel>(&window, 1303)->hovered(true);
    QVERIFY(Control<QLabel>(&window, 1311)->font().underline());
    emit Control<ClickLabel>(&window, 1303)->hovered(false);
    QVERIFY(!Control<QLabel>(&window, 1311)->font().underline());
  }

  void PreviewShowsTheSelectedRowOnce() {
    WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    ResultsList* results = window.results();
    ResultRow picture;
    picture.name = "photo.backup.PNG";
    picture.full_path = testing::FixtureSamplesDir() + "/picture.png";
    picture.folder_text = "/somewhere/";
    picture.size_text = "6 KB";
    results->AddRow(picture);
    ResultRow lost = picture;
    lost.name = "KES00002.PNG";
    lost.created = false;
    lost.folder_text = std::string(MessageText(msg::kInvalidRecoveryPath));
    results->AddRow(lost);
    QCOMPARE(results->item(0, 1)->text(), QStringLiteral("6 KB"));
    QCOMPARE(results->item(1, 2)->text(), AppText(msg::kInvalidRecoveryPath));

    results->selectRow(0);
    QVERIFY(!window.thumbnail()->isHidden());
    QCOMPARE(window.thumbnail()->drawn_count(), 1);
    QVERIFY(window.thumbnail()->CurrentPicture() != PlaceholderPicture());
    QCOMPARE(window.thumbnail()->count(), 1);
    results->clearSelection();
    results->selectRow(0);
    QCOMPARE(window.thumbnail()->drawn_count(), 1);  // the same row draws nothing again
    results->selectRow(1);
    QCOMPARE(window.thumbnail()->drawn_count(), 2);
    QCOMPARE(window.thumbnail()->CurrentPicture(), PlaceholderPicture());
    QCOMPARE(window.thumbnail()->count(), 1);
  }
};

KESTREL_APP_TEST_GROUP(WindowTest, "window");

}  // namespace kestrel

#include "window_test.moc"
