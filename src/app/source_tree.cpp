#include "app/source_tree.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/artwork.h"
#include "app/window_style.h"
#include "sources/source_rows.h"

namespace kestrel {
namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kLetterRole = Qt::UserRole + 1;
constexpr int kNativePathRole = Qt::UserRole + 2;

std::string StripTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string LastComponent(const std::string& path) {
  const std::string trimmed = StripTrailingSlash(path);
  const size_t slash = trimmed.find_last_of('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

bool IsNtfsMount(const std::vector<MountEntry>& mounts, const std::string& path) {
  std::optional<MountEntry> mount = FindMountHolding(mounts, path);
  if (!mount) return false;
  return mount->fs_type == "ntfs" || mount->fs_type == "ntfs3" || mount->fs_type == "fuseblk";
}

QString ToQString(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

SpecialFolders SpecialFolders::FromSystem() {
  SpecialFolders folders;
  folders.desktop = StripTrailingSlash(
      QStandardPaths::writableLocation(QStandardPaths::DesktopLocation).toStdString());
  folders.documents = StripTrailingSlash(
      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString());
  return folders;
}

SourceTree::SourceTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("ctl1313"));
  setHeaderHidden(true);
  setColumnCount(1);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setRootIsDecorated(true);
  KeepSelectionVisible(this);
  connect(this, &QTreeWidget::itemExpanded, this, &SourceTree::OnItemExpanded);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &SourceTree::OnSelectionChanged);
}

SourceTree::Kind SourceTree::KindOf(const QTreeWidgetItem* item) {
  return static_cast<Kind>(item->data(0, kKindRole).toInt());
}

void SourceTree::Fill(const DeviceMap& map, const SpecialFolders& specials,
                      const std::vector<MountEntry>& mounts) {
  const QSignalBlocker quiet(this);
  clear();
  drives_.clear();
  last_drive_ = nullptr;
  root_ = new QTreeWidgetItem(this, {QStringLiteral("My Computer")});
  root_->setData(0, kKindRole, static_cast<int>(Kind::kRoot));
  root_->setIcon(0, NamedIcon(QStringLiteral("MyComp.ico"), &DrawComputerPicture));
  root_->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);

  for (const std::string& special : {specials.desktop, specials.documents}) {
    QTreeWidgetItem* item = AddSpecial(special);
    const bool expandable = !IsNtfsMount(mounts, special) && HasNativeSubfolder(special);
    item->setChildIndicatorPolicy(expandable ? QTreeWidgetItem::ShowIndicator
                                             : QTreeWidgetItem::DontShowIndicator);
  }
  for (const VolumeEntry& volume : map.volumes) {
    drives_.push_back({&volume, VolumeMountPoint(volume, mounts)});
  }
  for (const VolumeFolderSource& drive : drives_) {
    const VolumeEntry& volume = *drive.volume;
    // Floppy letters are left out, as every drive type but removable and fixed.
    if (volume.removable && (volume.letter == 'A' || volume.letter == 'B')) continue;
    const std::string autorun = drive.mount_point ? ReadAutorunLabel(*drive.mount_point) : "";
    const std::string text = DriveItemText(DriveItemLabel(volume, autorun), volume.letter,
                                           IsSystemVolume(volume, mounts));
    QTreeWidgetItem* item = new QTreeWidgetItem(root_, {ToQString(text)});
    item->setData(0, kKindRole, static_cast<int>(Kind::kDrive));
    item->setData(0, kLetterRole, QChar(volume.letter));
    item->setIcon(0, QFileIconProvider().icon(QAbstractFileIconProvider::Drive));
    item->setChildIndicatorPolicy(HasChildFolders(item) ? QTreeWidgetItem::ShowIndicator
                                                        : QTreeWidgetItem::DontShowIndicator);
    last_drive_ = item;
  }
  root_->setFont(0, Bold(font()));
  root_->setExpanded(true);
  QTreeWidgetItem* initial = last_drive_ != nullptr ? last_drive_ : root_->child(0);
  setCurrentItem(initial);
}

QTreeWidgetItem* SourceTree::AddSpecial(const std::string& path) {
  QTreeWidgetItem* item = new QTreeWidgetItem(root_, {ToQString(LastComponent(path))});
  item->setData(0, kKindRole, static_cast<int>(Kind::kSpecial));
  item->setData(0, kNativePathRole, ToQString(path));
  QFileInfo info(ToQString(path));
  item->setIcon(0, info.exists() ? QFileIconProvider().icon(info)
                                 : QFileIconProvider().icon(QAbstractFileIconProvider::Folder));
  return item;
}

const VolumeFolderSource* SourceTree::FolderSourceOf(char letter) const {
  for (const VolumeFolderSource& drive : drives_) {
    if (drive.volume->letter == letter) return &drive;
  }
  return nullptr;
}

