// kestrel-screenshots DIR: renders the window's screenshots into DIR (PNG files): the main window
// in both modes, the file type dialog, a finished raw scan with its results and a thumbnail, the
// read-error dialog and the About box. Run it with QT_QPA_PLATFORM=offscreen; it attaches its own
// sample images through a device map in a temporary folder and touches no real device.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/about_dlg.h"
#include "app/app_state.h"
#include "app/app_texts.h"
#include "app/dialog_host.h"
#include "app/kestrel_dlg.h"
#include "app/options_dlg.h"
#include "app/results_view.h"
#include "app/retry_dlg.h"
#include "app/source_list.h"
#include "app/source_tree.h"
#include "disk/drive_enumeration.h"
#include "run/messages.h"

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
  int RunModal(QDialog&) override { return 0; }
  QString ChooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
  bool OpenUrl(const QUrl&) override { return false; }
};

bool Run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, arguments);
  return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
         process.exitCode() == 0;
}

// A raw image of the project's sample files, each at a sector boundary with zeros between.
bool WriteSampleDisk(const QString& path) {
  const QStringList samples = {"jfif.jpg",   "picture.png", "picture.gif", "picture.bmp",
                               "icon.ico",   "document.pdf", "tone.wav",   "song.mid",
                               "exif.jpg",   "document.rtf"};
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
  ok = Save(options, out_dir + "/file-types.png") && ok;
  options.hide();

  // A finished scan of the disk image, with the first JPEG previewed.
  window.page()->StartRun();
  SelectRowNamed(*window.results(), QStringLiteral(".JPG"));
  ok = Save(window, out_dir + "/finished-run.png") && ok;

  CRetryDlg retry(&window);
  retry.SetText(AppText(msg::kReadErrorText));
  ok = Save(retry, out_dir + "/read-error.png") && ok;
  retry.hide();

  CAboutDlg about(host, &window);
  ok = Save(about, out_dir + "/about.png") && ok;
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
