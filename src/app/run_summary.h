#pragma once
// The line below the results list after a run: how many files the run kept and where, with a
// button that opens the run folder in the desktop's file manager. It stands beside the run's
// closing message (which stays as it is) and speaks also for runs cancelled or aborted.

#include <QWidget>

#include "run/run_outcome.h"

class QLabel;
class QPushButton;

namespace kestrel {

class DialogHost;

// "3 files kept in /home/ann/Recover/12092026/.", after "Cancelled. " or "Aborted. " for those
// runs; "No file was kept." when none was.
QString RunSummaryText(RunOutcome outcome, int kept, const QString& folder);

class RunSummary : public QWidget {
  Q_OBJECT

 public:
  RunSummary(DialogHost& host, QWidget* parent);

  // Shows the summary of a run that kept `kept` files in `folder` ("" when it made none).
  void ShowRun(RunOutcome outcome, int kept, const QString& folder);
  // Hides the summary (a new run starts).
  void Clear();
  // Opens the run folder; a desktop that cannot is reported.
  void OpenFolder();

 private:
  DialogHost& host_;
  QString folder_;
  QLabel* text_ = nullptr;
  QPushButton* open_ = nullptr;
};

}  // namespace kestrel