TreeSource SourceTree::SourceOf(const QTreeWidgetItem* item) const {
  TreeSource source;
  std::string tail;
  for (const QTreeWidgetItem* at = item; at != nullptr; at = at->parent()) {
    switch (KindOf(at)) {
      case Kind::kRoot:
        return source;
      case Kind::kFolder:
        tail = "/" + at->text(0).toStdString() + tail;
        break;
      case Kind::kDrive: {
        const char letter = static_cast<char>(at->data(0, kLetterRole).toChar().toLatin1());
        const VolumeFolderSource* drive = FolderSourceOf(letter);
        if (drive == nullptr) return source;
        source.kind = TreeSource::Kind::kVolumeFolder;
        source.volume = drive->volume;
        source.inner_path = tail.empty() ? "/" : tail;
        return source;
      }
      case Kind::kSpecial:
        source.kind = TreeSource::Kind::kNativeFolder;
        source.native_path = at->data(0, kNativePathRole).toString().toStdString() + tail;
        return source;
    }
  }
  return source;
}

QString SourceTree::ItemPath(const QTreeWidgetItem* item) const {
  const TreeSource source = SourceOf(item);
  switch (source.kind) {
    case TreeSource::Kind::kVolumeFolder: {
      std::string path = std::string(1, source.volume->letter) + ":" + source.inner_path;
      if (path.back() != '/') path += '/';
      return ToQString(path);
    }
    case TreeSource::Kind::kNativeFolder:
      return ToQString(source.native_path + "/");
    case TreeSource::Kind::kNone:
      break;
  }
  return {};
}

QTreeWidgetItem* SourceTree::selected_item() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QTreeWidgetItem* SourceTree::DriveItem(char letter) const {
  if (root_ == nullptr) return nullptr;
  for (int i = 0; i < root_->childCount(); ++i) {
    QTreeWidgetItem* child = root_->child(i);
    if (KindOf(child) == Kind::kDrive && child->data(0, kLetterRole).toChar() == QChar(letter)) {
      return child;
    }
  }
  return nullptr;
}

std::vector<std::string> SourceTree::ChildFolders(const QTreeWidgetItem* item) const {
  const TreeSource source = SourceOf(item);
  switch (source.kind) {
    case TreeSource::Kind::kVolumeFolder: {
      const VolumeFolderSource* drive = FolderSourceOf(source.volume->letter);
      return drive != nullptr ? ListVolumeFolders(*drive, source.inner_path)
                              : std::vector<std::string>{};
    }
    case TreeSource::Kind::kNativeFolder:
      return ListNativeFolders(source.native_path);
    case TreeSource::Kind::kNone:
      break;
  }
  return {};
}

bool SourceTree::HasChildFolders(const QTreeWidgetItem* item) const {
  return !ChildFolders(item).empty();
}

std::string SourceTree::FullPathForFilter(const QTreeWidgetItem* item,
                                          const std::string& name) const {
  return ItemPath(item).toStdString() + name;
}

void SourceTree::OnItemExpanded(QTreeWidgetItem* item) {
  if (item == root_) return;
  // Rebuilding drops the children; a selection among them moves to its new copy, or to `item`.
  const QString selected_path = selected_item() != nullptr ? ItemPath(selected_item()) : QString();
  {
    const QSignalBlocker quiet(this);
    qDeleteAll(item->takeChildren());
    const std::vector<std::string> folders = ChildFolders(item);
    if (KindOf(item) == Kind::kDrive && folders.empty()) {
      item->setExpanded(false);
      item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    }
    const QIcon folder_icon = QFileIconProvider().icon(QAbstractFileIconProvider::Folder);
    for (const std::string& name : folders) {
      if (!IsListedFolder(FullPathForFilter(item, name), name)) continue;
      QTreeWidgetItem* child = new QTreeWidgetItem(item, {ToQString(name)});
      child->setData(0, kKindRole, static_cast<int>(Kind::kFolder));
      child->setIcon(0, folder_icon);
      child->setChildIndicatorPolicy(HasChildFolders(child) ? QTreeWidgetItem::ShowIndicator
                                                            : QTreeWidgetItem::DontShowIndicator);
    }
  }
  const QTreeWidgetItem* now = selected_item();
  if (selected_path.isEmpty() || (now != nullptr && ItemPath(now) == selected_path)) return;
  QTreeWidgetItem* reselect = item;
  for (int i = 0; i < item->childCount(); ++i) {
    if (selected_path.startsWith(ItemPath(item->child(i)))) reselect = item->child(i);
  }
  setCurrentItem(reselect);
  emit SourceSelected(ItemPath(reselect));
}

void SourceTree::OnSelectionChanged() {
  QTreeWidgetItem* item = selected_item();
  if (item == nullptr) return;
  if (item == root_) {
    if (root_->childCount() > 0) setCurrentItem(root_->child(0));
    return;
  }
  emit SourceSelected(ItemPath(item));
}

}  // namespace kestrel
