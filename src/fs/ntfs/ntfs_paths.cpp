#include "fs/ntfs/ntfs_paths.h"

#include <cctype>

#include "fs/fat/fat_folders.h"
#include "fs/file_name.h"

namespace kestrel {
namespace {

constexpr uint64_t kRootRecord = 5;
constexpr uint64_t kRecordMask = 0x0000FFFFFFFFFFFF;
// Folders nest far less deeply than this; a deeper chain is damage (or a loop).
constexpr int kMaxDepth = 256;

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string NtfsPaths::FolderOf(uint64_t parent_reference) {
  return Resolve(parent_reference, 0);
}

std::string NtfsPaths::Resolve(uint64_t parent_reference, int depth) {
  const uint64_t record = parent_reference & kRecordMask;
  const auto sequence = static_cast<uint16_t>(parent_reference >> 48);
  if (record == kRootRecord) return "/";
  if (depth >= kMaxDepth) return kNtfsOrphanFolder;
  if (auto known = folders_.find(record); known != folders_.end()) return known->second;
  // Marked first, so that a chain that comes back here ends as an orphan.
  folders_[record] = kNtfsOrphanFolder;
  NtfsFileDetail parent;
  if (drive_.GetFileDetail(record, &parent) != ntfs_error::kOk || !parent.directory ||
      parent.extension || !parent.named) {
    return kNtfsOrphanFolder;
  }
  // A folder in use under another sequence number is a new one in a reused record; a deleted
  // folder's number moved on when it was deleted.
  if (!parent.deleted && sequence != 0 && parent.sequence != sequence) return kNtfsOrphanFolder;
  const std::string above = Resolve(parent.parent_reference, depth + 1);
  std::string folder = (above == "/" ? "" : above) + "/" + Utf8FileName(parent.name);
  folders_[record] = folder;
  return folder;
}

bool NtfsPathIsBelow(const std::string& path, const std::string& folder) {
  const std::vector<std::string> inside = SplitFolderPath(folder);
  const std::vector<std::string> parts = SplitFolderPath(path);
  if (parts.size() <= inside.size()) return false;
  for (size_t i = 0; i < inside.size(); ++i) {
    if (!SameNameIgnoringCase(parts[i], inside[i])) return false;
  }
  return true;
}

}  // namespace kestrel
