#pragma once
// The command line's RunUi: a progress line on stderr when it is a terminal, result rows on
// stdout (tab-separated or JSON lines), questions answered at the terminal or by policy.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/progress_json.h"
#include "run/progress_figures.h"
#include "run/run_ui.h"

namespace kestrel {

enum class ReadErrorPolicy { kAsk, kAbort, kRetry, kIgnore, kIgnoreAll };

// How much the run commands say on stderr besides their output: --quiet (no progress line),
// normal (a progress line on a terminal), --verbose (the progress line even without a terminal,
// one line per status text, and a closing summary of speed and time).
enum class Verbosity { kQuiet, kNormal, kVerbose };
void SetVerbosity(Verbosity verbosity);
Verbosity CurrentVerbosity();

// Parses --read-errors; the default is ask on a terminal and ignore-all otherwise.
bool ParseReadErrorPolicy(const std::string& text, ReadErrorPolicy* policy);

class TerminalRunUi : public RunUi {
 public:
  TerminalRunUi(bool json, ReadErrorPolicy policy);
  ~TerminalRunUi() override;

  void SetFieldText(ProgressField field, const std::string& text) override;
  void SetBarRange(uint32_t, uint32_t) override {}
  void SetBarPosition(uint32_t) override {}
  void StepBar() override {}
  void ShowProgress(const RunProgress& progress) override;
  void SetFileBar(uint64_t position, uint64_t range) override;
  void PumpMessages() override;
  MessageAnswer ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                            MessageButtons buttons) override;
  ReadErrorChoice AskReadError(std::string_view text) override;
  void AddResultRow(const ResultRow& row) override;
  void AddNotWholeRow(const ResultRow& row) override;

  // Prints a run's result message (stdout) or a failure (stderr); JSON with --json.
  void PrintClosingMessage(int message_id, std::string_view argument, bool failure);
  // The run whose cancel request Ctrl-C sets (checked at every PumpMessages).
  void AttachRun(class RunContext* run) { run_ = run; }
  // Writes the progress as JSON lines to `writer` as well (`scan --progress json`).
  void AttachJsonProgress(JsonProgressWriter* writer) { json_progress_ = writer; }
  // Takes the progress line off the terminal (before lines printed after the run).
  void ClearProgress();
  // The last message shown, for the exit status.
  int last_message_id() const { return last_message_id_; }

 private:
  // The rows of the files kept although not whole, under a heading of their own.
  void PrintNotWholeRows();
  void DrawProgress();
  double SecondsRunning() const;
  ReadErrorChoice RetryOrGiveUp();
  static constexpr int kMaxRetries = 16;
  bool json_;
  ReadErrorPolicy policy_;
  bool progress_on_terminal_;
  bool stdin_is_terminal_;
  std::string sector_, count_, percent_, status_;
  std::optional<RunProgress> progress_;  // the last numbers the run reported
  JsonProgressWriter* json_progress_ = nullptr;
  uint64_t files_written_ = 0;  // rows of files that were created
  // Rows of the files kept although not whole, printed before the run's result.
  std::vector<ResultRow> not_whole_rows_;
  bool progress_drawn_ = false;
  std::chrono::steady_clock::time_point last_draw_;
  int last_message_id_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::string last_status_;
  class RunContext* run_ = nullptr;
  std::string retry_sector_;
  int retries_at_sector_ = 0;
};

}  // namespace kestrel
