#pragma once
// A file system as Kestrel reads it: its folders, the deleted files below a folder with where
// their bytes lie, and the clusters it marks free. FAT, exFAT and NTFS implement it in their own
// folders; the probe table (fs/probe.h) recognises a volume and opens the right one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/free_space.h"
#include "run/run_context.h"

namespace kestrel {

// How much of a deleted file is still there: all of it, some of its clusters taken by other
// files since, or all of it taken (nothing to recover).
enum class FileState { kIntact, kPartlyOverwritten, kOverwritten };

// Seconds since 1970-01-01 00:00 UTC; FAT keeps local time without a zone, read as UTC (as is
// an exFAT time whose zone offset is not recorded).
struct FileTimes {
  std::optional<int64_t> modified;
  std::optional<int64_t> accessed;
  std::optional<int64_t> created;
};

// Bytes [file_offset, file_offset + length) of a file lie at volume_offset in the volume; a
// sparse run lies nowhere and reads as zeros.
struct ByteRun {
  uint64_t file_offset = 0;
  uint64_t volume_offset = 0;
  uint64_t length = 0;
  bool sparse = false;
};

// One deleted file below the searched folder, in the order a run brings the files back.
struct DeletedFile {
  std::string folder = "/";    // inside the volume: "/" or "/A/B"
  std::string name;            // the name it is written under (Utf8FileName), never empty
  std::string name_as_read;    // its name exactly as the volume gives it, in UTF-8
  std::string type_extension;  // what the type filter tests ("JPG")
  uint64_t bytes = 0;          // its size as the file system records it
  FileState state = FileState::kIntact;
  FileTimes times;
  uint8_t dos_attributes = 0;  // FAT attribute bits given back to the written file
  uint64_t key = 0;            // which file, for its own file system

  // "/A/B/name".
  std::string VolumePath() const { return (folder == "/" ? "/" : folder + "/") + name; }
};

// The content of one file, read piece by piece.
class FileContent {
 public:
  virtual ~FileContent() = default;
  virtual uint64_t length() const = 0;
  virtual uint64_t position() const = 0;
  bool at_end() const { return position() >= length(); }
  static constexpr int64_t kUnreadable = -1;
  static constexpr int64_t kUndecodable = -2;
  // The next piece of at most `capacity` bytes; its length (0 at the end), kUnreadable when the
  // volume cannot be read, or kUndecodable when the bytes read do not decode (compressed data
  // that is damaged). The position then stays where it was.
  virtual int64_t ReadNext(uint8_t* buffer, size_t capacity) = 0;
  // When the bytes from the position on are a hole (stored nowhere, read as zeros: a sparse
  // range, or bytes never written), moves past it and returns its length; otherwise 0.
  virtual uint64_t SkipHole() { return 0; }
  // The bytes of the content that are stored, not holes: what a copy takes on a disk that has
  // holes.
  virtual uint64_t StoredBytes() const { return length(); }
  // Where the bytes lie in the volume, in file order. Empty when they are not stored as plain
  // runs (NTFS resident or compressed data): only ReadNext gives them then.
  virtual std::vector<ByteRun> Runs() const = 0;
};

// How a search for deleted files ended. Every end but kDone stops the run; the driver shows
// the message that belongs to it (none for kCancelled and kUnreadable).
enum class SearchResult {
  kDone,
  kCancelled,
  kFolderNotFound,  // the selected folder does not exist
  kNoFileSystem,    // the geometry cannot be walked
  kOutOfMemory,     // "Memory allocation error" shown
  kUnreadable,      // the file system's own structures cannot be read (no message)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // "FAT12", "FAT16", "FAT32", "exFAT", "NTFS".
  virtual std::string name() const = 0;

  // Whether the window's tree and --folder can go below the volume's root.
  virtual bool OffersFolders() const = 0;
  // The live folders inside `folder` ("/" for the root), in directory order; `found` tells a
  // missing folder from an empty one.
  virtual std::vector<std::string> Folders(const std::string& folder, bool* found = nullptr) = 0;

  // The deleted files below `folder` (deleted folders included), in the order a run brings them
  // back. Long searches show their progress and poll Cancel through `run`.
  virtual SearchResult FindDeleted(const std::string& folder, RunContext& run,
                                   std::vector<DeletedFile>* files) = 0;

  // The content of a file FindDeleted gave; null when it can no longer be read.
  virtual std::unique_ptr<FileContent> OpenContent(const DeletedFile& file) = 0;

  // The clusters marked free, for a scan of the free space only.
  virtual FreeSpaceResult OpenFreeSpace(std::unique_ptr<FreeSpaceMap>* map) = 0;
};

}  // namespace kestrel
