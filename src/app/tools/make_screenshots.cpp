// kestrel-screenshots DIR: renders the window's screenshots into DIR (PNG files): the main window
// in both modes, the file type dialog, a finished raw scan with its results and a thumbnail, the
// read-error dialog and the About box; the offer after message 108, the window with a disk
// image just attached, and the window under a dark palette. Run it with QT_QPA_PLATFORM=offscreen;
// it attaches its own sample images through a device map in a temporary folder and touches no real
// device.

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/about_dlg.h"
#include "app/app_state.h"
#include "app/app_texts.h"
#include "app/dialog_host.h"
#include "app/kestrel_dlg.h"
#include "app/options_dlg.h"
#include "app/results_view.h"
#include "app/source_list.h"
#include "app/source_tree.h"
#include "app/window_style.h"
#include "platform/testing/source_doubles.h"
#include "sources/drive_enumeration.h"
#include "sources/scan_source.h"

#ifndef KESTREL_SAMPLES_DIR
#define KESTREL_SAMPLES_DIR "tests/fixtures/samples"
#endif

namespace kestrel {
namespace {

// Answers every box with OK (or No) and opens nothing: the screenshots run unattended.
class QuietHost : public DialogHost {
 public:
  MessageAnswer ShowMessage(QWidget*, int message_id, MessageIcon, const QString&,
                            MessageButtons buttons) override {
    std::printf("message %d\n", message_id);
    return buttons == MessageButtons::kYesNo ? MessageAnswer::kNo : MessageAnswer::kOk;
  }
  int RunModal(QDialog& dialog) override { return on_modal ? on_modal(dialog) : 0; }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
  QString ChooseFile(QWidget*, const QString&, const QString&) override { return {}; }
  int AskChoice(QWidget*, const QString&, const QStringList&) override { return -1; }
  bool OpenUrl(const QUrl&) override { return false; }

  std::function<int(QDialog&)> on_modal;
};

// A dialog as the desktop would show it: a caption bar and a shadow around its grab.
QImage Framed(QWidget& dialog) {
  dialog.show();
  QApplication::processEvents();
  const QPixmap body = dialog.grab();
  constexpr int kCaption = 26;
  constexpr int kShadow = 6;
  QImage framed(body.width() + 2 + kShadow, body.height() + kCaption + 2 + kShadow,
                QImage::Format_ARGB32_Premultiplied);
  framed.fill(Qt::transparent);
  QPainter painter(&framed);
  painter.fillRect(QRect(kShadow, kShadow, body.width() + 2, body.height() + kCaption + 2),
                   QColor(0, 0, 0, 60));
  painter.fillRect(QRect(0, 0, body.width() + 2, kCaption + 1), QColor(45, 70, 110));
  painter.setPen(Qt::white);
  QFont caption = dialog.font();
  caption.setBold(true);
  painter.setFont(caption);
  painter.drawText(QRect(10, 0, body.width() - 20, kCaption), Qt::AlignVCenter | Qt::AlignLeft,
                   dialog.windowTitle());
  painter.drawPixmap(1, kCaption + 1, body);
  painter.setPen(QColor(45, 70, 110));
  painter.drawRect(QRect(0, 0, body.width() + 1, body.height() + kCaption + 1));
  return framed;
}

// `dialog` framed over the centre of `window`, as during a run.
QImage OverWindow(QWidget& window, QWidget& dialog) {
  QImage scene = window.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QImage framed = Framed(dialog);
  QPainter painter(&scene);
  painter.drawImage((scene.width() - framed.width()) / 2, (scene.height() - framed.height()) / 2,
                    framed);
  return scene;
}

bool Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, arguments);
  return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// A raw image of the project's sample files, each at a sector boundary with zeros between.
bool WriteSampleDisk(const QString& path) {
  const QStringList samples = {"jfif.jpg", "picture.png",  "picture.gif", "picture.bmp",
                               "icon.ico", "document.pdf", "tone.wav",    "song.mid",
                               "exif.jpg", "document.rtf"};
  QByteArray image(8 * 512, '\0');
  for (const QString& name : samples) {
    QFile sample(QStringLiteral(KESTREL_SAMPLES_DIR "/") + name);
    if (!sample.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "kestrel-screenshots: missing sample %s\n", qPrintable(name));
      return false;
    }
    image += sample.readAll();
    image += QByteArray((512 - image.size() % 512) % 512 + 8 * 512, '\0');
  }
  image += QByteArray(80 * 512, '\0');
  QFile out(path);
  return out.open(QIODevice::WriteOnly) && out.write(image) == image.size();
}

