#pragma once
// The window's RunUi: the drivers' progress goes to the progress page, their rows to the results
// list, their questions to message boxes and the read-error dialog; the speed and time left come
// from the run's numbers, as on the command line. Event processing and field
// updates are throttled to one per 30 ms of a steady clock, so that drawing does not slow a fast
// scan; pending field texts are written before every box and at the end of the run.

#include <array>
#include <chrono>
#include <memory>

#include <QString>

#include "app/pump_throttle.h"
#include "run/run_ui.h"

class QWidget;

namespace kestrel {

class CRecvPage;
class CRetryDlg;
class DialogHost;
class ResultsList;

class GuiRunUi : public RunUi {
 public:
  GuiRunUi(CRecvPage& page, ResultsList& results, DialogHost& host);
  ~GuiRunUi() override;

  // A run starts: a new read-error dialog (with no stored choice) and fresh throttles.
  void BeginRun();
  // The run ended: pending field texts are written.
  void EndRun();
  // The read-error dialog of the current run (null before its first question).
  CRetryDlg* retry_dialog() const { return retry_.get(); }
  int pumps_processed() const { return pumps_processed_; }

  void SetFieldText(ProgressField field, const std::string& text) override;
  void SetScanFieldsVisible(bool visible) override;
  void SetBarRange(uint32_t low, uint32_t high) override;
  void SetBarPosition(uint32_t position) override;
  void StepBar() override;
  void SetFileBar(uint64_t position, uint64_t range) override;
  void ShowProgress(const RunProgress& progress) override;
  void Repaint() override;
  void PumpMessages() override;
  MessageAnswer ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                            MessageButtons buttons) override;
  ReadErrorChoice AskReadError(std::string_view text) override;
  void AddResultRow(const ResultRow& row) override;
  void ClearResults() override;

 private:
  void FlushFields();
  // The sector text with the source's sector count after it: " 1,234 of 40,000".
  QString SectorOfTotal(const QString& sector) const;
  QWidget* Window() const;

  static constexpr size_t kFieldCount = 4;
  CRecvPage& page_;
  ResultsList& results_;
  DialogHost& host_;
  std::unique_ptr<CRetryDlg> retry_;
  std::array<QString, kFieldCount> pending_{};
  std::array<bool, kFieldCount> dirty_{};
  Throttle pump_throttle_{std::chrono::milliseconds(30)};
  Throttle field_throttle_{std::chrono::milliseconds(30)};
  int pumps_processed_ = 0;
  RunProgress progress_;
  bool progress_dirty_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace kestrel
