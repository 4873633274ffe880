#pragma once
// The run-wide values of one recovery run and the progress operations the drivers and carving
// routines call. Every operation goes to the RunUi of the front end that started the run.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "run/run_ui.h"

namespace kestrel {

// " 1,234,567": a blank, then the number in groups of three.
std::string FormatSectorNumber(uint64_t sector);

// "%d KB" with the size rounded up to whole KiB (0 bytes: "0 KB").
std::string FormatSizeKb(uint64_t bytes);

// A file handed to the results list.
struct RecoveredFile {
  std::string full_path;
  uint64_t size_bytes = 0;
  bool created = true;
  std::optional<std::string> name_as_read;  // a restored file's name as its volume gives it
};

class RunContext {
 public:
  explicit RunContext(RunUi& ui) : ui_(ui) {}

  RunUi& ui() { return ui_; }

  // Run-wide values: the files recovered so far, whether the user asked to cancel, whether a
  // run is going on, and its run folder (ending with "/").
  uint32_t recovered_count() const { return recovered_count_; }
  void ResetRecoveredCount() { recovered_count_ = 0; }
  // The files an interrupted run of which this one goes on had recovered.
  void SetRecoveredCount(uint32_t count) { recovered_count_ = count; }
  bool cancel_requested() const { return cancel_requested_; }
  void RequestCancel() { cancel_requested_ = true; }
  void ClearCancel() { cancel_requested_ = false; }
  bool recovery_running() const { return recovery_running_; }
  void SetRecoveryRunning(bool running) { recovery_running_ = running; }
  const std::string& run_folder() const { return run_folder_; }
  void SetRunFolder(std::string folder) { run_folder_ = std::move(folder); }

  void ShowRecoveredCount();
  // One more file recovered: the count goes up by one and is shown.
  void CountRecovered();
  void ShowCurrentSector(uint64_t sector);
  // Shows "N %" and moves the bar one step when the whole percentage changed (to 100 at 100).
  void ShowPercent(int percent);
  void ShowStatusText(const std::string& text);
  void ReportProgress(const RunProgress& progress) { ui_.ShowProgress(progress); }
  void ResetProgressBar();
  // When a cancel is pending, asks message 1198. True: stop the run. False: go on (the request
  // is cleared).
  bool PollCancel();
  void PumpMessages() { ui_.PumpMessages(); }

  MessageAnswer ShowMessage(int message_id, MessageIcon icon, std::string_view argument = {});

  // The read-error protocol's question. The last answer is kept for the whole run, so Escape
  // keeps the earlier choice and an Ignore All answers every later question by itself.
  ReadErrorChoice AskReadError();
  bool ignore_all_read_errors() const { return read_error_choice_ == ReadErrorChoice::kIgnoreAll; }

  // Appends one row to the results list (nothing for an empty path).
  void AddRecoveredFile(const RecoveredFile& file);
  // Lists a carved file kept although it is not whole, apart from the recovered files.
  void AddNotWholeFile(const RecoveredFile& file);

  // Starts a new run: counts, cancel, stored read-error answer and percent are reset.
  void BeginRun();

 private:
  // The results-list row of `file` (none for an empty path).
  std::optional<ResultRow> RowOf(const RecoveredFile& file) const;

  RunUi& ui_;
  uint32_t recovered_count_ = 0;
  bool cancel_requested_ = false;
  bool recovery_running_ = false;
  std::string run_folder_;
  int last_percent_ = 0;
  ReadErrorChoice read_error_choice_ = ReadErrorChoice::kNone;
};

}  // namespace kestrel
