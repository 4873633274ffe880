#include "recover/raw_scan.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <new>

#include "carve/carve_engine.h"
#include "carve/dispatch.h"
#include "fs/free_space.h"
#include "fs/unit_grid.h"
#include "output/output_naming.h"
#include "output/recovered_output.h"
#include "output/recovered_writer.h"
#include "output/run_folder_rollback.h"
#include "platform/atomic_file.h"
#include "platform/partial_files.h"
#include "recover/chunk_reader.h"
#include "recover/locked_source.h"
#include "recover/read_ahead.h"
#include "recover/scan_checkpoint.h"
#include "recover/sector_run_list.h"
#include "run/messages.h"

namespace kestrel {
namespace {

// The blocks the second look inside files that were not kept reads in.
constexpr uint64_t kRescanBlockSectors = 256;

bool IsAllZero(const uint8_t* data, size_t length) {
  static const uint8_t kZeros[kChunkSectors * kSectorBytes] = {};
  while (length > 0) {
    size_t n = std::min(length, sizeof kZeros);
    if (std::memcmp(data, kZeros, n) != 0) return false;
    data += n;
    length -= n;
  }
  return true;
}

// The name of the file that tests whether the run folder can be written, before mkstemp's six
// characters.
constexpr const char* kWriteTestPrefix = ".kestrel-write-test-";

// Whether a file can be created in the run folder. The probe's name can never be a recovered
// file's, so removing it cannot remove one.
bool RunFolderIsWritable(const std::string& run_folder) {
  std::string probe = run_folder + kWriteTestPrefix + "XXXXXX";
  int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  bool written = ::write(fd, "test", 4) == 4 && ::fsync(fd) == 0;
  ::close(fd);
  ::unlink(probe.c_str());
  return written;
}

class RawScan {
 public:
  RawScan(RunContext& run, const RawScanRequest& request) : run_(run), request_(request) {}

  RunResult Run();

 private:
  RunOutcome Prepare();
  RunOutcome Refuse(int message_id, MessageIcon icon, std::string_view argument = {});
  RunOutcome OpenSource();
  RunOutcome PlanScan();
  RunOutcome StartReading();
  // Goes on with the report the interrupted run left, when it left one and one is asked for.
  void ContinueReport();
  // Starts the run's report when one is asked for; a report that cannot be made is told in the
  // status text and the run goes on without it.
  void StartReport();
  RunOutcome ScanChunks();
  // Carves the chunks of `stream`. The first pass reports progress and asks about read errors;
  // a later pass reads sectors the first one read (and asked about) already.
  RunOutcome CarveChunks(ChunkStream& stream, bool first_pass);
  RunOutcome RescanUnexamined();
  // Feeds the file the second look opened in a span the planned sectors from `sector` to the
  // next span at `until`, and ends it unless it goes on into that span.
  RunOutcome RunOpenFileOn(uint64_t sector, uint64_t until);
  // The sectors of `spans` the plan scans, in order and merged.
  std::vector<SectorRun> PlannedPartOf(std::vector<SectorSpan> spans);
  RunOutcome ReadChunk(const ScanChunk& chunk);
  void Report(uint64_t done_sectors, uint64_t sector);
  void Close();
  // The checkpoint of the scan to go on with, checked against the source and the options.
  RunOutcome LoadCheckpoint();
  // Takes the run folder back to the checkpoint and the scan to where it was.
  RunOutcome GoOnFromCheckpoint();
  // Keeps a checkpoint when no file is open and the last one is old enough (or `now`).
  void MaybeSaveCheckpoint(uint64_t next_sector, uint64_t done_sectors, bool now = false);
  std::string CheckpointPath() const { return run_.run_folder() + kCheckpointName; }
  std::string NotWholeFolder() const { return run_.run_folder() + kNotWholeFolder; }

