#include "run/run_context.h"

#include <cctype>
#include <optional>

#include "platform/number_format.h"
#include "platform/text_trim.h"
#include "run/messages.h"

namespace kestrel {
namespace {}  // namespace

std::string FormatSectorNumber(uint64_t sector) {
  return " " + GroupThousands(sector);
}

std::string FormatSizeKb(uint64_t bytes) {
  uint64_t kb = (bytes >> 10) + ((bytes & 0x3FF) != 0 ? 1 : 0);
  return std::to_string(kb) + " KB";
}

void RunContext::ShowRecoveredCount() {
  ui_.SetFieldText(ProgressField::kRecoveredCount, " " + std::to_string(recovered_count_));
}

void RunContext::CountRecovered() {
  recovered_count_ += 1;
  ShowRecoveredCount();
}

void RunContext::ShowCurrentSector(uint64_t sector) {
  ui_.SetFieldText(ProgressField::kCurrentSector, FormatSectorNumber(sector));
}

void RunContext::ShowPercent(int percent) {
  ui_.SetFieldText(ProgressField::kPercent, std::to_string(percent) + " %");
  if (percent == 100) {
    ui_.SetBarPosition(100);
  } else if (percent != last_percent_) {
    ui_.StepBar();
  }
  last_percent_ = percent;
}

void RunContext::ShowStatusText(const std::string& text) {
  ui_.SetFieldText(ProgressField::kStatus, text);
}

void RunContext::ResetProgressBar() {
  ui_.SetBarRange(0, 100);
  ui_.SetBarPosition(0);
  last_percent_ = 0;
}

bool RunContext::PollCancel() {
  if (!cancel_requested_) return false;
  MessageAnswer answer =
      ui_.ShowMessage(msg::kConfirmCancel, MessageIcon::kQuestion, {}, MessageButtons::kYesNo);
  if (answer == MessageAnswer::kYes) return true;
  cancel_requested_ = false;
  return false;
}

MessageAnswer RunContext::ShowMessage(int message_id, MessageIcon icon, std::string_view argument) {
  return ui_.ShowMessage(message_id, icon, argument, MessageButtons::kOk);
}

ReadErrorChoice RunContext::AskReadError() {
  if (read_error_choice_ == ReadErrorChoice::kIgnoreAll) return read_error_choice_;
  ReadErrorChoice answer = ui_.AskReadError(MessageText(msg::kReadErrorText));
  if (answer != ReadErrorChoice::kNone) read_error_choice_ = answer;
  return read_error_choice_;
}

std::optional<ResultRow> RunContext::RowOf(const RecoveredFile& file) const {
  std::string path(Trim(file.full_path, kWhiteSpace));
  if (path.empty()) return std::nullopt;
  ResultRow row;
  size_t slash = path.find_last_of('/');
  row.name = slash == std::string::npos ? path : path.substr(slash + 1);
  row.size_text = FormatSizeKb(file.size_bytes);
  // A file kept in a subfolder of the run folder (the volume's folders recreated) shows that
  // subfolder; every other file the run folder.
  const bool below =
      slash != std::string::npos && path.compare(0, run_folder_.size(), run_folder_) == 0;
  const std::string folder = below ? path.substr(0, slash + 1) : run_folder_;
  row.folder_text = file.created ? folder : std::string(MessageText(msg::kInvalidRecoveryPath));
  row.full_path = path;
  row.bytes = file.size_bytes;
  row.created = file.created;
  row.name_as_read = file.name_as_read;
  return row;
}

void RunContext::AddRecoveredFile(const RecoveredFile& file) {
  if (const std::optional<ResultRow> row = RowOf(file)) ui_.AddResultRow(*row);
}

void RunContext::AddNotWholeFile(const RecoveredFile& file) {
  if (const std::optional<ResultRow> row = RowOf(file)) ui_.AddNotWholeRow(*row);
}

void RunContext::BeginRun() {
  recovered_count_ = 0;
  cancel_requested_ = false;
  last_percent_ = 0;
  read_error_choice_ = ReadErrorChoice::kNone;
}

}  // namespace kestrel
