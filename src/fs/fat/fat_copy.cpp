// The copy step of the FAT deleted-files search: every wanted entry becomes one file in the run
// folder, read from the clusters its plan names.

#include <cctype>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "fs/fat/fat_recovery.h"
#include "output/recovered_output.h"
#include "output/recovered_writer.h"
#include "platform/settings_store.h"
#include "platform/utf16_text.h"
#include "run/messages.h"
#include "sources/scan_source.h"

namespace kestrel {
namespace {

constexpr uint64_t kChunkBytes = 64 * kSectorBytes;  // 32 KiB per read
// Names stay well below the 255 bytes a Linux name may have, leaving room for " - Copy(k)".
constexpr size_t kMaxNameBytes = 230;

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
  const std::string_view base(name.data(), name.size() - extension.size());
  return std::string(CutUtf8(base, kMaxNameBytes - extension.size())) + extension;
}

// The live file's chain, for an entry that was never marked deleted (a recycled file).
FilePlan PlanLiveFile(FatVolume& volume, uint32_t first, uint64_t size, uint64_t needed) {
  FilePlan plan;
  plan.clusters = volume.Chain(first, static_cast<size_t>(needed));
  plan.bytes =
      std::min<uint64_t>(size, uint64_t{plan.clusters.size()} * volume.info().BytesPerCluster());
  if (plan.clusters.size() < needed) plan.state = FileState::kPartlyOverwritten;
  return plan;
}

class EntryCopier {
 public:
  EntryCopier(DeletedRun& run, FatVolume& volume)
      : run_(run), volume_(volume), writer_(run.run, run.run_folder) {}
  bool AllocateBuffer();
  // kCompleted when the copy goes on with the next entry; otherwise why it ends (its message
  // shown).
  CopyEnd Copy(const DeletedEntry& entry);

 private:
  enum class Streamed { kDone, kCancelled, kReadFailed, kWriteFailed };
  Streamed StreamData(const FilePlan& plan);
  CopyEnd Stopped();
  CopyEnd ReadFailed(const DeletedEntry& entry);
  std::string OutputFolder(const DeletedEntry& entry);

