#pragma once
// The source tree of "Recover deleted files" (control 1313): "My Computer", the Desktop and
// Documents folders, and the drives of the device map with their folders, from which the user
// picks a folder or a whole drive.

#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QTreeWidget>

#include "app/volume_folders.h"
#include "platform/mount_info.h"
#include "sources/drive_enumeration.h"

namespace kestrel {

// The two special folders (native paths, without a trailing "/").
struct SpecialFolders {
  std::string desktop;
  std::string documents;
  // The XDG desktop and documents folders of the user.
  static SpecialFolders FromSystem();
};

// What a tree item stands for, as a run needs it.
struct TreeSource {
  enum class Kind { kNone, kVolumeFolder, kNativeFolder };
  Kind kind = Kind::kNone;
  const VolumeEntry* volume = nullptr;  // kVolumeFolder
  std::string inner_path;               // kVolumeFolder: "/" or "/DCIM/100CANON"
  std::string native_path;              // kNativeFolder: a folder of the file system
};

class SourceTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit SourceTree(QWidget* parent = nullptr);

  // Fills the tree (once, at start-up) and selects the last drive, else the first special folder.
  void Fill(const DeviceMap& map, const SpecialFolders& specials,
            const std::vector<MountEntry>& mounts);

  QTreeWidgetItem* root() const { return root_; }
  // "E:/DCIM/100CANON/" for a folder of drive E:, "/home/ann/Desktop/Trips/" below a special
  // folder; always ends in "/". Empty for the root.
  QString ItemPath(const QTreeWidgetItem* item) const;
  TreeSource SourceOf(const QTreeWidgetItem* item) const;
  QTreeWidgetItem* selected_item() const;
  // Finds the drive item of a letter (tests, screenshots).
  QTreeWidgetItem* DriveItem(char letter) const;

 signals:
  // A folder or drive was selected: its ItemPath.
  void SourceSelected(const QString& path);

 private:
  enum class Kind { kRoot, kSpecial, kDrive, kFolder };
  static Kind KindOf(const QTreeWidgetItem* item);
  QTreeWidgetItem* AddSpecial(const std::string& path);
  QTreeWidgetItem* AddDrive(const VolumeEntry& volume);
  void OnItemExpanded(QTreeWidgetItem* item);
  void OnSelectionChanged();
  std::vector<std::string> ChildFolders(const QTreeWidgetItem* item) const;
  bool HasChildFolders(const QTreeWidgetItem* item) const;
  std::string FullPathForFilter(const QTreeWidgetItem* item, const std::string& name) const;
  const VolumeFolderSource* FolderSourceOf(char letter) const;

  QTreeWidgetItem* root_ = nullptr;
  QTreeWidgetItem* last_drive_ = nullptr;
  std::vector<VolumeFolderSource> drives_;
};

}  // namespace kestrel
