#pragma once
// Draws a source row as usual and its size ("24.0 MB", "1.0 TB") right-aligned beside the
// text, so that a small image and a large disk can be told apart without changing the row text.

#include <QStyledItemDelegate>

namespace kestrel {

// The role of a source row that holds its size in bytes.
inline constexpr int kSourceBytesRole = Qt::UserRole + 10;

// "24.0 MB" for 24,000,000 bytes: decimal units, as disks are sold.
QString SourceSizeText(quint64 bytes);

class SourceSizeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace kestrel