  RunContext& run_;
  const RawScanRequest& request_;
  ScanSource source_;
  // The source as both threads read it.
  std::unique_ptr<LockedSource> shared_source_;
  std::unique_ptr<FreeSpaceMap> free_space_;
  std::unique_ptr<ScanPlan> plan_;
  std::unique_ptr<ChunkStream> stream_;
  std::unique_ptr<RunReport> report_;  // outlives the writer, which adds to it
  std::unique_ptr<RecoveredWriter> writer_;
  std::unique_ptr<CarveEngine> engine_;
  std::string recovery_folder_;
  int last_message_ = 0;
  // The source's fingerprint, the checkpoint gone on from, and the next numbers per extension
  // the run folder held before this scan wrote anything.
  uint64_t fingerprint_ = 0;
  ScanCheckpoint resumed_;
  std::map<std::string, uint64_t> base_numbers_, base_not_whole_numbers_;
  // Where the scan went on after interruptions, this run's own included.
  std::vector<RunResumption> resumptions_;
  // Where the first pass starts and how much of the scan was done before it.
  std::unique_ptr<ScanPlan> first_pass_plan_;
  uint64_t start_sector_ = 0, done_before_ = 0;
  // The sectors files of the second look may still read between its spans.
  uint64_t run_on_left_ = 0;
  bool resuming_ = false;
  std::chrono::steady_clock::time_point last_checkpoint_ = std::chrono::steady_clock::now();
};

RunOutcome RawScan::Refuse(int message_id, MessageIcon icon, std::string_view argument) {
  last_message_ = message_id;
  run_.ShowMessage(message_id, icon, argument);
  return RunOutcome::kRefused;
}

RunOutcome RawScan::Prepare() {
  run_.ui().SetScanFieldsVisible(true);
  if (run_.PollCancel()) return RunOutcome::kCancelled;
  run_.ui().ClearResults();
  if (!request_.volume && !request_.disk && request_.path.empty()) {
    return Refuse(msg::kSelectDevice, MessageIcon::kStop);
  }
  run_.ResetRecoveredCount();
  run_.ShowRecoveredCount();

  // Every same-drive test runs before anything is created.
  const std::string& folder = request_.recovery_folder;
  const std::string root = folder.empty() ? DefaultRecoveryFolder() : folder;
  recovery_folder_ = request_.resume
                         ? (request_.resume_folder.empty() ? root : request_.resume_folder)
                         : DayFolderPath(root, Today());
  while (recovery_folder_.size() > 1 && recovery_folder_.back() == '/') recovery_folder_.pop_back();
  if (request_.volume && FolderIsOnVolume(ExistingAncestor(recovery_folder_), *request_.volume)) {
    return Refuse(msg::kSameDrive, MessageIcon::kNone);
  }
  if (RunOutcome opened = OpenSource(); opened != RunOutcome::kCompleted) return opened;
  if (RunOutcome planned = PlanScan(); planned != RunOutcome::kCompleted) return planned;
  bool resume = request_.resume;
  if (!resume && request_.offer_resume) {
    const std::string found =
        FindUnfinishedScan(root, shared_source_->Size(), fingerprint_, request_.types.mask,
                           request_.free_space_only, request_.keep_not_whole);
    if (!found.empty() &&
        run_.ui().ShowMessage(msg::kContinueUnfinishedScan, MessageIcon::kQuestion, found,
                              MessageButtons::kYesNo) == MessageAnswer::kYes) {
      resume = true;
      recovery_folder_ = found;
    }
  }
  resuming_ = resume;
  if (resume) {
    if (RunOutcome loaded = LoadCheckpoint(); loaded != RunOutcome::kCompleted) return loaded;
  } else if (const int error = CreateRunFolder(recovery_folder_); error != 0) {
    if (error == ELOOP) return Refuse(msg::kFolderIsLink, MessageIcon::kStop, recovery_folder_);
    return Refuse(msg::kCannotCreateFolder, MessageIcon::kStop,
                  recovery_folder_ + ": " + std::strerror(error));
  }
  run_.SetRunFolder(recovery_folder_ + "/");
  run_.SetRecoveryRunning(true);

  try {
    writer_ = std::make_unique<RecoveredWriter>(run_, run_.run_folder());
    engine_ = std::make_unique<CarveEngine>(*writer_, *shared_source_, request_.types.mask);
    engine_->KeepNotWholeFiles(request_.keep_not_whole);
    if (const std::optional<UnitGrid> grid = VolumeUnitGrid(*shared_source_)) {
      engine_->SetUnits(grid->anchor, grid->unit_sectors);
    }
  } catch (const std::bad_alloc&) {
    return Refuse(msg::kOutOfMemory, MessageIcon::kNone);
  }
  run_.ResetProgressBar();
  if (!RunFolderIsWritable(run_.run_folder())) {
    return Refuse(msg::kDiskFull, MessageIcon::kStop, run_.run_folder());
  }
  if (resuming_) {
    if (RunOutcome back = GoOnFromCheckpoint(); back != RunOutcome::kCompleted) return back;
  } else {
    base_numbers_ = CarvedNextNumbers(run_.run_folder());
    base_not_whole_numbers_ = CarvedNextNumbers(NotWholeFolder());
  }
  StartReport();
  // From here on the run folder always holds a checkpoint to go on from.
  MaybeSaveCheckpoint(start_sector_, done_before_, true);
  return StartReading();
}

RunOutcome RawScan::LoadCheckpoint() {
  if (request_.resume && request_.resume_folder.empty()) {
    const std::string found =
        FindUnfinishedScan(recovery_folder_, shared_source_->Size(), fingerprint_,
                           request_.types.mask, request_.free_space_only, request_.keep_not_whole);
    if (found.empty()) return Refuse(msg::kNoUnfinishedScan, MessageIcon::kStop, recovery_folder_);
    recovery_folder_ = found;
  }
  const std::string path = recovery_folder_ + "/" + kCheckpointName;
  std::string text;
  switch (ReadWholeFile(path, kMaxCheckpointBytes, &text)) {
    case ReadFileStatus::kOk:
      break;
    case ReadFileStatus::kMissing:
      return Refuse(msg::kNoUnfinishedScan, MessageIcon::kStop, recovery_folder_);
    default:
      return Refuse(msg::kCheckpointUnusable, MessageIcon::kStop, recovery_folder_);
  }
  if (ParseCheckpoint(text, &resumed_) != CheckpointStatus::kOk ||
      resumed_.next_sector > plan_->source_sectors() ||
      resumed_.done_sectors > plan_->total_sectors()) {
    return Refuse(msg::kCheckpointUnusable, MessageIcon::kStop, recovery_folder_);
  }
  if (!SameScan(resumed_, shared_source_->Size(), fingerprint_, request_.types.mask,
                request_.free_space_only, request_.keep_not_whole)) {
    return Refuse(msg::kCheckpointOfOtherScan, MessageIcon::kStop, recovery_folder_);
  }
  return RunOutcome::kCompleted;
}

RunOutcome RawScan::GoOnFromCheckpoint() {
  resumptions_ = resumed_.resumptions;
  resumptions_.push_back({resumed_.next_sector, static_cast<int64_t>(std::time(nullptr))});
  ContinueReport();
  // What the killed runs left unfinished (files, other reports) goes, as before any run in the
  // folder.
  RemoveStalePartialFiles(run_.run_folder());
  RemoveStalePartialFiles(NotWholeFolder());
  const int removed = RemoveCarvedFilesFrom(run_.run_folder(), resumed_.next_numbers);
  const int removed_partial =
      RemoveCarvedFilesFrom(NotWholeFolder(), resumed_.next_not_whole_numbers);
  if (removed != 0 || removed_partial != 0) {
    return Refuse(msg::kCannotCreateFolder, MessageIcon::kStop);
  }
  RemoveLeftTemporaries(run_.run_folder(), std::string(kCheckpointName) + ".tmp-");
  RemoveLeftTemporaries(run_.run_folder(), kWriteTestPrefix);
  base_numbers_ = resumed_.next_numbers;
  base_not_whole_numbers_ = resumed_.next_not_whole_numbers;
  engine_->RestoreUnexamined(resumed_.unexamined);
  run_.SetRecoveredCount(resumed_.recovered);
  run_.ShowRecoveredCount();
  start_sector_ = resumed_.next_sector;
  done_before_ = resumed_.done_sectors;
  return RunOutcome::kCompleted;
}

void RawScan::MaybeSaveCheckpoint(uint64_t next_sector, uint64_t done_sectors, bool now) {
  const auto time = std::chrono::steady_clock::now();
  const std::chrono::duration<double> since = time - last_checkpoint_;
  if (!engine_->idle() || (!now && since.count() < request_.checkpoint_seconds)) return;
  last_checkpoint_ = time;
  ScanCheckpoint c;
  c.source_path = source_.device_path;
  c.source_bytes = shared_source_->Size();
  c.fingerprint = fingerprint_;
  c.types = request_.types.mask;
  c.free_space_only = request_.free_space_only;
  c.keep_not_whole = request_.keep_not_whole;
  c.next_sector = next_sector;
  c.done_sectors = done_sectors;
  c.recovered = run_.recovered_count();
  c.first_pass_done = next_sector >= plan_->source_sectors();
  c.unexamined = engine_->unexamined();
  c.next_numbers = base_numbers_;
  for (const auto& [extension, next] : writer_->next_numbers()) c.next_numbers[extension] = next;
  c.next_not_whole_numbers = base_not_whole_numbers_;
  for (const auto& [extension, next] : writer_->next_not_whole_numbers()) {
    c.next_not_whole_numbers[extension] = next;
  }
  c.resumptions = resumptions_;
  // The files kept up to here are on the disk before the checkpoint names them (a power cut
  // cannot take them back), and the report holds them. A checkpoint that cannot be written costs
  // only the chance to go on later.
  const auto keep = [folder = run_.run_folder(),
                     path = CheckpointPath()](const ScanCheckpoint& checkpoint) {
    SyncFileSystemOf(folder);
    ReplaceFileAtomically(path, FormatCheckpoint(checkpoint));
  };
  if (!report_) {
    keep(c);
    return;
  }
  c.report_name = report_->name();
  report_->WhenWritten([keep, c = std::move(c)](uint64_t length) mutable {
    c.report_bytes = length;
    keep(c);
  });
}

void RawScan::ContinueReport() {
  if (!request_.dfxml.enabled || resumed_.report_name.empty()) return;
  std::string error;
  report_ = RunReport::Continue(request_.dfxml, run_.run_folder(), resumed_.report_name,
                                resumed_.report_bytes, ReportSourceOf(source_), &error);
  // A new report is started instead; its resumption notes say from where it lists files.
  if (!report_) run_.ShowStatusText("Report not continued: " + error);
}

void RawScan::StartReport() {
  if (!request_.dfxml.enabled) return;
  if (!report_) {
    std::string error;
    report_ = RunReport::Start(request_.dfxml, run_.run_folder(), ReportSourceOf(source_), &error);
    if (!report_) {
      run_.ShowStatusText("No report: " + error);
      return;
    }
  }
  report_->SetResumptions(resumptions_);
  writer_->AttachReport(report_.get());
}

RunOutcome RawScan::OpenSource() {
  int failure = 0;
  if (request_.volume) {
    failure = OpenVolumeSource(*request_.volume, &source_);
  } else if (request_.disk) {
    if (request_.map &&
        FolderIsOnDisk(ExistingAncestor(recovery_folder_), *request_.disk, *request_.map)) {
      return Refuse(msg::kSameDrive, MessageIcon::kNone);
    }
    failure = OpenDiskSource(*request_.disk, &source_);
  } else {
    if (FolderIsOnDevicePath(ExistingAncestor(recovery_folder_), request_.path)) {
      return Refuse(msg::kSameDrive, MessageIcon::kNone);
    }
    failure = OpenPathSource(request_.path, SourceKind::kDisk, &source_);
  }
  if (failure != 0) {
    return Refuse(failure,
                  failure == msg::kMediaNotPresent ? MessageIcon::kStop : MessageIcon::kNone,
                  source_.open_error);
  }
  // Taken before any wrapper, so that it costs none of the reads a test counts.
  fingerprint_ = SourceFingerprint(*source_.bytes);
  if (request_.wrap_source) source_.bytes = request_.wrap_source(std::move(source_.bytes));
  shared_source_ = std::make_unique<LockedSource>(*source_.bytes);
  return RunOutcome::kCompleted;
}

// Which sectors the scan reads: all of them, or the volume's free space (refused, before
// anything is created, when the source holds no FAT, exFAT or NTFS volume or its map cannot be
// read).
RunOutcome RawScan::PlanScan() {
  // Every sector is scanned, a last partial one included (its missing bytes read as zeros).
  const uint64_t sectors = (shared_source_->Size() + kSectorBytes - 1) / kSectorBytes;
  if (!request_.free_space_only) {
    plan_ = std::make_unique<ScanPlan>(sectors);
    return RunOutcome::kCompleted;
  }
  switch (OpenFreeSpaceMap(*shared_source_, &free_space_)) {
    case FreeSpaceResult::kOk:
      break;
    case FreeSpaceResult::kNoFileSystem:
      return Refuse(msg::kFreeSpaceNeedsFileSystem, MessageIcon::kStop);
    case FreeSpaceResult::kUnreadable:
      return Refuse(msg::kFreeSpaceUnreadable, MessageIcon::kStop);
  }
  plan_ = std::make_unique<ScanPlan>(sectors, *free_space_);
  return RunOutcome::kCompleted;
}

// The reading threads start; when none can, the carving thread reads for itself.
RunOutcome RawScan::StartReading() {
  try {
    first_pass_plan_ = std::make_unique<ScanPlan>(*plan_);
    first_pass_plan_->StartAt(start_sector_);
    ScanPlan& plan = *first_pass_plan_;
    if (request_.reading == RawScanRequest::Reading::kReadAhead) {
      auto ahead = std::make_unique<ReadAheadStream>(*shared_source_, plan, request_.read_ahead);
      if (ahead->Start()) {
        stream_ = std::move(ahead);
        return RunOutcome::kCompleted;
      }
    }
    stream_ = std::make_unique<ChunkReaderStream>(*shared_source_, plan);
  } catch (const std::bad_alloc&) {
    return Refuse(msg::kOutOfMemory, MessageIcon::kNone);
  }
  return RunOutcome::kCompleted;
}

// The read-error protocol for one chunk: ask until it reads, or the answer lets it pass.
RunOutcome RawScan::ReadChunk(const ScanChunk& chunk) {
  if (chunk.read_ok || run_.ignore_all_read_errors()) return RunOutcome::kCompleted;
  while (true) {
    switch (run_.AskReadError()) {
      case ReadErrorChoice::kAbort:
        return RunOutcome::kAborted;
      case ReadErrorChoice::kRetry:
        if (stream_->Reread(chunk)) return RunOutcome::kCompleted;
        break;
      default:  // Ignore, Ignore All, or dismissed without a choice: go on with zeros
        return RunOutcome::kCompleted;
    }
  }
}

void RawScan::Report(uint64_t done_sectors, uint64_t sector) {
  run_.ReportProgress(RunProgress{Activity::kScanning, done_sectors * kSectorBytes,
                                  plan_->total_sectors() * kSectorBytes, sector,
                                  run_.recovered_count(), plan_->source_sectors()});
}

RunOutcome RawScan::ScanChunks() {
  if (RunOutcome carved = CarveChunks(*stream_, true); carved != RunOutcome::kCompleted) {
    return carved;
  }
  if (stream_->failed()) return Refuse(msg::kOutOfMemory, MessageIcon::kNone);
  // The first pass is done: a scan killed in the second look goes on with it.
  engine_->Finish();
  MaybeSaveCheckpoint(plan_->source_sectors(), plan_->total_sectors(), true);
  if (RunOutcome again = RescanUnexamined(); again != RunOutcome::kCompleted) return again;
  Report(plan_->total_sectors(), plan_->source_sectors());
  return RunOutcome::kCompleted;
}

std::vector<SectorRun> RawScan::PlannedPartOf(std::vector<SectorSpan> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const SectorSpan& a, const SectorSpan& b) { return a.first < b.first; });
  std::vector<SectorRun> runs;
  for (const SectorSpan& span : spans) {
    const uint64_t span_end = span.first + span.count;
    SectorRun run;
    for (uint64_t from = span.first; from < span_end && plan_->NextRun(from, &run);
         from = run.end()) {
      if (run.first >= span_end) break;
      const uint64_t end = std::min(run.end(), span_end);
      if (!runs.empty() && runs.back().end() >= run.first) {
        runs.back().count = std::max(runs.back().end(), end) - runs.back().first;
      } else {
        runs.push_back({run.first, end - run.first});
      }
    }
  }
  return runs;
}