// A FAT16 memory card with a few folders (made with mkfs.fat and mtools when they are there).
void WriteCardImage(const QString& path) {
  if (!Run(QStringLiteral("mkfs.fat"),
           {QStringLiteral("-C"), QStringLiteral("-F"), QStringLiteral("16"), QStringLiteral("-n"),
            QStringLiteral("CAMERA"), path, QStringLiteral("20480")})) {
    std::fprintf(stderr, "kestrel-screenshots: mkfs.fat failed; the tree shows no folders\n");
    return;
  }
  qputenv("MTOOLS_SKIP_CHECK", "1");
  for (const char* folder : {"::DCIM", "::DCIM/100CANON", "::DCIM/101CANON", "::MISC"}) {
    Run(QStringLiteral("mmd"), {QStringLiteral("-i"), path, QString::fromLatin1(folder)});
  }
}

// A disk image with an MBR of two FAT16 partitions (sfdisk and mkfs.fat), else the sample disk.
void WritePartitionedImage(const QString& path) {
  const QString command =
      QStringLiteral(
          "truncate -s 64M '%1' && printf 'label: dos\\nstart=2048, size=61440, type=6\\n"
          "start=63488, size=61440, type=6\\n' | sfdisk -q '%1' && mkfs.fat -F 16 -n HOLIDAY "
          "--offset 2048 '%1' 30720 && mkfs.fat -F 16 -n SCANS --offset 63488 '%1' 30720")
          .arg(path);
  if (!Run(QStringLiteral("sh"), {QStringLiteral("-c"), command + QStringLiteral(" >/dev/null")})) {
    WriteSampleDisk(path);
  }
}

bool SaveImage(const QImage& image, const QString& path) {
  const bool saved = image.save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  return saved;
}

bool Save(QWidget& widget, const QString& path) {
  widget.show();
  QApplication::processEvents();
  const bool saved = widget.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
  return saved;
}

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& name) {
  for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == name) return parent->child(i);
  }
  return nullptr;
}

int SelectRowNamed(ResultsList& results, const QString& suffix) {
  for (int row = 0; row < results.rowCount(); ++row) {
    if (results.FileOfRow(row).name.endsWith(suffix)) {
      results.selectRow(row);
      return row;
    }
  }
  return -1;
}

