#include "app/results_view.h"

#include <algorithm>

#include <QHeaderView>

#include "app/window_style.h"
#include "imaging/thumbnail.h"

namespace kestrel {
namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kCreatedRole = Qt::UserRole + 1;
constexpr int kBytesRole = Qt::UserRole + 2;
constexpr int kNameColumnMinimum = 100;
// Room the "Recovered Path" column keeps when a long name widens "File Name".
constexpr int kPathColumnMinimum = 120;
// The cell's margins around its text.
constexpr int kCellPadding = 16;

// A size cell sorts by the file's bytes, not by its "%d KB" text.
class SizeCell : public QTableWidgetItem {
 public:
  using QTableWidgetItem::QTableWidgetItem;
  bool operator<(const QTableWidgetItem& other) const override {
    return data(kBytesRole).toULongLong() < other.data(kBytesRole).toULongLong();
  }
};

QTableWidgetItem* Cell(const std::string& text, Qt::Alignment alignment) {
  auto* cell = new QTableWidgetItem(QString::fromStdString(text));
  cell->setTextAlignment(alignment | Qt::AlignVCenter);
  cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  cell->setToolTip(cell->text());
  return cell;
}

}  // namespace

ResultsList::ResultsList(QWidget* parent) : QTableWidget(0, 3, parent) {
  setObjectName(QStringLiteral("ctl1309"));
  setHorizontalHeaderLabels(
      {QStringLiteral("File Name"), QStringLiteral("Size"), QStringLiteral("Recovered Path")});
  horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(true);
  setColumnWidth(0, kNameColumnMinimum);
  setColumnWidth(1, 70);
  setColumnWidth(2, 310);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  // A name too long for its column keeps its start and its end (" - Copy(1).jpg").
  setTextElideMode(Qt::ElideMiddle);
  KeepSelectionVisible(this);
  horizontalHeader()->setSectionsClickable(true);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &ResultsList::SortByColumn);
  setContextMenuPolicy(Qt::CustomContextMenu);
}

void ResultsList::AddRow(const ResultRow& row) {
  const int at = rowCount();
  insertRow(at);
  QTableWidgetItem* name = Cell(row.name, Qt::AlignLeft);
  name->setData(kPathRole, QString::fromStdString(row.full_path));
  name->setData(kCreatedRole, row.created);
  setItem(at, 0, name);
  auto* size = new SizeCell(QString::fromStdString(row.size_text));
  size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  size->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  size->setData(kBytesRole, static_cast<qulonglong>(row.bytes));
  setItem(at, 1, size);
  setItem(at, 2, Cell(row.folder_text, Qt::AlignLeft));
  FitNameColumn(name->text());
  scrollToItem(name);
}

void ResultsList::FitNameColumn(const QString& name) {
  const int wanted = fontMetrics().horizontalAdvance(name) + kCellPadding;
  if (wanted <= columnWidth(0)) return;
  const int widest = viewport()->width() - columnWidth(1) - kPathColumnMinimum;
  setColumnWidth(0, std::max(columnWidth(0), std::min(wanted, widest)));
}

void ResultsList::SortByColumn(int column) {
  if (column != 0 && column != 1) return;
  const bool again = sorted_column_ == column && sort_order_ == Qt::AscendingOrder;
  sort_order_ = again ? Qt::DescendingOrder : Qt::AscendingOrder;
  sorted_column_ = column;
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(column, sort_order_);
  sortItems(column, sort_order_);
  emit Sorted();
}

void ResultsList::Clear() {
  sorted_column_ = -1;
  horizontalHeader()->setSortIndicatorShown(false);
  clearSelection();
  setRowCount(0);
  setColumnWidth(0, kNameColumnMinimum);
  emit Cleared();
}

ResultsList::RowFile ResultsList::FileOfRow(int row) const {
  RowFile file;
  const QTableWidgetItem* name = item(row, 0);
  if (name == nullptr) return file;
  file.name = name->text();
  file.path = name->data(kPathRole).toString();
  file.created = name->data(kCreatedRole).toBool();
  return file;
}

int ResultsList::SelectedRow() const {
  const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

ThumbnailView::ThumbnailView(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("ctl1312"));
  setViewMode(QListView::IconMode);
  setIconSize(QSize(kThumbnailSide, kThumbnailSide));
  setMovement(QListView::Static);
  setSelectionMode(QAbstractItemView::NoSelection);
  setFocusPolicy(Qt::NoFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSpacing(5);
  hide();
}

void ThumbnailView::ShowPicture(const QImage& thumbnail) {
  Empty();
  if (!shown_once_) {
    shown_once_ = true;
    show();
  }
  auto* entry = new QListWidgetItem(QIcon(QPixmap::fromImage(thumbnail)), QString());
  entry->setFlags(Qt::ItemIsEnabled);
  entry->setSizeHint(QSize(kThumbnailSide + 6, kThumbnailSide + 6));
  addItem(entry);
  scrollToItem(entry);
  current_ = thumbnail;
  ++drawn_count_;
}

void ThumbnailView::Empty() {
  clear();
  current_ = QImage();
}

QImage ThumbnailView::CurrentPicture() const {
  return current_;
}

}  // namespace kestrel
