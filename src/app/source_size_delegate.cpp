#include "app/source_size_delegate.h"

#include <algorithm>

#include <QApplication>
#include <QLocale>
#include <QPainter>

namespace kestrel {
namespace {

constexpr int kSizeMargin = 6;

QString SizeOf(const QModelIndex& index) {
  const QVariant bytes = index.data(kSourceBytesRole);
  return bytes.isValid() ? SourceSizeText(bytes.toULongLong()) : QString();
}

}  // namespace

QString SourceSizeText(quint64 bytes) {
  return QLocale::c().formattedDataSize(static_cast<qint64>(bytes), 1, QLocale::DataSizeSIFormat);
}

void SourceSizeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  const QString size = SizeOf(index);
  if (size.isEmpty()) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // The row's text gives way to the size where the row is too narrow for both.
  QStyleOptionViewItem row = option;
  initStyleOption(&row, index);
  const int room = row.rect.width() - row.decorationSize.width() -
                   row.fontMetrics.horizontalAdvance(size) - 4 * kSizeMargin;
  row.text = row.fontMetrics.elidedText(row.text, Qt::ElideRight, std::max(room, 0));
  const QWidget* view = option.widget;
  QStyle* style = view != nullptr ? view->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &row, painter, view);
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  painter->save();
  painter->setFont(option.font);
  painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(option.rect.adjusted(0, 0, -kSizeMargin, 0), Qt::AlignRight | Qt::AlignVCenter,
                    size);
  painter->restore();
}

QSize SourceSizeDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QSize hint = QStyledItemDelegate::sizeHint(option, index);
  const QString size = SizeOf(index);
  if (!size.isEmpty())
    hint.rwidth() += option.fontMetrics.horizontalAdvance(size) + 3 * kSizeMargin;
  return hint;
}

}  // namespace kestrel