int MakeScreenshots(const QString& out_dir) {
  QTemporaryDir work(QDir::tempPath() + QStringLiteral("/kestrel-screenshots-XXXXXX"));
  if (!work.isValid() || !QDir().mkpath(out_dir)) return 1;
  const QString root = work.path();
  QDir().mkpath(root + "/home/Desktop/Trips");
  QDir().mkpath(root + "/home/Documents");
  QDir().mkpath(root + "/Recover");
  if (!WriteSampleDisk(root + "/sdcard.img")) return 1;
  WriteCardImage(root + "/card.img");
  QFile map(root + "/devices.conf");
  if (!map.open(QIODevice::WriteOnly)) return 1;
  map.write("E: card.img removable\ndisk sdcard.img removable\n");
  map.close();
  qputenv("KESTREL_DEVICES", (root + "/devices.conf").toLocal8Bit());
  qputenv("KESTREL_NO_DEVICES", "1");
  qputenv("KESTREL_REGISTRY", (root + "/registry.reg").toLocal8Bit());

  QuietHost host;
  AppState app(EnumerateDevices(), qEnvironmentVariable("KESTREL_REGISTRY").toStdString(), host);
  app.settings.SetString("Default Folder", (root + "/Recover").toStdString());
  SpecialFolders specials{(root + "/home/Desktop").toStdString(),
                          (root + "/home/Documents").toStdString()};
  CKestrelDlg window(app, specials);
  bool ok = true;

  // Mode 1 with a folder of the card selected.
  QTreeWidgetItem* card = window.tree()->DriveItem('E');
  if (card != nullptr) {
    card->setExpanded(true);
    QTreeWidgetItem* dcim = ChildNamed(card, QStringLiteral("DCIM"));
    if (dcim != nullptr) {
      dcim->setExpanded(true);
      QTreeWidgetItem* pictures = ChildNamed(dcim, QStringLiteral("100CANON"));
      window.tree()->setCurrentItem(pictures != nullptr ? pictures : dcim);
    }
  }
  ok = Save(window, out_dir + "/main-deleted-files.png") && ok;

  // Mode 2 with the disk image selected.
  window.EnterMode(RecoveryMode::kPartitionDisk);
  window.source_list()->setCurrentRow(window.source_list()->header_row() + 1);
  ok = Save(window, out_dir + "/main-partition-disk.png") && ok;

  COptionsDlg options(app.settings, app.types, host, &window);
  const QString options_path = out_dir + "/file-types.png";
  const bool options_saved = Framed(options).save(options_path);
  std::printf("%s %s\n", options_saved ? "wrote" : "FAILED", qPrintable(options_path));
  ok = options_saved && ok;
  // "Scan for all files": the type list is disabled, and drawn so.
  options.findChild<QRadioButton*>(QStringLiteral("ctl1245"))->click();
  ok = SaveImage(Framed(options), out_dir + "/file-types-scan-all.png") && ok;
  options.hide();

  // A scan of the disk image whose last chunk cannot be read: the read-error dialog over the
  // running window, answered Ignore All; then the finished run with the first JPEG previewed.
  const uint64_t sectors = static_cast<uint64_t>(QFileInfo(root + "/sdcard.img").size() / 512);
  window.SetSourceWrapper([sectors](std::unique_ptr<ByteSource> inner) {
    auto faulty = std::make_unique<FaultInjectingSource>(std::move(inner));
    faulty->FailSectors(sectors - 40, 8);
    return std::unique_ptr<ByteSource>(std::move(faulty));
  });
  host.on_modal = [&](QDialog& dialog) {
    const QString path = out_dir + "/read-error.png";
    const bool saved = OverWindow(window, dialog).save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    ok = saved && ok;
    dialog.findChild<QPushButton*>(QStringLiteral("ctl3"))->click();
    return dialog.result();
  };
  window.page()->StartRun();
  host.on_modal = nullptr;
  SelectRowNamed(*window.results(), QStringLiteral(".JPG"));
  ok = Save(window, out_dir + "/finished-run.png") && ok;

  CAboutDlg about(host, &window);
  const QString about_path = out_dir + "/about.png";
  const bool about_saved = Framed(about).save(about_path);
  std::printf("%s %s\n", about_saved ? "wrote" : "FAILED", qPrintable(about_path));
  ok = about_saved && ok;
  about.hide();

  // The offer that follows message 108 when nothing can be read.
  std::unique_ptr<QMessageBox> offer =
      MakeChoiceBox(nullptr, AppText(apptext::kNoSourceOffer), NoSourceChoices());
  ok = SaveImage(Framed(*offer), out_dir + "/no-device-offer.png") && ok;
  offer->hide();
  // The offer when the machine's disks exist but may not be read: it names them.
  std::unique_ptr<QMessageBox> unreadable = MakeChoiceBox(
      nullptr, AppText(apptext::kDisksUnreadableOffer, QStringLiteral("/dev/sda, /dev/nvme0n1")),
      NoSourceChoices());
  ok = SaveImage(Framed(*unreadable), out_dir + "/disks-unreadable-offer.png") && ok;
  unreadable->hide();

  // A partitioned disk image attached through "Open Disk Image...": its partitions are drives.
  WritePartitionedImage(root + "/holiday.img");
  window.results()->Clear();
  window.EnterMode(RecoveryMode::kDeletedFiles);
  window.AttachImagePath(root + "/holiday.img");
  ok = Save(window, out_dir + "/attached-image.png") && ok;
  window.hide();

  // The same window under a dark palette.
  QApplication::setPalette(DarkPalette());
  CKestrelDlg dark(app, specials);
  ok = Save(dark, out_dir + "/dark-palette.png") && ok;
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace kestrel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrel-screenshots DIR\n");
    return 2;
  }
  return kestrel::MakeScreenshots(QString::fromLocal8Bit(argv[1]));
}
