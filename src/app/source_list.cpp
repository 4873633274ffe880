#include "app/source_list.h"

#include <QFileIconProvider>

#include "app/artwork.h"
#include "app/source_size_delegate.h"
#include "app/window_style.h"
#include "sources/source_rows.h"

namespace kestrel {

SourceList::SourceList(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("ctl1002"));
  setSelectionMode(QAbstractItemView::SingleSelection);
  KeepSelectionVisible(this);
  setItemDelegate(new SourceSizeDelegate(this));
  connect(this, &QListWidget::currentRowChanged, this, &SourceList::OnCurrentRowChanged);
}

void SourceList::Fill(const DeviceMap& map) {
  const QSignalBlocker quiet(this);
  clear();
  const QIcon drive_icon = QFileIconProvider().icon(QAbstractFileIconProvider::Drive);
  for (const VolumeEntry& volume : map.volumes) {
    AddSizedRow(drive_icon, VolumeRowText(volume), volume.bytes);
  }
  drive_row_count_ = static_cast<int>(map.volumes.size());
  physical_disk_selected_ = false;

  auto* header = new QListWidgetItem(QString::fromLatin1(kPhysicalDrivesHeader));
  header->setFont(Bold(font()));
  addItem(header);

  const QIcon disk_icon = NamedIcon(QStringLiteral("hdd.ico"), &DrawHardDiskPicture);
  for (const PhysicalDiskEntry& disk : map.disks) {
    AddSizedRow(disk_icon, DiskRowText(disk), disk.sector_count * 512);
  }
  // The first row is selected; when it is the header, the rule below moves on from it.
  remembered_row_ = -1;
  setCurrentRow(0);
  if (currentRow() == header_row()) OnCurrentRowChanged(0);
  remembered_row_ = currentRow();
  physical_disk_selected_ = currentRow() >= drive_row_count_;
}

void SourceList::AddSizedRow(const QIcon& icon, const std::string& text, uint64_t bytes) {
  auto* row = new QListWidgetItem(icon, QString::fromStdString(text));
  row->setData(kSourceBytesRole, static_cast<qulonglong>(bytes));
  row->setToolTip(row->text().trimmed() + QStringLiteral(", ") + SourceSizeText(bytes));
  addItem(row);
}

QString SourceList::TextOfRow(int row) const {
  const QListWidgetItem* entry = item(row);
  return entry != nullptr ? entry->text() : QString();
}

void SourceList::OnCurrentRowChanged(int row) {
  if (row < 0) return;
  if (row == header_row()) {
    // The header is never the selection: the next row takes its place, or the row before when
    // there is none below it.
    const int next = row + 1 < count() ? row + 1 : remembered_row_;
    if (next >= 0 && next != row)
      setCurrentRow(next);
    else
      clearSelection();
    return;
  }
  physical_disk_selected_ = row >= drive_row_count_;
  if (row != remembered_row_) {
    remembered_row_ = row;
    viewport()->update();
  }
  emit SourceSelected(TextOfRow(row));
}

const VolumeEntry* SourceList::SelectedVolume(const DeviceMap& map) const {
  const int row = selection_mark();
  if (row < 0 || row >= drive_row_count_) return nullptr;
  return &map.volumes[static_cast<size_t>(row)];
}

const PhysicalDiskEntry* SourceList::SelectedDisk(const DeviceMap& map) const {
  const int row = selection_mark();
  if (row <= drive_row_count_) return nullptr;
  const size_t ordinal = static_cast<size_t>(row - drive_row_count_ - 1);
  return ordinal < map.disks.size() ? &map.disks[ordinal] : nullptr;
}

}  // namespace kestrel
