#include "output/recovered_writer.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "output/output_naming.h"
#include "platform/number_format.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// How many taken names a new file steps over before it gives up.
constexpr int kNameAttempts = 100000;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// `runs` cut to the first `length` bytes of the file.
std::vector<ReportRun> RunsWithin(std::vector<ReportRun> runs, uint64_t length) {
  std::vector<ReportRun> within;
  for (ReportRun& run : runs) {
    if (run.file_offset >= length) break;
    run.length = std::min(run.length, length - run.file_offset);
    within.push_back(run);
  }
  return within;
}

}  // namespace

RecoveredWriter::RecoveredWriter(RunContext& run, std::string run_folder)
    : run_(run), run_folder_(std::move(run_folder)) {
  run_dir_ = OpenRunFolder(run_folder_, false, &run_dir_error_);
}

const FolderHandle& RecoveredWriter::NamedFolder(const std::string& relative_folder) {
  if (relative_folder.empty()) return run_dir_;
  if (named_dir_.is_open() && named_dir_path_ == relative_folder) return named_dir_;
  named_dir_ = FolderHandle();
  named_dir_path_.clear();
  int parent = run_dir_.fd();
  FolderHandle folder;
  for (size_t start = 0; start < relative_folder.size();) {
    const size_t slash = relative_folder.find('/', start);
    const size_t end = slash == std::string::npos ? relative_folder.size() : slash;
    int error = 0;
    folder = OpenFolderIn(parent, relative_folder.substr(start, end - start), true, &error);
    if (!folder.is_open()) {
      const std::string shown = run_folder_ + relative_folder.substr(0, end);
      failure_reason_ = error == ELOOP
                            ? FormatMessage(msg::kFolderIsLink, shown)
                            : "cannot make the folder " + shown + ": " + ErrnoText(error);
      named_dir_ = FolderHandle();  // not the folder above the one that failed
      return named_dir_;
    }
    named_dir_ = std::move(folder);
    parent = named_dir_.fd();
    start = end + 1;
  }
  named_dir_path_ = relative_folder;
  return named_dir_;
}

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
    const std::string name = CarvedName(kCarvedPrefix, number, extension);
    const FileErrorCause cause =
        out_.CreateIn(run_dir_.fd(), name, run_folder_ + name, WantsDigests());
    if (cause == FileErrorCause::kNone) {
      next_number_[extension] = number;
      open_extension_ = extension;
      open_number_ = number;
      open_wanted_.clear();
      open_name_as_read_.reset();
      failed_ = false;
      StartOpenReport();
      return true;
    }
    // Not a taken name: another number will not help, and no carved file can be written. The
    // run stops with the reason instead of dropping every file after this one in silence.
    if (out_.last_errno() != EEXIST) {
      ReportFailure(cause, run_folder_ + name);
      return false;
    }
  }
  return false;
}

FileErrorCause RecoveredWriter::CreateNamed(const std::string& relative_folder,
                                            const std::string& name,
                                            const std::string& name_as_read) {
  open_name_as_read_ = name_as_read;
  open_extension_.clear();
  open_wanted_.clear();
  failed_ = false;
  failure_reason_.clear();
  if (!run_dir_.is_open()) {
    failure_reason_ =
        "cannot open the run folder " + run_folder_ + ": " + ErrnoText(run_dir_error_);
    return FileErrorCause::kBadPath;
  }
  const FolderHandle& folder = NamedFolder(relative_folder);
  if (!folder.is_open()) return FileErrorCause::kBadPath;
  const std::string wanted = relative_folder + name;
  uint64_t& next_copy = next_copy_[wanted];
  FileErrorCause cause = FileErrorCause::kOther;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::string unique = MakeUniquePath(name, &next_copy, folder.fd());
    cause =
        out_.CreateIn(folder.fd(), unique, run_folder_ + relative_folder + unique, WantsDigests());
    if (cause == FileErrorCause::kNone) {
      open_wanted_ = wanted;
      open_copy_ = next_copy - 1;
      StartOpenReport();
      return cause;
    }
    if (out_.last_errno() != EEXIST) break;
  }
  failure_reason_ = "cannot create " + out_.path() + ": " + ErrnoText(out_.last_errno());
  return cause;
}

