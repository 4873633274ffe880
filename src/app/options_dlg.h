#pragma once
// The file type dialog (template 150): "Scan for all files" or "Scan for the file type
// selected", and the catalogue's rows in alphabetical order with their ticks. OK stores the
// choice in the settings.

#include <QDialog>

#include "run/file_types.h"

class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {

class DialogHost;
class SettingsStore;

class COptionsDlg : public QDialog {
  Q_OBJECT

 public:
  COptionsDlg(SettingsStore& settings, FileTypeSelection& types, DialogHost& host,
              QWidget* parent = nullptr);

  // The types whose rows are ticked.
  TypeSet Ticks() const;
  bool scan_all_selected() const;

  // The buttons' actions (also the handlers of their clicks).
  void ChooseScanAll();
  void ChooseSelectedTypes();
  void SelectAll();
  // OK: message 1141 when nothing is ticked (the dialog stays open), else store and close.
  void Confirm();

 private:
  void BuildControls();
  void FillList();
  void SetAllTicks(bool ticked);
  void SetListEnabled(bool enabled);
  // The fixed row colours of an enabled list under a light palette, else the palette's.
  void ColourRow(QTreeWidgetItem* row, bool enabled);

  SettingsStore& settings_;
  FileTypeSelection& types_;
  DialogHost& host_;
  QRadioButton* scan_all_ = nullptr;       // 1245
  QRadioButton* scan_selected_ = nullptr;  // 1246
  QTreeWidget* list_ = nullptr;            // 1109
  QPushButton* select_all_ = nullptr;      // 3
};

}  // namespace kestrel
