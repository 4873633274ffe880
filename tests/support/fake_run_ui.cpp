#include "support/fake_run_ui.h"

namespace kestrel::testing {

void FakeRunUi::SetFieldText(ProgressField field, const std::string& text) {
  switch (field) {
    case ProgressField::kCurrentSector:
      current_sector = text;
      break;
    case ProgressField::kRecoveredCount:
      recovered_count = text;
      break;
    case ProgressField::kPercent:
      percent = text;
      break;
    case ProgressField::kStatus:
      status = text;
      if (!text.empty()) status_texts.push_back(text);
      break;
  }
}

void FakeRunUi::SetBarRange(uint32_t low, uint32_t high) {
  bar_low = low;
  bar_high = high;
}

void FakeRunUi::StepBar() {
  ++bar_steps;
  ++bar_position;
}

void FakeRunUi::SetFileBar(uint64_t position, uint64_t range) {
  file_bar_position = position;
  file_bar_range = range;
}

void FakeRunUi::PumpMessages() {
  ++pumps;
  if (on_pump) on_pump();
}

MessageAnswer FakeRunUi::ShowMessage(int message_id, MessageIcon icon, std::string_view argument,
                                     MessageButtons buttons) {
  messages.push_back({message_id, icon, std::string(argument)});
  if (buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  if (yes_no_answers.empty()) return MessageAnswer::kNo;
  MessageAnswer answer = yes_no_answers.front();
  yes_no_answers.pop_front();
  return answer;
}

ReadErrorChoice FakeRunUi::AskReadError(std::string_view) {
  ++read_error_questions;
  if (read_error_answers.empty()) return ReadErrorChoice::kIgnore;
  ReadErrorChoice answer = read_error_answers.front();
  read_error_answers.pop_front();
  return answer;
}

std::vector<int> FakeRunUi::MessageIds() const {
  std::vector<int> ids;
  for (const ShownMessage& m : messages) ids.push_back(m.id);
  return ids;
}

}  // namespace kestrel::testing
