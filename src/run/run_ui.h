#pragma once
// What a recovery run may do to the user's screen. The window implements it with widgets, the
// command line with a progress line and prompts, the tests with a scripted recorder. The rules
// on top of these primitives (percent stepping, cancel questions, row texts) live in RunContext.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "run/run_progress.h"

namespace kestrel {

enum class MessageIcon { kNone, kStop, kInformation, kQuestion };
enum class MessageButtons { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

// Answers of the read-error question; kNone when it was dismissed without a choice (Escape).
enum class ReadErrorChoice {
  kNone = 0,
  kAbort = 30864,
  kRetry = 30865,
  kIgnore = 30866,
  kIgnoreAll = 30867
};

// Text fields of the progress page.
enum class ProgressField { kCurrentSector, kRecoveredCount, kPercent, kStatus };

// One row of the results list.
struct ResultRow {
  std::string name;         // "File Name" column
  std::string size_text;    // "Size" column, "%d KB"
  std::string folder_text;  // "Recovered Path" column: the run folder or message 126
  std::string full_path;
  uint64_t bytes = 0;
  bool created = true;
  std::optional<std::string> name_as_read;  // a restored file's name as its volume gives it
};

class RunUi {
 public:
  virtual ~RunUi() = default;

  virtual void SetFieldText(ProgressField field, const std::string& text) = 0;
  // Shows or hides the sector, count and percent fields of the page.
  virtual void SetScanFieldsVisible(bool /*visible*/) {}

  // The run's progress bar.
  virtual void SetBarRange(uint32_t low, uint32_t high) = 0;
  virtual void SetBarPosition(uint32_t position) = 0;
  virtual void StepBar() = 0;

  // The run's progress in numbers, once per chunk of a scan and once more at its end.
  virtual void ShowProgress(const RunProgress& /*progress*/) {}

  // The per-file bar of the copy phase (position out of range).
  virtual void SetFileBar(uint64_t /*position*/, uint64_t /*range*/) {}

  // Redraws the page at once (before a long step without pumping).
  virtual void Repaint() {}

  // Lets the user interface react (buttons, window events, Ctrl-C). Never blocks.
  virtual void PumpMessages() {}

  // A message box: the text of `message_id` with `argument` in its "%s".
  virtual MessageAnswer ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                                    MessageButtons buttons) = 0;

  // The modal read-error dialog showing `text`.
  virtual ReadErrorChoice AskReadError(std::string_view text) = 0;

  virtual void AddResultRow(const ResultRow& row) = 0;
  // A carved file kept among the partial files (not whole): listed apart, when at all.
  virtual void AddNotWholeRow(const ResultRow& /*row*/) {}
  virtual void ClearResults() {}
};

}  // namespace kestrel
