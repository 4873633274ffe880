#include "cli/terminal_run_ui.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/json_text.h"
#include "run/messages.h"
#include "run/run_context.h"

namespace kestrel {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

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

// Message texts without the "&" of dialog shortcuts.
std::string Plain(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '&') out += c;
  }
  return out;
}

}  // namespace

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
      progress_on_terminal_(isatty(STDERR_FILENO) != 0),
      stdin_is_terminal_(isatty(STDIN_FILENO) != 0) {
  g_interrupted = 0;
  InstallInterruptHandler();
}

TerminalRunUi::~TerminalRunUi() {
  ClearProgress();
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
      break;
  }
  DrawProgress();
}

void TerminalRunUi::SetFileBar(uint64_t position, uint64_t range) {
  if (range != 0 && progress_on_terminal_) {
    status_ = "copying " + std::to_string(position * 100 / range) + " %";
    DrawProgress();
  }
}

void TerminalRunUi::DrawProgress() {
  if (!progress_on_terminal_) return;
  std::string line = "\r\033[K";
  if (!sector_.empty()) line += Plain(MessageText(msg::kAnalyzingSector)) + sector_ + "  ";
  if (!count_.empty()) line += Plain(MessageText(msg::kRecoveredFiles)) + count_ + "  ";
  if (!percent_.empty()) line += percent_ + "  ";
  line += status_;
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  progress_drawn_ = true;
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
    run_->cancel_requested = true;
  }
}

MessageAnswer TerminalRunUi::ShowMessage(int message_id, MessageIcon icon,
                                         std::string_view argument, MessageButtons buttons) {
  (void)icon;
  last_message_id_ = message_id;
  std::string text = FormatMessage(message_id, argument);
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
  bool result = message_id == msg::kCompleted || message_id == msg::kNothingFound;
  PrintClosingMessage(message_id, argument, !result);
  return MessageAnswer::kOk;
}

ReadErrorChoice TerminalRunUi::AskReadError(std::string_view text) {
  ClearProgress();
  switch (policy_) {
    case ReadErrorPolicy::kAbort:
      return ReadErrorChoice::kAbort;
    case ReadErrorPolicy::kRetry:
      return ReadErrorChoice::kRetry;
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

void TerminalRunUi::AddResultRow(const ResultRow& row) {
  ClearProgress();
  if (json_) {
    std::printf(
        "{\"name\": %s, \"bytes\": %llu, \"size_kb\": %s, \"folder\": %s, \"path\": %s, "
        "\"created\": %s}\n",
        JsonString(row.name).c_str(), static_cast<unsigned long long>(row.bytes),
        JsonString(row.size_text).c_str(), JsonString(row.folder_text).c_str(),
        JsonString(row.full_path).c_str(), row.created ? "true" : "false");
  } else {
    std::printf("%s\t%s\t%s\n", row.name.c_str(), row.size_text.c_str(), row.folder_text.c_str());
  }
  std::fflush(stdout);
  DrawProgress();
}

void TerminalRunUi::PrintClosingMessage(int message_id, std::string_view argument, bool failure) {
  ClearProgress();
  last_message_id_ = message_id;
  std::string text = FormatMessage(message_id, argument);
  if (json_) {
    std::fprintf(failure ? stderr : stdout, "{\"message_id\": %d, \"message\": %s}\n", message_id,
                 JsonString(text).c_str());
  } else {
    std::fprintf(failure ? stderr : stdout, "%s\n", text.c_str());
  }
  std::fflush(stdout);
}

}  // namespace kestrel