  DeletedRun& run_;
  FatVolume& volume_;
  RecoveredWriter writer_;
  std::vector<uint8_t> buffer_;
};

bool EntryCopier::AllocateBuffer() {
  try {
    buffer_.assign(kChunkBytes, 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The writer has reported a full disk or a failed write. A full disk also takes back the count
// of the files copied so far.
CopyEnd EntryCopier::Stopped() {
  if (writer_.failure_message() == msg::kDiskFull) {
    run_.run.recovered_count = 0;
    return CopyEnd::kDiskFull;
  }
  return CopyEnd::kWriteFailed;
}

// One unreadable file costs that file only: it is removed, named once, and the copy goes on.
CopyEnd EntryCopier::ReadFailed(const DeletedEntry& entry) {
  writer_.Discard();
  const std::string where = entry.folder == "/" ? "/" : entry.folder + "/";
  const std::string name = where + RestoredFileName(entry.name, entry.extension);
  run_.report.unreadable.push_back(name);
  run_.run.ShowStatusText(std::string(MessageText(msg::kCannotReadDevice)) + " " + name);
  return CopyEnd::kCompleted;
}

EntryCopier::Streamed EntryCopier::StreamData(const FilePlan& plan) {
  const FatVolumeInfo& info = volume_.info();
  const uint64_t cluster_bytes = info.BytesPerCluster();
  RunUi& ui = run_.run.ui();
  ui.SetFileBar(0, 100);
  uint64_t done = 0;
  for (size_t i = 0; i < plan.clusters.size() && done < plan.bytes;) {
    // A run of consecutive clusters is read in pieces of up to 32 KiB.
    size_t run_end = i + 1;
    while (run_end < plan.clusters.size() &&
           plan.clusters[run_end] == plan.clusters[run_end - 1] + 1) {
      ++run_end;
    }
    const uint64_t run_start = info.ClusterFirstSector(plan.clusters[i]) * kSectorBytes;
    const uint64_t run_bytes = std::min<uint64_t>((run_end - i) * cluster_bytes, plan.bytes - done);
    for (uint64_t at = 0; at < run_bytes;) {
      ui.SetFileBar(done * 100 / plan.bytes, 100);
      if (run_.run.PollCancel()) return Streamed::kCancelled;
      run_.run.PumpMessages();
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, run_bytes - at));
      // The whole piece must come back: a failed or short read is never written as data.
      if (!volume_.source().ReadExact(run_start + at, buffer_.data(), piece)) {
        return Streamed::kReadFailed;
      }
      if (!writer_.Write(buffer_.data(), piece)) return Streamed::kWriteFailed;
      at += piece;
      done += piece;
    }
    i = run_end;
  }
  return Streamed::kDone;
}

// The run folder, or with kept paths the entry's folder below it. Every component stays below
// the run folder: "." and ".." (a crafted long name can hold them) become "_".
std::string EntryCopier::OutputFolder(const DeletedEntry& entry) {
  return run_.keep_paths ? KeptPathFolder(run_.run_folder, entry.folder) : run_.run_folder;
}

CopyEnd EntryCopier::Copy(const DeletedEntry& entry) {
  if (!run_.types.IsExtensionWanted(TypeTestExtension(entry.extension))) return CopyEnd::kCompleted;
  if (run_.run.PollCancel()) return CopyEnd::kCancelled;
  run_.run.PumpMessages();

  const FilePlan plan = PlanFileClusters(volume_, entry);
  if (!plan.valid) return CopyEnd::kCompleted;
  if (plan.state == FileState::kOverwritten) {
    ++run_.report.overwritten;
    return CopyEnd::kCompleted;
  }
  std::string name = RestoredFileName(entry.name, entry.extension);
  if (name.empty()) return CopyEnd::kCompleted;
  name = FitNameLength(name);

  const FileErrorCause created = writer_.CreateNamed(OutputFolder(entry) + name);
  if (created == FileErrorCause::kBadPath) {
    writer_.ListNotCreated(writer_.path(), entry.size_bytes);
    run_.run.ui().StepBar();
    return CopyEnd::kCompleted;
  }
  if (created == FileErrorCause::kDiskFull) {
    writer_.ReportFailure(created, writer_.path());
    return Stopped();
  }
  if (created != FileErrorCause::kNone) return CopyEnd::kCompleted;  // skipped
  const Streamed streamed = StreamData(plan);
  run_.run.ui().SetFileBar(0, 0);
  switch (streamed) {
    case Streamed::kDone:
      break;
    case Streamed::kCancelled:
      writer_.Discard();  // a copy cut short is never kept
      return CopyEnd::kCancelled;
    case Streamed::kReadFailed:
      return ReadFailed(entry);
    case Streamed::kWriteFailed:
      writer_.Discard();
      return Stopped();
  }
  if (!writer_.Keep()) return Stopped();
  ApplyFatAttributes(writer_.path(), entry.attributes);
  run_.run.ui().StepBar();
  return CopyEnd::kCompleted;
}

}  // namespace

uint32_t FirstClusterOf(const DeletedEntry& entry, FatType type) {
  if (type == FatType::kFat32) return (uint32_t{entry.cluster_high} << 16) | entry.cluster_low;
  return entry.cluster_low;
}

FilePlan PlanFileClusters(FatVolume& volume, const DeletedEntry& entry) {
  const FatVolumeInfo& info = volume.info();
  FilePlan plan;
  if (entry.size_bytes == 0) return plan;
  const uint32_t first = FirstClusterOf(entry, info.fat_type);
  const uint64_t cluster_bytes = info.BytesPerCluster();
  const uint64_t needed = (entry.size_bytes + cluster_bytes - 1) / cluster_bytes;
  // A file larger than the data region from its first cluster on was never there.
  if (!info.IsDataCluster(first) || needed > uint64_t{info.LastCluster()} - first + 1) {
    plan.valid = false;
    return plan;
  }
  if (entry.entry_live && !volume.IsFree(first)) {
    return PlanLiveFile(volume, first, entry.size_bytes, needed);
  }
  if (!volume.IsFree(first)) {
    plan.state = FileState::kOverwritten;
    return plan;
  }
  bool skipped = false;
  for (uint32_t cluster = first; cluster <= info.LastCluster() && plan.clusters.size() < needed;
       ++cluster) {
    if (volume.IsFree(cluster)) {
      plan.clusters.push_back(cluster);
    } else {
      skipped = true;  // another file's cluster: passed over
    }
  }
  plan.bytes = std::min<uint64_t>(entry.size_bytes, plan.clusters.size() * cluster_bytes);
  if (skipped || plan.clusters.size() < needed) plan.state = FileState::kPartlyOverwritten;
  return plan;
}

std::vector<DeletedFileListing> ListDeletedEntries(FatVolume& volume,
                                                   const FileTypeSelection& types,
                                                   const std::vector<DeletedEntry>& entries) {
  std::vector<DeletedFileListing> listing;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!types.IsExtensionWanted(TypeTestExtension(it->extension))) continue;
    const std::string name = RestoredFileName(it->name, it->extension);
    if (name.empty()) continue;
    const FilePlan plan = PlanFileClusters(volume, *it);
    if (!plan.valid) continue;
    const std::string folder = it->folder == "/" ? "/" : it->folder + "/";
    listing.push_back({folder + name, it->size_bytes, plan.state});
  }
  return listing;
}

CopyEnd CopyDeletedEntries(DeletedRun& run, FatVolume& volume,
                           const std::vector<DeletedEntry>& entries) {
  EntryCopier copier(run, volume);
  if (!copier.AllocateBuffer()) {
    run.run.ShowMessage(msg::kOutOfMemory, MessageIcon::kStop);
    return CopyEnd::kOutOfMemory;
  }
  run.run.ShowStatusText(std::string(MessageText(msg::kCopyingFiles)));
  if (run.types.mask.None()) run.types.LoadFileTypeMask(run.settings);
  RunUi& ui = run.run.ui();
  ui.SetBarRange(0, static_cast<uint32_t>(std::min<size_t>(entries.size(), UINT32_MAX)));
  ui.SetBarPosition(0);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (CopyEnd end = copier.Copy(*it); end != CopyEnd::kCompleted) return end;
  }
  return CopyEnd::kCompleted;
}

}  // namespace kestrel
