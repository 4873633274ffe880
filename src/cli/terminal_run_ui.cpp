#include "cli/terminal_run_ui.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/json_text.h"
#include "cli/terminal_text.h"
#include "run/messages.h"
#include "run/run_context.h"

namespace kestrel {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
Verbosity g_verbosity = Verbosity::kNormal;

void OnInterrupt(int) {
  g_interrupted = 1;
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

// Reads one answer line from the terminal; empty on end of input.
std::string ReadAnswer() {
  char line[64];
  if (std::fgets(line, sizeof line, stdin) == nullptr) return {};
  std::string answer(line);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return answer;
}

// NAME<TAB>SIZE<TAB>FOLDER, nothing in it able to steer the terminal or break the row.
void PrintRow(const ResultRow& row) {
  std::printf("%s\t%s\t%s\n", TerminalText(row.name).c_str(), row.size_text.c_str(),
              TerminalText(row.folder_text).c_str());
}

// Message texts without the "&" of dialog shortcuts.
std::string Plain(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '&') out += c;
  }
  return out;
}

}  // namespace

void SetVerbosity(Verbosity verbosity) {
  g_verbosity = verbosity;
}

Verbosity CurrentVerbosity() {
  return g_verbosity;
}

bool ParseReadErrorPolicy(const std::string& text, ReadErrorPolicy* policy) {
  if (text.empty()) {
    *policy = isatty(STDIN_FILENO) ? ReadErrorPolicy::kAsk : ReadErrorPolicy::kIgnoreAll;
  } else if (text == "ask") {
    *policy = ReadErrorPolicy::kAsk;
  } else if (text == "abort") {
    *policy = ReadErrorPolicy::kAbort;
  } else if (text == "retry") {
    *policy = ReadErrorPolicy::kRetry;
  } else if (text == "ignore") {
    *policy = ReadErrorPolicy::kIgnore;
  } else if (text == "ignore-all") {
    *policy = ReadErrorPolicy::kIgnoreAll;
  } else {
    return false;
  }
  return true;
}

TerminalRunUi::TerminalRunUi(bool json, ReadErrorPolicy policy)
    : json_(json),
      policy_(policy),
      progress_on_terminal_(g_verbosity == Verbosity::kVerbose ||
                            (g_verbosity == Verbosity::kNormal && isatty(STDERR_FILENO) != 0)),
      stdin_is_terminal_(isatty(STDIN_FILENO) != 0) {
  g_interrupted = 0;
  InstallInterruptHandler();
}

TerminalRunUi::~TerminalRunUi() {
  ClearProgress();
  if (g_verbosity == Verbosity::kVerbose) {
    const double seconds = SecondsRunning();
    const uint64_t bytes = progress_ ? progress_->bytes_done : 0;
    std::string summary = "kestrel-cli: " + std::to_string(bytes / 1000000) + " MB read in " +
                          std::to_string(std::lround(seconds)) + " s";
    const std::string rate = FormatRate(bytes, seconds);
    if (!rate.empty()) summary += " (" + rate + ")";
    summary += ", " + std::to_string(files_written_) + " files recovered";
    std::fprintf(stderr, "%s\n", summary.c_str());
  }
  signal(SIGINT, SIG_DFL);
}

void TerminalRunUi::SetFieldText(ProgressField field, const std::string& text) {
  switch (field) {
    case ProgressField::kCurrentSector:
      sector_ = text;
      break;
    case ProgressField::kRecoveredCount:
      count_ = text;
      break;
    case ProgressField::kPercent:
      percent_ = text;
      break;
    case ProgressField::kStatus:
      status_ = text;
      if (g_verbosity == Verbosity::kVerbose && !text.empty() && text != last_status_) {
        ClearProgress();
        std::fprintf(stderr, "kestrel-cli: %s\n", TerminalText(text).c_str());
      }
      last_status_ = text;
      break;
  }
  DrawProgress();
}

void TerminalRunUi::ShowProgress(const RunProgress& progress) {
  progress_ = progress;
  if (json_progress_ != nullptr) (*json_progress_)(progress);
}

void TerminalRunUi::SetFileBar(uint64_t position, uint64_t range) {
  if (range != 0 && progress_on_terminal_) {
    status_ = "copying " + std::to_string(position * 100 / range) + " %";
    DrawProgress();
  }
}

