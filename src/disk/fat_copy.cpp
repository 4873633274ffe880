// The copy step of the FAT deleted-files search: every wanted entry becomes one file in the run
// folder, read as one contiguous run of sectors from its first cluster.

#include <cctype>
#include <cerrno>
#include <new>
#include <vector>

#include "disk/fat_recovery.h"
#include "disk/recovered_output.h"
#include "disk/scan_source.h"
#include "platform/output_file.h"
#include "platform/settings_store.h"
#include "run/messages.h"
#include "run/output_naming.h"

namespace kestrel {
namespace {

constexpr uint64_t kChunkSectors = 64;  // 32 KiB per read
// Names stay well below the 255 bytes a Linux name may have, leaving room for " - Copy(k)".
constexpr size_t kMaxNameBytes = 230;
constexpr int kCreateAttempts = 100;

std::string TypeTestExtension(const std::string& extension) {
  size_t begin = extension.find_first_not_of(' ');
  size_t end = extension.find_last_not_of(' ');
  std::string text = begin == std::string::npos ? "" : extension.substr(begin, end - begin + 1);
  if (text.size() > 3) text.resize(3);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Cuts the part before the extension so that the name fits, at a UTF-8 character boundary.
std::string FitNameLength(const std::string& name) {
  if (name.size() <= kMaxNameBytes) return name;
  const size_t dot = name.find_last_of('.');
  const bool keep_extension = dot != std::string::npos && name.size() - dot <= kMaxNameBytes / 2;
  const std::string extension = keep_extension ? name.substr(dot) : "";
  const std::string base = name.substr(0, name.size() - extension.size());
  size_t keep = kMaxNameBytes - extension.size();  // below base.size()
  while (keep > 0 && (static_cast<uint8_t>(base[keep]) & 0xC0) == 0x80) --keep;
  return base.substr(0, keep) + extension;
}

uint32_t FirstCluster(const DeletedEntry& entry, FatType type) {
  if (type == FatType::kFat32) return (uint32_t{entry.cluster_high} << 16) | entry.cluster_low;
  return entry.cluster_low;
}

// Whether the entry's run of sectors lies inside the data region, where a file can be.
bool RunFitsDataRegion(const FatVolumeInfo& info, uint32_t cluster, uint64_t size) {
  if (size == 0) return true;
  if (!info.IsDataCluster(cluster)) return false;
  const uint64_t first = info.ClusterFirstSector(cluster);
  const uint64_t data_end = info.ClusterFirstSector(info.LastCluster()) + info.sectors_per_cluster;
  return first + (size + kSectorBytes - 1) / kSectorBytes <= data_end;
}

class EntryCopier {
 public:
  EntryCopier(DeletedRun& run, FatVolume& volume) : run_(run), volume_(volume) {}
  bool AllocateBuffer();
  // kCompleted when the copy goes on with the next entry; otherwise why it ends (its message
  // shown).
  CopyEnd Copy(const DeletedEntry& entry);

 private:
  enum class Created { kOpen, kBadPath, kSkipped, kDiskFull };
  Created CreateOutput(const std::string& name, OutputFile* file, std::string* path);
  CopyEnd StreamData(uint64_t first_sector, uint64_t size, OutputFile& file);
  CopyEnd WriteFailed(FileErrorCause cause, const std::string& path);
  void CountFile();

  DeletedRun& run_;
  FatVolume& volume_;
  std::vector<uint8_t> buffer_;
};

bool EntryCopier::AllocateBuffer() {
  try {
    buffer_.assign(kChunkSectors * kSectorBytes, 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void EntryCopier::CountFile() {
  ++run_.run.recovered_count;
  run_.run.ShowRecoveredCount();
}

EntryCopier::Created EntryCopier::CreateOutput(const std::string& name, OutputFile* file,
                                               std::string* path) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    *path = MakeUniquePath(run_.run_folder + name);
    FileErrorCause cause = file->Create(*path);
    if (cause == FileErrorCause::kNone) return Created::kOpen;
    if (file->last_errno() == EEXIST) continue;  // taken meanwhile: the next free name
    if (cause == FileErrorCause::kBadPath) return Created::kBadPath;
    if (cause == FileErrorCause::kDiskFull) return Created::kDiskFull;
    return Created::kSkipped;
  }
  return Created::kSkipped;
}

CopyEnd EntryCopier::WriteFailed(FileErrorCause cause, const std::string& path) {
  if (cause == FileErrorCause::kDiskFull) {
    run_.run.recovered_count = 0;
    run_.run.ShowMessage(msg::kDiskFull, MessageIcon::kStop, run_.run_folder);
    return CopyEnd::kDiskFull;
  }
  run_.run.ShowMessage(msg::kWriteFailed, MessageIcon::kStop, path);
  return CopyEnd::kWriteFailed;
}

CopyEnd EntryCopier::StreamData(uint64_t first_sector, uint64_t size, OutputFile& file) {
  const uint64_t whole = size / kSectorBytes;
  const uint64_t tail = size % kSectorBytes;
  const uint64_t chunks = whole + (tail != 0 ? 1 : 0);
  ByteSource& source = volume_.source();
  RunUi& ui = run_.run.ui();
  ui.SetFileBar(0, 100);
  for (uint64_t done = 0; done < chunks;) {
    if (done < whole) ui.SetFileBar(done * 100 / whole, 100);
    if (run_.run.PollCancel()) return CopyEnd::kCancelled;
    run_.run.PumpMessages();
    const uint64_t sectors = done < whole ? std::min(kChunkSectors, whole - done) : 1;
    const size_t bytes = static_cast<size_t>(done < whole ? sectors * kSectorBytes : tail);
    // The whole piece must come back: a failed or short read is never written as data.
    if (!source.ReadExact((first_sector + done) * kSectorBytes, buffer_.data(),
                          static_cast<size_t>(sectors * kSectorBytes))) {
      run_.run.ShowMessage(msg::kCannotReadDevice, MessageIcon::kStop);
      return CopyEnd::kReadFailed;
    }
    if (FileErrorCause cause = file.Write(buffer_.data(), bytes); cause != FileErrorCause::kNone) {
      return WriteFailed(cause, file.path());
    }
    done += sectors;
  }
  return CopyEnd::kCompleted;
}

CopyEnd EntryCopier::Copy(const DeletedEntry& entry) {
  const FatVolumeInfo& info = volume_.info();
  if (!run_.types.IsExtensionWanted(TypeTestExtension(entry.extension))) return CopyEnd::kCompleted;
  if (run_.run.PollCancel()) return CopyEnd::kCancelled;
  run_.run.PumpMessages();

  const uint32_t cluster = FirstCluster(entry, info.fat_type);
  // An entry whose run of sectors leaves the data region names no file that could be there.
  if (!RunFitsDataRegion(info, cluster, entry.size_bytes)) return CopyEnd::kCompleted;
  std::string name = RestoredFileName(entry.name, entry.extension);
  if (name.empty()) return CopyEnd::kCompleted;
  name = FitNameLength(name);

  OutputFile file;
  std::string path;
  switch (CreateOutput(name, &file, &path)) {
    case Created::kOpen:
      break;
    case Created::kBadPath:
      CountFile();
      run_.run.AddRecoveredFile({path, entry.size_bytes, false});
      run_.run.ui().StepBar();
      return CopyEnd::kCompleted;
    case Created::kSkipped:
      return CopyEnd::kCompleted;
    case Created::kDiskFull:
      return WriteFailed(FileErrorCause::kDiskFull, path);
  }
  CountFile();
  const CopyEnd streamed = StreamData(info.ClusterFirstSector(cluster), entry.size_bytes, file);
  run_.run.ui().SetFileBar(0, 0);
  if (streamed != CopyEnd::kCompleted) {
    file.Discard();  // a copy cut short is never kept
    return streamed;
  }
  if (FileErrorCause cause = file.Close(); cause != FileErrorCause::kNone) {
    return WriteFailed(cause, path);
  }
  run_.run.AddRecoveredFile({path, entry.size_bytes, true});
  ApplyFatAttributes(path, entry.attributes);
  run_.run.ui().StepBar();
  return CopyEnd::kCompleted;
}

}  // namespace

CopyEnd CopyDeletedEntries(DeletedRun& run, FatVolume& volume,
                           const std::vector<DeletedEntry>& entries) {
  EntryCopier copier(run, volume);
  if (!copier.AllocateBuffer()) {
    run.run.ShowMessage(msg::kOutOfMemory, MessageIcon::kStop);
    return CopyEnd::kOutOfMemory;
  }
  run.run.ShowStatusText(std::string(MessageText(msg::kCopyingFiles)));
  if (run.types.mask == 0) run.types.LoadFileTypeMask(run.settings);
  RunUi& ui = run.run.ui();
  ui.SetBarRange(0, static_cast<uint32_t>(std::min<size_t>(entries.size(), UINT32_MAX)));
  ui.SetBarPosition(0);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (CopyEnd end = copier.Copy(*it); end != CopyEnd::kCompleted) return end;
  }
  return CopyEnd::kCompleted;
}

}  // namespace kestrel
