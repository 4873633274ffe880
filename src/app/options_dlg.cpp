#include "app/options_dlg.h"

#include <algorithm>
#include <vector>

#include <QBoxLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "app/app_texts.h"
#include "app/dialog_host.h"
#include "app/window_style.h"
#include "platform/settings_store.h"
#include "run/messages.h"

namespace kestrel {
namespace {

const QColor kTypeColour(1, 10, 120);
const QColor kDescriptionColour(0, 107, 215);
// Each row keeps the code of its type.
constexpr int kTypeCodeRole = Qt::UserRole;

template <typename Widget>
Widget* Named(Widget* widget, int id) {
  widget->setObjectName(QStringLiteral("ctl%1").arg(id));
  return widget;
}

QString Latin(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

COptionsDlg::COptionsDlg(SettingsStore& settings, FileTypeSelection& types, DialogHost& host,
                         QWidget* parent)
    : QDialog(parent), settings_(settings), types_(types), host_(host) {
  setObjectName(QStringLiteral("COptionsDlg"));
  setWindowTitle(AppText(apptext::kFileTypesLabel));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  ApplyBackground(this);
  BuildControls();

  // "Scan File": no key -> all files; absent or 0 -> the selected types; else all files.
  if (!settings_.KeyExists()) {
    scan_all_->setChecked(true);
    ChooseScanAll();
  } else if (settings_.GetByte("Scan File").value_or(0) == 0) {
    scan_selected_->setChecked(true);
    ChooseSelectedTypes();
  } else {
    scan_all_->setChecked(true);
    ChooseScanAll();
  }
  FillList();
}

static QLabel* HelpText(int id, int text_id, QWidget* parent) {
  auto* label = new QLabel(AppText(text_id), parent);
  label->setObjectName(QStringLiteral("ctl%1").arg(id));
  label->setWordWrap(true);
  label->setContentsMargins(18, 0, 0, 4);
  return label;
}

void COptionsDlg::BuildControls() {
  const DialogUnits du(font());
  auto* options_frame = Named(new QGroupBox(this), 1124);
  auto* options = new QVBoxLayout(options_frame);
  scan_all_ = Named(new QRadioButton(AppText(apptext::kScanForAllFiles), options_frame), 1245);
  scan_selected_ = Named(new QRadioButton(AppText(apptext::kScanForSelected), options_frame), 1246);
  options->addWidget(scan_all_);
  options->addWidget(HelpText(1314, apptext::kScanAllHelp, options_frame));
  options->addWidget(scan_selected_);
  options->addWidget(HelpText(1315, apptext::kSelectedTypesHelp, options_frame));

  auto* list_frame = Named(new QGroupBox(this), 1113);
  auto* list_layout = new QVBoxLayout(list_frame);
  list_layout->addWidget(Named(new QLabel(AppText(apptext::kSelectTypesTitle), list_frame), 1264));
  list_ = Named(new QTreeWidget(list_frame), 1109);
  list_->setColumnCount(2);
  list_->setHeaderLabels({QStringLiteral("File Type"), QStringLiteral("Description")});
  list_->setHeaderHidden(true);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setUniformRowHeights(true);
  list_->setMinimumHeight(du.Y(123));
  list_layout->addWidget(list_);

  select_all_ = Named(new QPushButton(AppText(apptext::kSelectAll), this), 3);
  auto* ok = Named(new QPushButton(AppText(apptext::kOkLabel), this), 1);
  auto* cancel = Named(new QPushButton(AppText(apptext::kCancelLabel), this), 2);
  for (QPushButton* button : {select_all_, ok, cancel}) button->setAutoDefault(false);
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(select_all_);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options_frame);
  layout->addWidget(list_frame, 1);
  layout->addLayout(buttons);
  setFixedWidth(du.X(303));

  connect(scan_all_, &QRadioButton::clicked, this, &COptionsDlg::ChooseScanAll);
  connect(scan_selected_, &QRadioButton::clicked, this, &COptionsDlg::ChooseSelectedTypes);
  connect(select_all_, &QPushButton::clicked, this, &COptionsDlg::SelectAll);
  connect(ok, &QPushButton::clicked, this, &COptionsDlg::Confirm);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void COptionsDlg::FillList() {
  std::vector<FileTypeEntry> rows(FileTypeCatalogue().begin(), FileTypeCatalogue().end());
  std::ranges::sort(rows, {}, &FileTypeEntry::list_text);
  for (const FileTypeEntry& entry : rows) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, Latin(entry.list_text));
    row->setText(1, Latin(entry.description));
    row->setData(0, kTypeCodeRole, entry.index);
    ColourRow(row, true);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    // A value that cannot be read counts as selected.
    const uint8_t stored = settings_.GetByte(std::string(entry.name)).value_or(1);
    row->setCheckState(0, stored != 0 ? Qt::Checked : Qt::Unchecked);
  }
  list_->resizeColumnToContents(0);
  list_->setColumnWidth(0, list_->columnWidth(0) + 8);
  list_->setColumnWidth(1, 280);
}

TypeSet COptionsDlg::Ticks() const {
  TypeSet ticks;
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = list_->topLevelItem(i);
    if (row->checkState(0) == Qt::Checked) ticks.Add(row->data(0, kTypeCodeRole).toUInt());
  }
  return ticks;
}

bool COptionsDlg::scan_all_selected() const {
  return scan_all_->isChecked();
}

void COptionsDlg::SetAllTicks(bool ticked) {
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    list_->topLevelItem(i)->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
  }
}

void COptionsDlg::SetListEnabled(bool enabled) {
  list_->setEnabled(enabled);
  select_all_->setEnabled(enabled);
  for (int i = 0; i < list_->topLevelItemCount(); ++i) ColourRow(list_->topLevelItem(i), enabled);
}

void COptionsDlg::ColourRow(QTreeWidgetItem* row, bool enabled) {
  // The fixed colours would draw a disabled list as if it were active: a disabled row keeps
  // the palette's disabled text colour.
  if (enabled && LightPalette()) {
    row->setForeground(0, kTypeColour);
    row->setForeground(1, kDescriptionColour);
  } else {
    row->setData(0, Qt::ForegroundRole, QVariant());
    row->setData(1, Qt::ForegroundRole, QVariant());
  }
}

void COptionsDlg::ChooseScanAll() {
  scan_all_->setChecked(true);
  SetAllTicks(true);
  SetListEnabled(false);
}

void COptionsDlg::ChooseSelectedTypes() {
  scan_selected_->setChecked(true);
  SetListEnabled(true);
  SetAllTicks(false);
}

void COptionsDlg::SelectAll() {
  SetAllTicks(true);
}

void COptionsDlg::Confirm() {
  const TypeSet ticks = Ticks();
  if (ticks.None()) {
    ShowAppMessage(host_, this, apptext::kNoTypeSelected, MessageIcon::kStop);
    return;
  }
  types_.SaveFileTypeSelection(settings_, ticks, scan_all_selected());
  accept();
}

}  // namespace kestrel
