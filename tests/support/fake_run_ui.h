#pragma once
// A RunUi for tests: records every call and answers questions from a script.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "run/run_ui.h"

namespace kestrel::testing {

struct ShownMessage {
  int id;
  MessageIcon icon;
  std::string argument;
};

class FakeRunUi : public RunUi {
 public:
  void SetFieldText(ProgressField field, const std::string& text) override;
  void SetBarRange(uint32_t low, uint32_t high) override;
  void SetBarPosition(uint32_t position) override { bar_position = position; }
  void StepBar() override;
  void ShowProgress(const RunProgress& progress) override {
    if (on_progress) on_progress(progress);
  }
  void SetFileBar(uint64_t position, uint64_t range) override;
  void PumpMessages() override;
  MessageAnswer ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                            MessageButtons buttons) override;
  ReadErrorChoice AskReadError(std::string_view text) override;
  void AddResultRow(const ResultRow& row) override { rows.push_back(row); }
  void AddNotWholeRow(const ResultRow& row) override { not_whole_rows.push_back(row); }
  void ClearResults() override { rows.clear(); }

  // Ids of the messages shown, in order.
  std::vector<int> MessageIds() const;

  // Scripted answers; when a script runs out: No for questions, Ignore for read errors.
  std::deque<MessageAnswer> yes_no_answers;
  std::deque<ReadErrorChoice> read_error_answers;
  // Called at every PumpMessages (e.g. to press Cancel).
  std::function<void()> on_pump;
  std::function<void(const RunProgress&)> on_progress;

  std::vector<ShownMessage> messages;
  std::vector<ResultRow> rows;
  std::vector<ResultRow> not_whole_rows;
  int read_error_questions = 0;
  int pumps = 0;
  int bar_steps = 0;
  uint32_t bar_position = 0;
  uint32_t bar_low = 0, bar_high = 0;
  uint64_t file_bar_position = 0, file_bar_range = 0;
  std::string current_sector, recovered_count, percent, status;
  std::vector<std::string> status_texts;  // every status text shown but the empty ones
};

}  // namespace kestrel::testing
