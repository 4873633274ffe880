// The window on a Linux desktop: images attached from the command line, the file browser or a
// drop; the offer after message 108; device-map problems shown once; the running window raised
// by a second start; Help without a PDF program; recovered files opened and sorted; readable
// texts under light and dark palettes.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <QApplication>
#include <QCryptographicHash>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/app_texts.h"
#include "app/disk_access.h"
#include "app/image_attach.h"
#include "app/instance_channel.h"
#include "app/kestrel_app.h"
#include "app/options_dlg.h"
#include "app/results_view.h"
#include "app/source_list.h"
#include "app/user_manual.h"
#include "app/window_style.h"
#include "platform/ewf_image.h"
#include "run/messages.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

// A 64 MiB disk image with an MBR of two FAT16 partitions, "ONE" and "TWO".
bool WriteTwoPartitionDisk(const std::string& path) {
  const std::string command =
      "truncate -s 64M '" + path +
      "' && printf 'label: dos\\nstart=2048, size=61440, type=6\\nstart=63488, size=61440, "
      "type=6\\n' | sfdisk -q '" +
      path + "' && mkfs.fat -F 16 -n ONE --offset 2048 '" + path +
      "' 30720 >/dev/null 2>&1 && mkfs.fat -F 16 -n TWO --offset 63488 '" + path +
      "' 30720 >/dev/null 2>&1";
  return testing::RunCommand(command) == 0;
}

QByteArray Digest(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

void Drop(QWidget& window, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  static_cast<QObject&>(window).event(&drop);
}

QStringList ListRows(const SourceList& list) {
  QStringList rows;
  for (int row = 0; row < list.count(); ++row) rows << list.item(row)->text();
  return rows;
}

// The window texts' colours as drawn: the most common colour of a control's picture is its
// background, the colour that differs most from it is its text.
double DrawnContrast(QWidget* control) {
  const QImage picture = control->grab().toImage();
  QHash<QRgb, int> counts;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) ++counts[picture.pixel(x, y)];
  }
  QRgb background = 0;
  int most = -1;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    if (it.value() > most) {
      most = it.value();
      background = it.key();
    }
  }
  double best = 1;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
    best = std::max(best, ContrastRatio(QColor(it.key()), QColor(background)));
  }
  return best;
}

// Every enabled text of `window` with its drawn contrast below 4.5, as "name: ratio".
QStringList UnreadableTexts(QWidget& window) {
  QStringList unreadable;
  QList<QWidget*> controls;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) controls << label;
  }
  for (QRadioButton* radio : window.findChildren<QRadioButton*>()) controls << radio;
  for (QWidget* control : controls) {
    if (!control->isVisible() || !control->isEnabled() || control->width() < 4) continue;
    const double ratio = DrawnContrast(control);
    if (ratio < 4.5) unreadable << QStringLiteral("%1: %2").arg(control->objectName()).arg(ratio);
  }
  return unreadable;
}

