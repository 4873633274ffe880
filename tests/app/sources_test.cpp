// The texts and folder rules of the source selection: list rows, tree drive labels, the
// autorun label, the folders the tree leaves out, and folders of the file system.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "app/app_test_support.h"
#include "app/run_launcher.h"
#include "app/volume_folders.h"
#include "sources/source_rows.h"

namespace kestrel {
namespace {

bool WriteText(const QString& path, const QByteArray& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

VolumeEntry Volume(char letter, const std::string& label, bool removable) {
  VolumeEntry volume;
  volume.letter = letter;
  volume.label = label;
  volume.removable = removable;
  return volume;
}

}  // namespace

class SourcesTest : public QObject {
  Q_OBJECT

 private slots:
  void ListRowsShowLabelsOrTheDriveKind() {
    QCOMPARE(VolumeRowText(Volume('E', "CAMERA", true)), std::string(" CAMERA (E:)"));
    QCOMPARE(VolumeRowText(Volume('E', "", true)), std::string(" Removable Disk (E:)"));
    QCOMPARE(VolumeRowText(Volume('C', "", false)), std::string(" Local Disk (C:)"));
    // At most 25 characters of a label, never half a character.
    QCOMPARE(VolumeRowText(Volume('D', "ABCDEFGHIJKLMNOPQRSTUVWXYZ", false)),
             std::string(" ABCDEFGHIJKLMNOPQRSTUVWXY (D:)"));
    QCOMPARE(VolumeRowText(Volume('D', std::string(24, 'a') + "\xC3\xA9\xC3\xA9", false)),
             " " + std::string(24, 'a') + "\xC3\xA9 (D:)");
    PhysicalDiskEntry disk;
    disk.model = "ATA Samsung SSD   ";
    QCOMPARE(DiskRowText(disk), std::string(" ATA Samsung SSD"));
  }

  void DriveItemsPreferTheAutorunLabel() {
    const VolumeEntry card = Volume('E', "EOS_DIGITAL", true);
    QCOMPARE(DriveItemLabel(card, "Photos"), std::string("Photos"));
    QCOMPARE(DriveItemLabel(card, "Fail"), std::string("EOS_DIGITAL"));
    QCOMPARE(DriveItemLabel(card, ""), std::string("EOS_DIGITAL"));
    QCOMPARE(DriveItemLabel(Volume('E', "", true), ""), std::string("Removable Disk"));
    QCOMPARE(DriveItemLabel(Volume('D', "", false), ""), std::string("Local Disk"));
    QCOMPARE(DriveItemText("Data", 'D', true), std::string("Data (D:) *"));
    QCOMPARE(DriveItemText("Data", 'E', false), std::string("Data (E:)"));
  }

  void AutorunLabelIsReadFromItsSection() {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    QCOMPARE(ReadAutorunLabel(root), std::string());
    QVERIFY(WriteText(dir.filePath("autorun.inf"),
                      "; card\r\n[other]\r\nlabel=Wrong\r\n[AutoRun]\r\nicon=x.ico\r\n"
                      "Label = Photos 2024 \r\n"));
    QCOMPARE(ReadAutorunLabel(root), std::string("Photos 2024"));
    QVERIFY(WriteText(dir.filePath("autorun.inf"), "[autorun]\nopen=setup.exe\n"));
    QCOMPARE(ReadAutorunLabel(root), std::string());
    QVERIFY(WriteText(dir.filePath("autorun.inf"),
                      "[autorun]\nLABEL=\"" + QByteArray(400, 'x') + "\"\n"));
    QCOMPARE(ReadAutorunLabel(root).size(), size_t{260});
  }

  void TreeLeavesOutSystemFoldersAndUnreadableNames() {
    QVERIFY(IsListedFolder("E:/DCIM", "DCIM"));
    QVERIFY(!IsListedFolder("E:/RECYCLED", "RECYCLED"));
    QVERIFY(!IsListedFolder("E:/$Recycle.Bin", "$Recycle.Bin"));
    QVERIFY(!IsListedFolder("E:/System Volume Information", "System Volume Information"));
    QVERIFY(!IsListedFolder("E:/recycler/Old/x", "x"));  // anywhere in the path
    QVERIFY(!IsListedFolder("E:/Wh?t", "Wh?t"));
    QVERIFY(IsListedFolder("E:/Caf\xC3\xA9", "Caf\xC3\xA9"));
    QVERIFY(!IsListedFolder("E:/Caf\xE9", "Caf\xE9"));              // Latin-1, not UTF-8
    QVERIFY(!IsListedFolder("E:/x\xED\xA0\x80", "x\xED\xA0\x80"));  // a surrogate
    QVERIFY(!IsListedFolder("E:/x\xC3", "x\xC3"));                  // cut short
  }

  void NativeFoldersAreListedWithoutFiles() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Trips/2024"));
    QVERIFY(QDir(dir.path()).mkpath("Notes"));
    QVERIFY(WriteText(dir.filePath("file.txt"), "x"));
    std::vector<std::string> folders = ListNativeFolders(dir.path().toStdString());
    std::sort(folders.begin(), folders.end());
    QCOMPARE(folders, (std::vector<std::string>{"Notes", "Trips"}));
    QVERIFY(HasNativeSubfolder(dir.filePath("Trips").toStdString()));
    QVERIFY(!HasNativeSubfolder(dir.filePath("Notes").toStdString()));
    QVERIFY(ListNativeFolders(dir.filePath("missing").toStdString()).empty());
    QCOMPARE(JoinPath("/a/b", "c"), std::string("/a/b/c"));
    QCOMPARE(JoinPath("/", "c"), std::string("/c"));
  }

  void NtfsAndUnreadableVolumesOfferNoFolders() {
    VolumeEntry ntfs = Volume('F', "", false);
    ntfs.fs_name = "NTFS";
    QVERIFY(ListVolumeFolders({&ntfs, std::nullopt}, "/").empty());
    VolumeEntry gone = Volume('G', "", false);
    gone.device = "/nonexistent/card.img";
    QVERIFY(ListVolumeFolders({&gone, std::nullopt}, "/").empty());
    // An image file is never a mounted block device.
    QVERIFY(!VolumeMountPoint(gone, {}).has_value());
    QVERIFY(!IsSystemVolume(gone, {}));
  }

  void FolderOnNoVolumeOfTheMapIsNotFound() {
    QTemporaryDir dir;
    DeviceMap map;
    VolumeEntry image = Volume('E', "", true);
    image.device = dir.filePath("card.img").toStdString();
    image.in_image = true;
    map.volumes.push_back(image);
    QCOMPARE(LocateNativeFolder(map, dir.path().toStdString()).volume, nullptr);
    QCOMPARE(LocateNativeFolder(map, "/nonexistent/folder").volume, nullptr);
  }
};

KESTREL_APP_TEST_GROUP(SourcesTest, "sources");

}  // namespace kestrel

#include "sources_test.moc"
