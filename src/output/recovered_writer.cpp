#include "output/recovered_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "output/output_naming.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// How many taken names a new file steps over before it gives up.
constexpr int kNameAttempts = 100000;

}  // namespace

RecoveredWriter::RecoveredWriter(RunContext& run, std::string run_folder)
    : run_(run), run_folder_(std::move(run_folder)) {}

uint64_t RecoveredWriter::NextNumber(const std::string& extension) {
  auto [entry, added] = next_number_.try_emplace(extension, 0);
  if (added) {
    std::string name;
    NextFreeNumber(run_folder_, kCarvedPrefix, extension, &name, &entry->second);
  }
  return entry->second;
}

bool RecoveredWriter::CreateNumbered(const std::string& extension) {
  uint64_t number = NextNumber(extension);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++number) {
    const std::string path = run_folder_ + CarvedName(kCarvedPrefix, number, extension);
    if (out_.Create(path) == FileErrorCause::kNone) {
      next_number_[extension] = number;
      open_extension_ = extension;
      open_number_ = number;
      open_wanted_.clear();
      open_name_as_read_.reset();
      failed_ = false;
      return true;
    }
    if (out_.last_errno() != EEXIST) break;  // not a taken name: another number will not help
  }
  return false;
}

FileErrorCause RecoveredWriter::CreateNamed(const std::string& wanted_path,
                                            const std::string& name_as_read) {
  open_name_as_read_ = name_as_read;
  open_extension_.clear();
  open_wanted_.clear();
  failed_ = false;
  uint64_t& next_copy = next_copy_[wanted_path];
  FileErrorCause cause = FileErrorCause::kOther;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::string path = MakeUniquePath(wanted_path, &next_copy);
    cause = out_.Create(path);
    if (cause == FileErrorCause::kNone) {
      open_wanted_ = wanted_path;
      open_copy_ = next_copy - 1;
      return cause;
    }
    if (out_.last_errno() != EEXIST) return cause;
  }
  return cause;
}

bool RecoveredWriter::Write(const uint8_t* data, size_t length) {
  if (failed_ || !out_.is_open()) return false;
  if (length == 0) return true;
  const FileErrorCause cause = out_.Write(data, length);
  if (cause == FileErrorCause::kNone) return true;
  failed_ = true;
  ReportFailure(cause, out_.path());
  return false;
}

std::string RecoveredWriter::FreeNumberedPath(const std::string& extension, uint64_t* number) {
  *number = NextNumber(extension);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++*number) {
    std::string path = run_folder_ + CarvedName(kCarvedPrefix, *number, extension);
    if (NameIsFree(path)) return path;
  }
  return {};
}

bool RecoveredWriter::Keep(uint64_t cut, const std::string& extension, uint64_t listed_size) {
  if (!out_.is_open()) return false;
  if (failed_) {
    Discard();
    return false;
  }
  if (cut < out_.Length()) out_.Truncate(cut);
  std::string numbered_extension = open_extension_;
  uint64_t number = open_number_;
  if (!extension.empty() && !open_extension_.empty() && extension != open_extension_) {
    // The file gets its final name at once; the number it was opened under stays free.
    uint64_t final_number = 0;
    const std::string final_path = FreeNumberedPath(extension, &final_number);
    if (!final_path.empty()) {
      out_.SetFinalPath(final_path);
      numbered_extension = extension;
      number = final_number;
    }
  }
  const std::string path = out_.path();
  const uint64_t length = out_.Length();
  if (const FileErrorCause cause = out_.Close(); cause != FileErrorCause::kNone) {
    ReportFailure(cause, path);
    return false;
  }
  if (!numbered_extension.empty()) {
    uint64_t& next = next_number_[numbered_extension];
    if (number + 1 > next) next = number + 1;
  }
  open_wanted_.clear();
  run_.AddRecoveredFile(
      {path, listed_size == kNoCut ? length : listed_size, true, open_name_as_read_});
  run_.CountRecovered();
  return true;
}

std::string RecoveredWriter::FreeNotWholePath(const std::string& extension) {
  const std::string folder = run_folder_ + kNotWholeFolder;
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return {};
  auto [entry, added] = next_not_whole_number_.try_emplace(extension, 0);
  if (added) {
    std::string name;
    NextFreeNumber(folder + "/", kCarvedPrefix, extension, &name, &entry->second);
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++entry->second) {
    std::string path = folder + "/" + CarvedName(kCarvedPrefix, entry->second, extension);
    if (NameIsFree(path)) return path;
  }
  return {};
}

bool RecoveredWriter::KeepNotWhole(uint64_t cut, const std::string& extension) {
  if (!out_.is_open()) return false;
  const std::string final_path = FreeNotWholePath(extension.empty() ? open_extension_ : extension);
  if (failed_ || final_path.empty()) {
    Discard();
    return false;
  }
  if (cut < out_.Length()) out_.Truncate(cut);
  out_.SetFinalPath(final_path);
  const uint64_t length = out_.Length();
  if (const FileErrorCause cause = out_.Close(); cause != FileErrorCause::kNone) {
    ReportFailure(cause, final_path);
    return false;
  }
  ++next_not_whole_number_[extension.empty() ? open_extension_ : extension];
  run_.AddNotWholeFile({final_path, length, true, std::nullopt});
  return true;
}

void RecoveredWriter::SetAside() {
  aside_.emplace();
  aside_->out = std::move(out_);
  aside_->extension = open_extension_;
  aside_->number = open_number_;
  aside_->failed = failed_;
  out_ = OutputFile();
  failed_ = false;
}

void RecoveredWriter::TakeBack() {
  if (!aside_) return;
  if (out_.is_open()) out_.Discard();
  out_ = std::move(aside_->out);
  open_extension_ = aside_->extension;
  open_number_ = aside_->number;
  failed_ = aside_->failed;
  open_wanted_.clear();
  open_name_as_read_.reset();
  aside_.reset();
}

void RecoveredWriter::Discard() {
  out_.Discard();
  // The name of a restored file not kept is free again for the next file wanting it.
  if (!open_wanted_.empty()) {
    uint64_t& next_copy = next_copy_[open_wanted_];
    if (next_copy == open_copy_ + 1) next_copy = open_copy_;
    open_wanted_.clear();
  }
}

void RecoveredWriter::ListNotCreated(const std::string& path, uint64_t listed_size) {
  run_.AddRecoveredFile({path, listed_size, false, open_name_as_read_});
  run_.CountRecovered();
}

void RecoveredWriter::ReportFailure(FileErrorCause cause, const std::string& path) {
  stopped_ = true;
  if (cause == FileErrorCause::kDiskFull) {
    std::string folder = run_folder_;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    failure_message_ = msg::kDiskFull;
    run_.ShowMessage(msg::kDiskFull, MessageIcon::kStop, folder);
  } else {
    failure_message_ = msg::kWriteFailed;
    run_.ShowMessage(msg::kWriteFailed, MessageIcon::kStop, path);
  }
}

}  // namespace kestrel
