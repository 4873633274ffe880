#include "carve/carve_session.h"

#include <cerrno>

#include "platform/atomic_file.h"
#include "run/messages.h"
#include "run/output_naming.h"

namespace kestrel {
uint64_t CarveSession::NextNumber(const std::string& extension) {
  auto [entry, added] = next_number_.try_emplace(extension, 0);
  if (added) {
    std::string name;
    NextFreeNumber(run_folder, kCarvedPrefix, extension, &name, &entry->second);
  }
  return entry->second;
}

void CarveSession::CommitNumber(const std::string& extension, uint64_t number) {
  uint64_t& next = next_number_[extension];
  if (number + 1 > next) next = number + 1;
}

bool CarveSession::OpenOutput(uint8_t code, const std::string& extension, bool readable) {
  uint64_t number = NextNumber(extension);
  for (int attempt = 0; attempt < 100000; ++attempt, ++number) {
    FileErrorCause cause =
        out_.Create(run_folder + CarvedName(kCarvedPrefix, number, extension), readable);
    if (cause == FileErrorCause::kNone) {
      next_number_[extension] = number;
      open_extension_ = extension;
      open_number_ = number;
      st.file_open = true;
      st.open_types = TypeBit(code);
      st.end_offset = 0;
      last_type_code = code;
      write_failed_ = false;
      return true;
    }
    if (out_.last_errno() != EEXIST) break;  // taken by a file this run did not write
  }
  st.file_open = false;
  return false;
}

void CarveSession::ReportWriteFailure(FileErrorCause cause, const std::string& file_path) {
  st.stop_scan = true;
  if (cause == FileErrorCause::kDiskFull) {
    run_.ShowMessage(msg::kDiskFull, MessageIcon::kStop, recovery_folder_text);
  } else {
    run_.ShowMessage(msg::kWriteFailed, MessageIcon::kStop, file_path);
  }
}

void CarveSession::Write(const uint8_t* data, size_t length) {
  if (length == 0 || write_failed_ || !out_.is_open()) return;
  FileErrorCause cause = out_.Write(data, length);
  if (cause == FileErrorCause::kNone) return;
  write_failed_ = true;
  ReportWriteFailure(cause, out_.path());
}

bool CarveSession::CloseAndList() {
  const std::string file_path = out_.path();
  const uint64_t length = out_.Length();
  st.file_open = false;
  st.open_types = 0;
  if (!write_failed_) {
    FileErrorCause cause = out_.Close();
    if (cause != FileErrorCause::kNone) {
      write_failed_ = true;
      ReportWriteFailure(cause, file_path);
    }
  }
  if (write_failed_) {
    out_.Discard();
    return false;
  }
  CommitNumber(open_extension_, open_number_);
  run_.AddRecoveredFile({file_path, length, true});
  run_.CountRecovered();
  return true;
}

void CarveSession::ClearOpenFlags() {
  st.jfif_walk = false;
  st.tiff.ifd_done = false;
  st.jpeg_open = st.ole_open = st.wav_open = st.pdf_open = st.raw_open = st.avi_open = false;
  st.crw_open = st.mid_open = st.x3f_open = st.wmf_open = st.raf_open = st.msf_open = false;
  st.msv_open = st.mrw_open = st.mov_open = st.wmv_open = st.png_open = false;
  st.open_types = 0;
  st.picture_open = false;
  st.always_keep = false;
}

void CarveSession::FinishCarvedFile(uint8_t code) {
  if (!st.file_open) return;
  if (st.always_keep) st.file_complete = true;
  // zip, mpg and mp3 flags belong to their own routines, except when their own file ends here:
  // otherwise a stream ended by another header would silence the rows they guard for the rest
  // of the run.
  if (code == kZip) st.zip_open = false;
  if (code == kMpg) st.mpg_open = false;
  if (code == kMp3) st.mp3_open = false;

  bool keep = (st.file_complete || st.wmv_open) && !write_failed_;
  if (keep && (code == kGif || code == kJpg) && !st.jfif_walk) {
    // Cut after the last end marker of this file; one that never saw a marker is not a picture.
    if (st.end_offset == 0) {
      keep = false;
    } else if (out_.Length() > st.end_offset) {
      out_.Truncate(st.end_offset);
    }
  }
  st.file_complete = false;
  if (keep) {
    if (code == kZip) {
      // The ZIP routine lists its archives itself; here it is only closed.
      st.file_open = false;
      // A failed close has already deleted the unfinished file.
      if (out_.Close() == FileErrorCause::kNone) {
        CommitNumber(open_extension_, open_number_);
        run_.CountRecovered();
      }
    } else {
      CloseAndList();
    }
  } else {
    st.file_open = false;
    out_.Discard();
  }
  ClearOpenFlags();
}

void CarveSession::ReleaseNumber(const std::string& moved_path) {
  // The number of a file moved to another extension is given to the next file of the old one,
  // when it was the last number taken there.
  const std::string name = moved_path.substr(moved_path.find_last_of('/') + 1);
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.compare(0, 3, kCarvedPrefix) != 0) return;
  const std::string extension = name.substr(dot + 1);
  auto next = next_number_.find(extension);
  if (next == next_number_.end() || next->second == 0) return;
  if (name == CarvedName(kCarvedPrefix, next->second - 1, extension)) next->second -= 1;
}

std::string CarveSession::MoveToExtension(const std::string& current_path,
                                          const std::string& extension) {
  uint64_t number = NextNumber(extension);
  for (int attempt = 0; attempt < 100000; ++attempt, ++number) {
    const std::string target = run_folder + CarvedName(kCarvedPrefix, number, extension);
    const int error = RenameNoReplace(current_path, target);
    if (error == 0) {
      CommitNumber(extension, number);
      ReleaseNumber(current_path);
      return target;
    }
    if (error != EEXIST) break;
  }
  return {};
}

}  // namespace kestrel