bool RecoveredWriter::HasRoomFor(uint64_t bytes) {
  struct statvfs st {};
  if (!run_dir_.is_open() || ::fstatvfs(run_dir_.fd(), &st) != 0) return true;
  const uint64_t block = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
  if (block == 0) return true;
  // What the file takes on the disk: whole blocks.
  const uint64_t blocks = bytes / block + (bytes % block != 0 ? 1 : 0);
  if (blocks <= st.f_bavail) return true;
  const uint64_t free_bytes = static_cast<uint64_t>(st.f_bavail) * block;
  failure_reason_ = "it needs " + GroupThousands(bytes) + " bytes, and only " +
                    GroupThousands(free_bytes) + " bytes are free in " + run_folder_;
  return false;
}

void RecoveredWriter::WriteFailed(FileErrorCause cause, const std::string& path) {
  if (!open_wanted_.empty() && cause != FileErrorCause::kDiskFull) {
    failure_reason_ = "cannot write " + path + ": " + ErrnoText(out_.last_errno());
    return;
  }
  ReportFailure(cause, path);
}

bool RecoveredWriter::Write(const uint8_t* data, size_t length) {
  if (failed_ || !out_.is_open()) return false;
  if (length == 0) return true;
  const FileErrorCause cause = out_.Write(data, length);
  if (cause == FileErrorCause::kNone) {
    if (digest_) digest_->Update(data, length);
    return true;
  }
  failed_ = true;
  WriteFailed(cause, out_.path());
  return false;
}

bool RecoveredWriter::AppendHole(uint64_t length) {
  if (failed_ || !out_.is_open()) return false;
  const FileErrorCause cause = out_.AppendHole(length);
  if (cause == FileErrorCause::kNone) {
    if (digest_) digest_->UpdateZeros(length);
    return true;
  }
  failed_ = true;
  WriteFailed(cause, out_.path());
  return false;
}

std::string RecoveredWriter::FreeNumberedName(const std::string& extension, uint64_t* number) {
  *number = NextNumber(extension);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++*number) {
    std::string name = CarvedName(kCarvedPrefix, *number, extension);
    if (NameIsFree(name, run_dir_.fd())) return name;
  }
  return {};
}

bool RecoveredWriter::Keep(uint64_t cut, const std::string& extension, uint64_t listed_size) {
  if (!out_.is_open()) return false;
  if (failed_) {
    Discard();
    return false;
  }
  if (cut < out_.Length()) {
    CutDigest(cut);
    out_.Truncate(cut);
  }
  std::string numbered_extension = open_extension_;
  uint64_t number = open_number_;
  if (!extension.empty() && !open_extension_.empty() && extension != open_extension_) {
    // The file gets its final name at once; the number it was opened under stays free.
    uint64_t final_number = 0;
    const std::string final_name = FreeNumberedName(extension, &final_number);
    if (!final_name.empty()) {
      out_.SetFinalName(run_dir_.fd(), final_name, run_folder_ + final_name);
      numbered_extension = extension;
      number = final_number;
    }
  }
  const std::string path = out_.path();
  const uint64_t length = out_.Length();
  if (const FileErrorCause cause = out_.Close(); cause != FileErrorCause::kNone) {
    WriteFailed(cause, path);
    return false;
  }
  if (!numbered_extension.empty()) {
    uint64_t& next = next_number_[numbered_extension];
    if (number + 1 > next) next = number + 1;
  }
  open_wanted_.clear();
  ReportKept(path, length, open_facts_.state);
  run_.AddRecoveredFile(
      {path, listed_size == kNoCut ? length : listed_size, true, open_name_as_read_});
  run_.CountRecovered();
  return true;
}