// Files that kept headers from starting and were then not kept (a document whose parts lie
// elsewhere, a file cut short) may hold whole files that were not looked for: their sectors are
// carved once more.
RunOutcome RawScan::RescanUnexamined() {
  engine_->Finish();
  // Files opened in the second look keep no header out, so they leave nothing unexamined.
  engine_->IgnoreGuards(true);
  std::vector<SectorRun> runs = PlannedPartOf(engine_->TakeUnexamined());
  if (runs.empty()) return RunOutcome::kCompleted;
  SectorRunList list(std::move(runs));
  ScanPlan plan(plan_->source_sectors(), list);
  ChunkReaderStream stream(*shared_source_, plan, kRescanBlockSectors);
  run_on_left_ = plan_->total_sectors();
  return CarveChunks(stream, false);
}

// A file that starts in a span goes on past it, as it would have in the first pass had no open
// file kept its header out. The sectors between the spans are fed to it alone (the first pass
// looked for headers there already); when it reaches the next span it goes on in it, where a
// header may end it. All such files together read at most as many sectors as the first pass,
// so a crafted image of many spans cannot make the second look read the source over and over.
RunOutcome RawScan::RunOpenFileOn(uint64_t sector, uint64_t until) {
  CarveEngine& engine = *engine_;
  const uint64_t gap = until > sector ? until - sector : 0;
  const uint64_t reach = std::min(gap, run_on_left_);
  if (engine.is_open() && reach > 0) {
    SectorRunList list(PlannedPartOf({{sector, reach}}));
    ScanPlan plan(plan_->source_sectors(), list);
    ChunkReaderStream stream(*shared_source_, plan, kRescanBlockSectors);
    run_on_left_ -= std::min(run_on_left_, kRescanBlockSectors);
    ScanChunk chunk;
    while (engine.is_open() && stream.Next(&chunk)) {
      if (run_.PollCancel()) return RunOutcome::kCancelled;
      run_on_left_ -= std::min<uint64_t>(run_on_left_, chunk.count);
      for (uint32_t i = 0; i < chunk.count && engine.is_open(); ++i) {
        engine.Feed(stream.Sector(chunk.first + i));
        if (engine.stopped()) return RunOutcome::kStopped;
      }
    }
  }
  if (reach != gap || until >= plan_->source_sectors()) engine.Finish();
  return RunOutcome::kCompleted;
}

