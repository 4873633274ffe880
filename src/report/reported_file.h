#pragma once
// What a run's report says of one file it found: written or not, where its bytes lay on the
// source, its original times and its digests.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/digest_set.h"

namespace kestrel {

// What became of a file the run found.
enum class ReportedState {
  kRecovered,          // written whole
  kPartlyOverwritten,  // written, but some of its clusters hold other files' bytes now
  kNotWhole,           // a carved file kept in "partial/": a part missing or foreign bytes
  kOverwritten,        // not written: all of it now holds other files
  kUnreadable,         // not written: its bytes could not be read
  kUndecodable,        // not written: its compressed data is damaged
  kNotWritten,         // not written: it could not be created or written (see `reason`)
};

// "recovered", "partly-overwritten", "not-whole", "overwritten", "unreadable", "undecodable",
// "not-written".
const char* ReportedStateName(ReportedState state);

// Bytes [file_offset, file_offset + length) of the file lay at `source_offset` of the source;
// a sparse run lay nowhere and reads as zeros.
struct ReportRun {
  uint64_t file_offset = 0;
  uint64_t source_offset = 0;
  uint64_t length = 0;
  bool sparse = false;
};

struct ReportedFile {
  std::string name;           // as written, relative to the run folder; empty when not written
  std::string original_path;  // inside its volume (deleted files)
  uint64_t size = 0;
  ReportedState state = ReportedState::kRecovered;
  std::optional<bool> allocated;  // unknown for carved files
  // Seconds since 1970-01-01 UTC, where the file system keeps them.
  std::optional<int64_t> modified;
  std::optional<int64_t> accessed;
  std::optional<int64_t> created;
  std::vector<ReportRun> runs;  // in file order; none when unknown
  std::vector<FileDigest> digests;
  std::string reason;  // why it was not written
};

}  // namespace kestrel
