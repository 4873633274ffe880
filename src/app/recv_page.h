#pragma once
// The progress page (template 133) inside the main window: the sector, count, status and
// percent fields, the run's bar and the per-file bar, and the Recover and Cancel buttons.
// StartRun, the Recover button's handler, runs the driver of the selected mode on the GUI thread
// and restores the idle state afterwards, however the run ended.

#include <memory>

#include <QWidget>

#include "run/run_context.h"
#include "run/run_outcome.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrel {

class DialogHost;
class GuiRunUi;
class ResultsList;

// What the page needs of the window that holds it.
class RunOwner {
 public:
  virtual ~RunOwner() = default;
  // Enables or disables the window's controls 1289, 1313, 1002, 1288, 1304, 1305 and 1312.
  virtual void SetRunControlsEnabled(bool enabled) = 0;
  virtual void EmptyThumbnail() = 0;
  // Runs the driver of the selected mode (nothing for an unknown mode).
  virtual RunResult RunDriver(RunContext& run) = 0;
  // The run ended, the page is idle again; `run_folder` is "" when the run made none.
  virtual void RunFinished(const RunResult& /*result*/, const std::string& /*run_folder*/) {}
};

class CRecvPage : public QWidget {
  Q_OBJECT

 public:
  CRecvPage(RunOwner& owner, ResultsList& results, DialogHost& host, QWidget* parent);
  ~CRecvPage() override;

  // The Recover button's handler. Does nothing while a run is in progress.
  void StartRun();
  // The Cancel button's handler: asks the running driver to stop at its next poll.
  void RequestCancel();

  // A run is in progress (from the Recover click until the page is idle again).
  bool run_active() const { return run_active_; }
  // The driver has made its run folder and is recovering.
  bool recovery_running() const { return run_.recovery_running(); }
  const RunResult& last_result() const { return last_result_; }
  int runs_started() const { return runs_started_; }
  RunContext& run_context() { return run_; }

  // Field writers used by the run's RunUi.
  void SetField(ProgressField field, const QString& text);
  QString FieldText(ProgressField field) const;
  void SetScanFieldsVisible(bool visible);
  // "12.5 MB/s, 3:05 left" beside the buttons; cleared when the run ends.
  void SetSpeed(const QString& text);
  void SetBarRange(uint32_t low, uint32_t high);
  void SetBarPosition(uint32_t position);
  void StepBar();
  void SetFileBar(uint64_t position, uint64_t range);

 private:
  void BuildControls();
  void EnterRunningState();
  void RestoreIdleState();

  RunOwner& owner_;
  std::unique_ptr<GuiRunUi> ui_;
  RunContext run_;
  bool run_active_ = false;
  int runs_started_ = 0;
  RunResult last_result_;

  QLabel* sector_label_ = nullptr;    // 1028
  QLabel* sector_ = nullptr;          // 1029
  QLabel* count_label_ = nullptr;     // 1030
  QLabel* count_ = nullptr;           // 1034
  QLabel* status_ = nullptr;          // 1040
  QLabel* percent_ = nullptr;         // 1033
  QProgressBar* bar_ = nullptr;       // 1035
  QProgressBar* file_bar_ = nullptr;  // 1038
  QPushButton* cancel_ = nullptr;     // 1037
  QPushButton* recover_ = nullptr;    // 1036
  QLabel* speed_ = nullptr;           // the run's speed and time left
};

}  // namespace kestrel