RunOutcome RawScan::CarveChunks(ChunkStream& stream, bool first_pass) {
  CarveEngine& engine = *engine_;
  const uint64_t total = plan_->total_sectors();
  uint64_t done = first_pass ? done_before_ : 0;
  uint64_t next_sector = 0;
  ScanChunk chunk;
  while (stream.Next(&chunk)) {
    if (first_pass) {
      run_.ShowPercent(ScanPercent(done, total));
      run_.ShowCurrentSector(chunk.first);
      Report(done, chunk.first);
    } else if (chunk.first != next_sector) {
      if (RunOutcome on = RunOpenFileOn(next_sector, chunk.first); on != RunOutcome::kCompleted) {
        return on;
      }
    }
    next_sector = chunk.first + chunk.count;
    if (run_.PollCancel()) return RunOutcome::kCancelled;
    run_.PumpMessages();
    if (first_pass) {
      if (RunOutcome read = ReadChunk(chunk); read != RunOutcome::kCompleted) return read;
    }
    done += chunk.count;
    const SectorInput first = stream.Sector(chunk.first);
    const bool empty = !engine.is_open() &&
                       (chunk.zeros || IsAllZero(first.data, size_t{chunk.count} * kSectorBytes));
    for (uint32_t i = 0; i < chunk.count && !empty; ++i) {
      if (run_.PollCancel()) return RunOutcome::kCancelled;
      const SectorInput in = stream.Sector(chunk.first + i);
      if (DispatchSector(engine, in) == DispatchVerdict::kStopScan) return RunOutcome::kStopped;
    }
    if (first_pass) MaybeSaveCheckpoint(next_sector, done);
  }
  if (!first_pass) return RunOpenFileOn(next_sector, plan_->source_sectors());
  return RunOutcome::kCompleted;
}

