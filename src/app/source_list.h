#pragma once
// The source list of "Recover files from partition/disk" (control 1002): the volumes of the
// device map, the header row "Physical Drives", then the physical disks.

#include <QListWidget>

#include "sources/drive_enumeration.h"

namespace kestrel {

class SourceList : public QListWidget {
  Q_OBJECT

 public:
  explicit SourceList(QWidget* parent = nullptr);

  // Fills the list (once, at start-up) and selects the first row.
  void Fill(const DeviceMap& map);

  int drive_row_count() const { return drive_row_count_; }
  int header_row() const { return drive_row_count_; }
  bool physical_disk_selected() const { return physical_disk_selected_; }
  // The row at the selection mark, -1 when none.
  int selection_mark() const { return currentRow(); }
  QString TextOfRow(int row) const;

  // The volume or disk of the row at the selection mark (both null for none).
  const VolumeEntry* SelectedVolume(const DeviceMap& map) const;
  const PhysicalDiskEntry* SelectedDisk(const DeviceMap& map) const;

 signals:
  // The row at the selection mark changed: its text.
  void SourceSelected(const QString& text);

 private:
  void OnCurrentRowChanged(int row);
  // A volume or disk row: its text, and its size drawn beside it.
  void AddSizedRow(const QIcon& icon, const std::string& text, uint64_t bytes);

  int drive_row_count_ = 0;
  bool physical_disk_selected_ = false;
  int remembered_row_ = -1;
};

}  // namespace kestrel
