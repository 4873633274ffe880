#pragma once
// The results list (control 1309), one row per recovered file, and the thumbnail view (control
// 1312), which shows the picture of the selected row.

#include <QImage>
#include <QListWidget>
#include <QTableWidget>

#include "run/run_ui.h"

namespace kestrel {

class ResultsList : public QTableWidget {
  Q_OBJECT

 public:
  explicit ResultsList(QWidget* parent = nullptr);

  // Appends a row and scrolls it into view.
  void AddRow(const ResultRow& row);
  void Clear();

  // The file of a row: its path (the folder column followed by the name) and whether it exists.
  struct RowFile {
    QString name;
    QString path;
    bool created = false;
  };
  RowFile FileOfRow(int row) const;
  // The selected row, -1 when none.
  int SelectedRow() const;
  // Rows stay in the order written until a click on the "File Name" or "Size" heading sorts
  // them by that column (a second click reverses the order).
  void SortByColumn(int column);

 signals:
  void Cleared();
  void Sorted();

 private:
  // Widens "File Name" to show `name` whole, as far as the path column leaves room; a longer
  // name is elided in the middle, its whole text in the cell's tooltip.
  void FitNameColumn(const QString& name);

  int sorted_column_ = -1;
  Qt::SortOrder sort_order_ = Qt::AscendingOrder;
};

class ThumbnailView : public QListWidget {
  Q_OBJECT

 public:
  explicit ThumbnailView(QWidget* parent = nullptr);

  // Replaces the picture shown; the first picture makes the view visible for good.
  void ShowPicture(const QImage& thumbnail);
  void Empty();

  bool shown_once() const { return shown_once_; }
  // How many pictures have been drawn (each preview draws one).
  int drawn_count() const { return drawn_count_; }
  // The picture shown now (null when empty).
  QImage CurrentPicture() const;

 private:
  bool shown_once_ = false;
  int drawn_count_ = 0;
  QImage current_;
};

}  // namespace kestrel