void RawScan::Close() {
  // The reading threads end first: nothing they read into or through is freed before them.
  stream_.reset();
  run_.ui().SetFieldText(ProgressField::kRecoveredCount, "");
  run_.ui().SetFieldText(ProgressField::kPercent, "");
  run_.ui().SetFieldText(ProgressField::kCurrentSector, "");
  run_.ui().SetBarRange(0, 0);
  if (engine_) {
    engine_->ClearStop();
    engine_->Finish();
  }
  engine_.reset();
  writer_.reset();
  report_.reset();  // the report ends with every file the run kept
  plan_.reset();
  free_space_.reset();
  shared_source_.reset();
  source_.bytes.reset();
  run_.ui().SetScanFieldsVisible(false);
  run_.ClearCancel();
  run_.SetRecoveryRunning(false);
}

RunResult RawScan::Run() {
  RunResult result;
  RunOutcome outcome = Prepare();
  if (outcome == RunOutcome::kCompleted) outcome = ScanChunks();
  if (outcome == RunOutcome::kCompleted) {
    engine_->Finish();
    run_.ui().SetBarPosition(100);
    run_.ui().SetFieldText(ProgressField::kPercent, "100%");
    result.recovered = run_.recovered_count();
    last_message_ = run_.recovered_count() != 0 ? msg::kCompleted : msg::kNothingFound;
    // A scan that completed has nothing to go on with (and no checkpoint is still being kept).
    if (report_) report_->Drain();
    ::unlink(CheckpointPath().c_str());
    RemoveLeftTemporaries(run_.run_folder(), std::string(kCheckpointName) + ".tmp-");
    run_.ShowMessage(last_message_, MessageIcon::kNone);
    run_.ResetRecoveredCount();
  } else {
    result.recovered = run_.recovered_count();
  }
  Close();
  result.outcome = outcome;
  result.message_id = last_message_;
  return result;
}

}  // namespace

RunResult RunRawScan(RunContext& run, const RawScanRequest& request) {
  RawScan scan(run, request);
  return scan.Run();
}

}  // namespace kestrel