std::string RecoveredWriter::FreeNotWholeName(const std::string& extension) {
  if (!not_whole_dir_.is_open()) {
    int error = 0;
    not_whole_dir_ = OpenFolderIn(run_dir_.fd(), kNotWholeFolder, true, &error);
    if (!not_whole_dir_.is_open()) return {};
  }
  auto [entry, added] = next_not_whole_number_.try_emplace(extension, 0);
  if (added) {
    std::string name;
    NextFreeNumber(run_folder_ + kNotWholeFolder + "/", kCarvedPrefix, extension, &name,
                   &entry->second);
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++entry->second) {
    std::string name = CarvedName(kCarvedPrefix, entry->second, extension);
    if (NameIsFree(name, not_whole_dir_.fd())) return name;
  }
  return {};
}

bool RecoveredWriter::KeepNotWhole(uint64_t cut, const std::string& extension) {
  if (!out_.is_open()) return false;
  const std::string final_name = FreeNotWholeName(extension.empty() ? open_extension_ : extension);
  if (failed_ || final_name.empty()) {
    Discard();
    return false;
  }
  if (cut < out_.Length()) {
    CutDigest(cut);
    out_.Truncate(cut);
  }
  const std::string final_path = run_folder_ + kNotWholeFolder + "/" + final_name;
  out_.SetFinalName(not_whole_dir_.fd(), final_name, final_path);
  const uint64_t length = out_.Length();
  if (const FileErrorCause cause = out_.Close(); cause != FileErrorCause::kNone) {
    ReportFailure(cause, final_path);
    return false;
  }
  ++next_not_whole_number_[extension.empty() ? open_extension_ : extension];
  ReportKept(final_path, length, ReportedState::kNotWhole);
  run_.AddNotWholeFile({final_path, length, true, std::nullopt});
  return true;
}

void RecoveredWriter::SetAside() {
  aside_.emplace();
  aside_->out = std::move(out_);
  aside_->extension = open_extension_;
  aside_->number = open_number_;
  aside_->failed = failed_;
  aside_->digest = std::move(digest_);
  out_ = OutputFile();
  failed_ = false;
  digest_.reset();
}

void RecoveredWriter::TakeBack() {
  if (!aside_) return;
  if (out_.is_open()) out_.Discard();
  out_ = std::move(aside_->out);
  open_extension_ = aside_->extension;
  open_number_ = aside_->number;
  failed_ = aside_->failed;
  digest_ = std::move(aside_->digest);
  open_facts_ = ReportedFile{};
  open_wanted_.clear();
  open_name_as_read_.reset();
  aside_.reset();
}

void RecoveredWriter::Discard() {
  out_.Discard();
  digest_.reset();
  // The name of a restored file not kept is free again for the next file wanting it.
  if (!open_wanted_.empty()) {
    uint64_t& next_copy = next_copy_[open_wanted_];
    if (next_copy == open_copy_ + 1) next_copy = open_copy_;
    open_wanted_.clear();
  }
}

void RecoveredWriter::CutOpen(uint64_t length) {
  CutDigest(length);
  if (out_.Truncate(length) != FileErrorCause::kNone) failed_ = true;
}

void RecoveredWriter::StartOpenReport() {
  open_facts_ = ReportedFile{};
  digest_.reset();
  if (report_ != nullptr && !report_->digests().empty()) digest_.emplace(report_->NewDigest());
}

void RecoveredWriter::CutDigest(uint64_t length) {
  if (!digest_) return;
  digest_->CutTo(length, [this](uint64_t offset, uint8_t* buffer, size_t count) {
    return out_.ReadBack(offset, buffer, count);
  });
}

void RecoveredWriter::ReportKept(const std::string& path, uint64_t length, ReportedState state) {
  if (report_ == nullptr) return;
  ReportedFile file = std::move(open_facts_);
  open_facts_ = ReportedFile{};
  file.name = path.compare(0, run_folder_.size(), run_folder_) == 0
                  ? path.substr(run_folder_.size())
                  : path;
  file.size = length;
  file.state = state;
  file.runs = RunsWithin(std::move(file.runs), length);
  // Digests that do not cover exactly the bytes kept are never reported.
  if (digest_ && digest_->length() == length) {
    report_->Add(std::move(file), std::move(*digest_));
  } else {
    report_->Add(std::move(file));
  }
  digest_.reset();
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