// Help's desktop path with the real host's handler lookup.
class DesktopLookupHost : public testing::ScriptedHost {
 public:
  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url);
    return url.isLocalFile() && DesktopHasHandlerFor(url.toLocalFile()) && open_succeeds;
  }
};

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (testing::RunCommand("command -v sfdisk && command -v mkfs.fat >/dev/null") != 0) {
      QSKIP("sfdisk and mkfs.fat are needed");
    }
  }

  void CommandLineImageBecomesADiskWithLetteredPartitions() {
    testing::WindowFixture fixture;
    const std::string disk = fixture.PathStd("card.img");
    QVERIFY(WriteTwoPartitionDisk(disk));
    DeviceMap map;
    QCOMPARE(AttachImage(&map, disk), std::string());
    QCOMPARE(map.disks.size(), size_t{1});
    QCOMPARE(map.disks[0].volume_letters, std::string("CD"));
    QCOMPARE(map.volumes[0].label, std::string("ONE"));
    QCOMPARE(map.volumes[1].label, std::string("TWO"));
    // Attaching the same image again adds nothing.
    QVERIFY(AttachImage(&map, disk).find("attached already") != std::string::npos);
    QCOMPARE(map.disks.size(), size_t{1});

    // The program's start-up attaches the arguments beside the device map's own entries.
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    fixture.OpenWindow();
    QtStartupEnvironment environment(fixture.host, ImageArguments({fixture.Path("card.img")}));
    DeviceMap started = environment.Enumerate();
    QVERIFY(environment.AttachImages(&started).empty());
    QCOMPARE(EnumerateVolumes(started), std::string("CDF"));
    QCOMPARE(started.disks.back().model, std::string("card.img"));
  }

  // Split and EWF images of the disk attach as the disk itself; a split image missing a middle
  // segment is refused, the warning naming the segment.
  void EvidenceContainersAttachAsTheirDisk() {
    testing::WindowFixture fixture;
    const std::string disk = fixture.PathStd("card.img");
    QVERIFY(WriteTwoPartitionDisk(disk));
    const std::string split = fixture.PathStd("card.");
    QCOMPARE(testing::RunCommand("split -b 16M -d -a 3 --numeric-suffixes=1 '" + disk + "' '" +
                                 split + "'"),
             0);
    std::vector<std::string> containers{split + "001"};
    if (EwfSupported() && testing::HaveTool("ewfacquire")) {
      QCOMPARE(testing::RunCommand("ewfacquire -u -q -t '" + fixture.PathStd("case") +
                                   "' -f encase6 -c deflate:fast '" + disk + "' >/dev/null 2>&1"),
               0);
      containers.push_back(fixture.PathStd("case.E01"));
    }
    DeviceMap map;
    for (const std::string& container : containers) {
      QCOMPARE(AttachImage(&map, container), std::string());
      QCOMPARE(map.disks.back().sector_count, uint64_t{64 << 11});
    }
    QCOMPARE(EnumerateVolumes(map), std::string("CDEF").substr(0, 2 * containers.size()));
    for (const VolumeEntry& volume : map.volumes) {
      QCOMPARE(volume.label, std::string(volume.letter % 2 == 1 ? "ONE" : "TWO"));
      QCOMPARE(volume.fs_name, std::string("FAT16"));
    }

    std::filesystem::remove(split + "002");
    DeviceMap broken;
    QVERIFY(!AttachImage(&broken, split + "001").empty());
    QCOMPARE(broken.warnings.size(), size_t{1});
    QVERIFY(broken.warnings[0].find(split + "002 of the split image is missing") !=
            std::string::npos);
  }

  void DroppedImageAppearsWithItsPartitions() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    QVERIFY(WriteTwoPartitionDisk(fixture.PathStd("card.img")));
    CKestrelDlg& window = fixture.OpenWindow();
    const QByteArray before = Digest(fixture.Path("card.img"));
    Drop(window, {QUrl::fromLocalFile(fixture.Path("card.img"))});
    QVERIFY(fixture.host.messages.empty());
    QVERIFY(window.tree()->DriveItem('C') != nullptr);
    QVERIFY(window.tree()->DriveItem('D') != nullptr);
    QVERIFY(ListRows(*window.source_list()).contains(QStringLiteral(" card.img")));
    // The new disk is selected in both controls.
    QCOMPARE(window.tree()->selected_item(), window.tree()->DriveItem('C'));
    window.EnterMode(RecoveryMode::kPartitionDisk);
    QVERIFY(window.source_list()->physical_disk_selected());
    QCOMPARE(Digest(fixture.Path("card.img")), before);  // nothing written to the source
  }

  void BadDropsAreRefusedAndTheWindowStaysUsable() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    const QStringList rows = ListRows(*window.source_list());

    Drop(window, {QUrl::fromLocalFile(fixture.Path("home"))});
    QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kAttachRefused});
    QVERIFY(fixture.host.messages.back().text.contains(QStringLiteral("is a folder")));

    QFile::link(fixture.Path("gone.img"), fixture.Path("dangling.img"));
    QVERIFY(!window.AttachImagePath(fixture.Path("dangling.img")));
    QVERIFY(fixture.host.messages.back().text.contains(QStringLiteral("No such file")));

    QVERIFY(mkfifo(fixture.PathStd("pipe").c_str(), 0600) == 0);
    QVERIFY(!window.AttachImagePath(fixture.Path("pipe")));
    QVERIFY(fixture.host.messages.back().text.contains(QStringLiteral("neither")));

    testing::WriteEmptyImage(fixture.PathStd("locked.img"));
    chmod(fixture.PathStd("locked.img").c_str(), 0);
    if (geteuid() != 0) {
      QVERIFY(!window.AttachImagePath(fixture.Path("locked.img")));
      QVERIFY(fixture.host.messages.back().text.contains(QStringLiteral("cannot be read")));
    }
    QCOMPARE(ListRows(*window.source_list()).mid(0, rows.size()), rows);
    QVERIFY(window.tree()->DriveItem('F') != nullptr);
  }

  void ImageThatVanishesAfterAttachingEndsItsRunWith57519() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    testing::WriteSampleImage(fixture.PathStd("card.img"));
    CKestrelDlg& window = fixture.OpenWindow();
    QVERIFY(window.AttachImagePath(fixture.Path("card.img")));
    window.EnterMode(RecoveryMode::kPartitionDisk);
    QVERIFY(window.source_list()->physical_disk_selected());
    QVERIFY(QFile::remove(fixture.Path("card.img")));
    window.page()->StartRun();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kCannotReadDevice});
    QVERIFY(!window.RunInProgress());
    QVERIFY(testing::Control<QWidget>(&window, 1304)->isEnabled());
  }

  void DeviceMapProblemsAreShownOnce() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    fixture.AttachVolume('G', "missing.img");
    {
      QFile map(fixture.Path("devices.conf"));
      QVERIFY(map.open(QIODevice::WriteOnly));
    }
    CKestrelDlg& window = fixture.OpenWindow();
    QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kDeviceMapProblems});
    const QString text = fixture.host.messages.back().text;
    QVERIFY(text.contains(QStringLiteral("devices.conf:2:")));
    QVERIFY(text.contains(QStringLiteral("missing.img")));
    // Attaching later shows nothing of the map again.
    testing::WriteSampleImage(fixture.PathStd("card.img"));
    QVERIFY(window.AttachImagePath(fixture.Path("card.img")));
    QCOMPARE(fixture.host.Count(apptext::kDeviceMapProblems), 1);

    // A malformed line is named by its number too.
    testing::WindowFixture broken;
    testing::WriteEmptyImage(broken.PathStd("blank.img"));
    broken.AttachVolume('F', "blank.img");
    broken.AttachDisk("");
    broken.OpenWindow();
    QCOMPARE(broken.host.Count(apptext::kDeviceMapProblems), 1);
    QVERIFY(broken.host.messages.back().text.contains(QStringLiteral("devices.conf:2")));
  }

  void NoDeviceShows108AndOffersAnImage() {
    testing::WindowFixture fixture;
    QVERIFY(WriteTwoPartitionDisk(fixture.PathStd("card.img")));
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    {
      QFile map(fixture.Path("devices.conf"));
      QVERIFY(map.open(QIODevice::WriteOnly));
    }
    // First a folder (refused, asked again), then the image.
    fixture.host.choices = {0, 0};
    fixture.host.files = {fixture.Path("home"), fixture.Path("card.img")};
    StartupResult started;
    {
      QtStartupEnvironment environment(fixture.host);
      started = RunStartupChecks(environment);
    }
    QCOMPARE(started.end, StartupEnd::kRunWindow);
    QCOMPARE(EnumerateVolumes(started.devices), std::string("CD"));
    QCOMPARE(fixture.host.Ids(), (std::vector<int>{msg::kNoDevice, apptext::kAttachRefused}));
    QCOMPARE(fixture.host.choice_texts.size(), 2);
    QCOMPARE(fixture.host.choice_texts.front(), AppText(apptext::kNoSourceOffer));

    // Closing the offer ends the start-up as before.
    fixture.host.messages.clear();
    QtStartupEnvironment closed(fixture.host);
    QCOMPARE(RunStartupChecks(closed).end, StartupEnd::kRefused);
    QCOMPARE(fixture.host.Ids(), std::vector<int>{msg::kNoDevice});
    qunsetenv("XDG_RUNTIME_DIR");
  }

  void BadCommandLineImagesAreNamedBeforeAnythingElse() {
    testing::WindowFixture fixture;
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    {
      QFile map(fixture.Path("devices.conf"));
      QVERIFY(map.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir().mkpath(fixture.Path("folder.img")));
    testing::WriteEmptyImage(fixture.PathStd("tiny.img"), 0);
    QtStartupEnvironment environment(
        fixture.host, ImageArguments({fixture.Path("folder.img"), fixture.Path("tiny.img")}));
    QCOMPARE(RunStartupChecks(environment).end, StartupEnd::kRefused);
    QCOMPARE(fixture.host.Ids(), (std::vector<int>{apptext::kImagesNotAttached, msg::kNoDevice}));
    const QString named = fixture.host.messages[0].text;
    QVERIFY2(named.contains(fixture.Path("folder.img")) && named.contains(fixture.Path("tiny.img")),
             qPrintable(named));
    // The offer after 108 does not claim that no image was given.
    QCOMPARE(fixture.host.choice_texts.size(), 1);
    QVERIFY(!fixture.host.choice_texts[0].contains(QStringLiteral("was given")));
    qunsetenv("XDG_RUNTIME_DIR");
  }

  void DiskAccessWaitsForTheNewWindowOrSaysWhy() {
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    auto launcher = [&](const QString& name, const QByteArray& body) {
      const QString path = runtime.filePath(name);
      QFile script(path);
      script.open(QIODevice::WriteOnly);
      script.write("#!/bin/sh\necho \"$@\" > \"" + runtime.filePath(name + ".args").toUtf8() +
                   "\"\n" + body + "\n");
      script.close();
      script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
      return path;
    };
    QString why;
    QVERIFY(!RestartWithDiskAccess({"/x/card.img"}, &why, launcher("cancel", "exit 126")));
    QCOMPARE(why, QStringLiteral("the password prompt was cancelled"));
    QFile arguments(runtime.filePath("cancel.args"));
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QCOMPARE(arguments.readAll().trimmed(),
             (TakeOverArgument(InstanceSocketName()) + " /x/card.img").toUtf8());
    QVERIFY(!RestartWithDiskAccess({}, &why, launcher("refused", "exit 127")));
    QVERIFY(why.contains(QStringLiteral("pkexec is not installed")) ||
            why.contains(QStringLiteral("did not authorise")));
    QVERIFY(!RestartWithDiskAccess({}, &why, launcher("quiet", "exit 0")));
    QVERIFY(why.contains(QStringLiteral("without opening its window")));
    QVERIFY(!RestartWithDiskAccess({}, &why, QString()));
    QCOMPARE(why, QStringLiteral("kestrel-disk-access is not installed"));

    // The new window reports on this instance's socket while its launcher still runs.
    QTimer::singleShot(200, [] { SendTakenOver(InstanceSocketName()); });
    QVERIFY(RestartWithDiskAccess({}, &why, launcher("taker", "sleep 2")));

    // At start-up, a failed restart is explained and the offer comes again.
    if (DiskAccessLauncher().isEmpty()) {
      testing::ScriptedHost host;
      host.choices = {1, 2};
      QtStartupEnvironment environment(host);
      DeviceMap map;
      QCOMPARE(environment.OfferWithoutSource(&map), NoSourceChoice::kQuit);
      QCOMPARE(host.Ids(), std::vector<int>{apptext::kDiskAccessFailed});
      QVERIFY(host.messages[0].text.contains(QStringLiteral("not installed")));
      QCOMPARE(host.choice_texts.size(), 2);
    }
    qunsetenv("XDG_RUNTIME_DIR");
  }

  void SecondStartRaisesTheRunningWindow() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    testing::WriteSampleImage(fixture.PathStd("card.img"));
    CKestrelDlg& window = fixture.OpenWindow();
    const QString name = fixture.Path("door.socket");
    InstanceServer door(name);
    QVERIFY(door.listening());
    QObject::connect(&door, &InstanceServer::Requested, &window, &CKestrelDlg::BringToFront);
    window.showMinimized();
    QVERIFY(SendToRunningInstance(name, {fixture.Path("card.img")}));
    QTRY_VERIFY(ListRows(*window.source_list()).contains(QStringLiteral(" card.img")));
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QTRY_COMPARE(QApplication::activeWindow(), &window);
    // Nobody listens: the second start is told so.
    QVERIFY(!SendToRunningInstance(fixture.Path("nobody.socket"), {}));
  }

  void HelpWithoutAPdfProgramShows130() {
    QTemporaryDir tools;
    QFile xdg_mime(tools.filePath(QStringLiteral("xdg-mime")));
    QVERIFY(xdg_mime.open(QIODevice::WriteOnly));
    xdg_mime.write("#!/bin/sh\nexit 0\n");
    xdg_mime.close();
    xdg_mime.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", tools.path().toLocal8Bit() + ":" + path);

    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    fixture.OpenWindow();  // writes the device map
    DesktopLookupHost desktop;
    AppState app(EnumerateDevices(), fixture.PathStd("registry.reg"), desktop);
    CKestrelDlg window(
        app, SpecialFolders{fixture.PathStd("home/Desktop"), fixture.PathStd("home/Documents")});
    const QString saved = QDir::currentPath();
    QDir::setCurrent(fixture.Path(""));
    QFile manual(fixture.Path("KESUSMAN.PDF"));
    QVERIFY(manual.open(QIODevice::WriteOnly));
    manual.write("%PDF-1.4\n");
    manual.close();
    QVERIFY(!DesktopHasHandlerFor(fixture.Path("KESUSMAN.PDF")));
    window.OpenHelp();
    QCOMPARE(desktop.Ids(), std::vector<int>{apptext::kManualMissing});

    // A desktop that names a program is trusted.
    QVERIFY(xdg_mime.open(QIODevice::WriteOnly));
    xdg_mime.write("#!/bin/sh\necho okular.desktop\n");
    xdg_mime.close();
    QVERIFY(DesktopHasHandlerFor(fixture.Path("KESUSMAN.PDF")));
    QDir::setCurrent(saved);
    qputenv("PATH", path);
  }

  void RecoveredFilesOpenAndSort() {
    testing::WindowFixture fixture;
    testing::WriteEmptyImage(fixture.PathStd("blank.img"));
    fixture.AttachVolume('F', "blank.img");
    CKestrelDlg& window = fixture.OpenWindow();
    ResultsList& results = *window.results();
    const std::string folder = fixture.RecoveryFolder() + "/";
    results.AddRow({"b.jpg", "3 KB", folder, folder + "b.jpg", 3000, true, std::nullopt});
    results.AddRow({"c.png", "1 KB", folder, folder + "c.png", 100, true, std::nullopt});
    results.AddRow({"a.gif", "2 KB", folder, folder + "a.gif", 2000, true, std::nullopt});
    results.AddRow({"d.doc", "0 KB", AppText(msg::kInvalidRecoveryPath).toStdString(), "", 0, false,
                    std::nullopt});

    window.show();
    const QRect cell = results.visualRect(results.model()->index(1, 0));
    QTest::mousePress(results.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseRelease(results.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(results.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QCOMPARE(fixture.host.opened.size(), size_t{1});
    QCOMPARE(fixture.host.opened.back(),
             QUrl::fromLocalFile(QString::fromStdString(folder + "c.png")));
    window.OpenResultFolder(1);
    QCOMPARE(fixture.host.opened.back().toLocalFile(),
             QString::fromStdString(fixture.RecoveryFolder()));
    // A row without a file opens nothing; a desktop that fails says so.
    window.OpenResultFile(3);
    QCOMPARE(fixture.host.opened.size(), size_t{2});
    fixture.host.open_succeeds = false;
    window.OpenResultFile(0);
    QCOMPARE(fixture.host.Ids(), std::vector<int>{apptext::kOpenFailed});

    results.SortByColumn(1);
    QCOMPARE(results.item(0, 0)->text(), QStringLiteral("d.doc"));
    QCOMPARE(results.item(1, 0)->text(), QStringLiteral("c.png"));
    QCOMPARE(results.item(3, 0)->text(), QStringLiteral("b.jpg"));
    results.SortByColumn(1);
    QCOMPARE(results.item(0, 0)->text(), QStringLiteral("b.jpg"));
    results.SortByColumn(0);
    QCOMPARE(results.item(0, 0)->text(), QStringLiteral("a.gif"));
    QCOMPARE(results.FileOfRow(0).path, QString::fromStdString(folder + "a.gif"));
  }

  void LightAndDarkPalettesKeepEveryTextReadable() {
    const QPalette standard = QApplication::palette();
    for (const QPalette& palette : {standard, DarkPalette()}) {
      QApplication::setPalette(palette);
      testing::WindowFixture fixture;
      testing::WriteEmptyImage(fixture.PathStd("blank.img"));
      fixture.AttachVolume('F', "blank.img");
      CKestrelDlg& window = fixture.OpenWindow();
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      QCOMPARE(window.palette().color(QPalette::Window) == kBackgroundColour, LightPalette());
      QStringList unreadable = UnreadableTexts(window);
      window.EnterMode(RecoveryMode::kPartitionDisk);
      unreadable << UnreadableTexts(window);
      COptionsDlg options(fixture.app().settings, fixture.app().types, fixture.host, &window);
      options.show();
      QVERIFY(QTest::qWaitForWindowExposed(&options));
      unreadable << UnreadableTexts(options);
      QVERIFY2(unreadable.isEmpty(), qPrintable(unreadable.join(QStringLiteral(", "))));
    }
    QApplication::setPalette(standard);
  }
};

KESTREL_APP_TEST_GROUP(DesktopTest, "desktop");

}  // namespace kestrel

#include "desktop_test.moc"