void TerminalRunUi::DrawProgress() {
  if (!progress_on_terminal_) return;
  // The fields change at every chunk; the line is redrawn ten times a second at most.
  const auto now = std::chrono::steady_clock::now();
  if (progress_drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  std::string line = "\r\033[K";
  if (!sector_.empty()) line += Plain(MessageText(msg::kAnalyzingSector)) + sector_ + "  ";
  if (!count_.empty()) line += Plain(MessageText(msg::kRecoveredFiles)) + count_ + "  ";
  if (!percent_.empty()) line += percent_ + "  ";
  const std::string speed = progress_ ? SpeedAndTimeLeft(*progress_, SecondsRunning()) : "";
  if (!speed.empty()) line += speed + "  ";
  line += TerminalText(status_);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  progress_drawn_ = true;
}

double TerminalRunUi::SecondsRunning() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void TerminalRunUi::ClearProgress() {
  if (progress_drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress_drawn_ = false;
  }
}

void TerminalRunUi::PumpMessages() {
  if (g_interrupted && run_ != nullptr) {
    g_interrupted = 0;
    run_->RequestCancel();
  }
}

MessageAnswer TerminalRunUi::ShowMessage(int message_id, MessageIcon /*icon*/,
                                         std::string_view argument, MessageButtons buttons) {
  last_message_id_ = message_id;
  std::string text = FormatMessage(message_id, TerminalText(argument));
  ClearProgress();
  if (buttons == MessageButtons::kYesNo) {
    // Without a terminal to ask, a question about cancelling means what Ctrl-C meant.
    if (!stdin_is_terminal_) return MessageAnswer::kYes;
    std::fprintf(stderr, "%s [y/N] ", text.c_str());
    std::fflush(stderr);
    std::string answer = ReadAnswer();
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? MessageAnswer::kYes
                                                                     : MessageAnswer::kNo;
  }
  // The end messages of a run are its result (stdout); refusals and failures go to stderr.
  bool result = message_id == msg::kCompleted || message_id == msg::kNothingFound ||
                message_id == msg::kCompletedWithFilesNotWritten;
  PrintClosingMessage(message_id, argument, !result);
  return MessageAnswer::kOk;
}

ReadErrorChoice TerminalRunUi::AskReadError(std::string_view text) {
  ClearProgress();
  switch (policy_) {
    case ReadErrorPolicy::kAbort:
      return ReadErrorChoice::kAbort;
    case ReadErrorPolicy::kRetry:
      return RetryOrGiveUp();
    case ReadErrorPolicy::kIgnore:
      return ReadErrorChoice::kIgnore;
    case ReadErrorPolicy::kIgnoreAll:
      return ReadErrorChoice::kIgnoreAll;
    case ReadErrorPolicy::kAsk:
      break;
  }
  std::fprintf(stderr, "%s\n[a]bort, [r]etry, [i]gnore, ignore a[l]l? ", std::string(text).c_str());
  std::fflush(stderr);
  std::string answer = ReadAnswer();
  if (answer.empty()) return ReadErrorChoice::kNone;
  switch (answer[0]) {
    case 'a':
    case 'A':
      return ReadErrorChoice::kAbort;
    case 'r':
    case 'R':
      return ReadErrorChoice::kRetry;
    case 'l':
    case 'L':
      return ReadErrorChoice::kIgnoreAll;
    default:
      return ReadErrorChoice::kIgnore;
  }
}

// A scripted Retry must not loop for ever on a sector that never reads: after kMaxRetries
// answers at the same sector position, that chunk is ignored (its bytes become zeros).
ReadErrorChoice TerminalRunUi::RetryOrGiveUp() {
  retries_at_sector_ = sector_ == retry_sector_ ? retries_at_sector_ + 1 : 1;
  retry_sector_ = sector_;
  if (retries_at_sector_ <= kMaxRetries) return ReadErrorChoice::kRetry;
  std::fprintf(stderr, "kestrel-cli: still unreadable after %d retries at sector %s; ignored\n",
               kMaxRetries, sector_.c_str());
  retries_at_sector_ = 0;
  return ReadErrorChoice::kIgnore;
}

void TerminalRunUi::AddResultRow(const ResultRow& row) {
  ClearProgress();
  if (row.created) ++files_written_;
  if (json_) {
    JsonObject line = {{"name", row.name}};
    if (row.name_as_read) line["original_name"] = *row.name_as_read;
    line.update({{"bytes", row.bytes},
                 {"size_kb", row.size_text},
                 {"folder", row.folder_text},
                 {"path", row.full_path},
                 {"created", row.created}});
    std::printf("%s\n", JsonLine(line).c_str());
  } else {
    PrintRow(row);
  }
  std::fflush(stdout);
  DrawProgress();
}

void TerminalRunUi::AddNotWholeRow(const ResultRow& row) {
  if (!json_) {
    not_whole_rows_.push_back(row);
    return;
  }
  ClearProgress();
  const JsonObject line = {{"name", row.name},         {"bytes", row.bytes},
                           {"size_kb", row.size_text}, {"folder", row.folder_text},
                           {"path", row.full_path},    {"whole", false}};
  std::printf("%s\n", JsonLine(line).c_str());
  std::fflush(stdout);
  DrawProgress();
}

void TerminalRunUi::PrintNotWholeRows() {
  if (not_whole_rows_.empty()) return;
  std::printf("Not whole, kept apart (%zu):\n", not_whole_rows_.size());
  for (const ResultRow& row : not_whole_rows_) PrintRow(row);
  not_whole_rows_.clear();
}

void TerminalRunUi::PrintClosingMessage(int message_id, std::string_view argument, bool failure) {
  ClearProgress();
  PrintNotWholeRows();
  last_message_id_ = message_id;
  if (json_) {
    const JsonObject line = {{"message_id", message_id},
                             {"message", FormatMessage(message_id, argument)}};
    std::fprintf(failure ? stderr : stdout, "%s\n", JsonLine(line).c_str());
  } else {
    const std::string text = FormatMessage(message_id, TerminalText(argument));
    std::fprintf(failure ? stderr : stdout, "%s\n", text.c_str());
  }
  std::fflush(stdout);
}

}  // namespace kestrel
