#include "carve/carve_engine.h"

#include <algorithm>
#include <vector>

#include "platform/sector_size.h"

namespace kestrel {
namespace {

// Bytes past the sector's window are copied from the source in pieces of this size.
constexpr size_t kCopyPiece = 64 * 1024;
// Spans of files not kept that are remembered for a second look, at most.
constexpr size_t kMaxUnexamined = 1 << 16;
// A file's units without a volume's: 4 KiB from its first sector.
constexpr uint64_t kDefaultUnitSectors = 4096 / kSectorBytes;

uint64_t SectorAfter(const FilePiece& piece) {
  return (piece.source_offset + piece.length + kSectorBytes - 1) / kSectorBytes;
}

// Where the open file's bytes lay on the source, for its report.
std::vector<ReportRun> RunsOf(const std::vector<FilePiece>& pieces) {
  std::vector<ReportRun> runs;
  uint64_t file_offset = 0;
  for (const FilePiece& piece : pieces) {
    runs.push_back({file_offset, piece.source_offset, piece.length, false});
    file_offset += piece.length;
  }
  return runs;
}

void CutPieces(std::vector<FilePiece>& pieces, uint64_t length) {
  while (length > 0 && !pieces.empty()) {
    const uint64_t n = std::min(length, pieces.back().length);
    pieces.back().length -= n;
    length -= n;
    if (pieces.back().length == 0) pieces.pop_back();
  }
}

}  // namespace

void CarveEngine::SetUnits(uint64_t anchor, uint64_t unit_sectors) {
  unit_anchor_ = anchor;
  unit_sectors_ = unit_sectors;
}

ByteUnits CarveEngine::UnitsOf(uint64_t header_sector) const {
  const uint64_t unit = unit_sectors_ != 0 ? unit_sectors_ : kDefaultUnitSectors;
  const uint64_t anchor = unit_sectors_ != 0 ? unit_anchor_ : header_sector;
  return {anchor * kSectorBytes, unit * kSectorBytes};
}

uint64_t CarveEngine::NextUnitStart(uint64_t sector, uint64_t header_sector) const {
  const ByteUnits units = UnitsOf(header_sector);
  const uint64_t at = sector * kSectorBytes;
  return at <= units.anchor ? sector : units.BoundaryFrom(at) / kSectorBytes;
}

bool CarveEngine::Open(const std::string& extension, GuardSet guards,
                       std::unique_ptr<OpenFormat> format, const SectorInput& header) {
  if (is_open() || !writer_.CreateNumbered(extension)) return false;
  open_ = OpenFile{};
  open_.format = std::move(format);
  const bool guards_any = guards != kNoGuards;
  open_.guards = ignore_guards_ && guards_any ? kEveryMarkOnly : guards;
  open_.guarded = guards_any && !ignore_guards_;
  Feed(header);
  return true;
}

bool CarveEngine::Append(const SectorInput& in, uint64_t length, uint64_t continuation) {
  // The sector itself is always taken whole; past it, nothing beyond the source's end.
  const uint64_t size = source_.Size();
  const uint64_t room = size > continuation ? size - continuation : 0;
  length = std::min(length, in.count + room);
  const uint64_t at_hand = std::min<uint64_t>(length, in.count + in.valid_after);
  writer_.Write(in.data, static_cast<size_t>(at_hand));
  std::vector<uint8_t> piece;
  for (uint64_t done = at_hand; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyPiece, length - done));
    piece.resize(n);
    if (!source_.ReadExact(continuation + (done - in.count), piece.data(), n)) return false;
    writer_.Write(piece.data(), n);
    done += n;
  }
  AppendPiece(open_.pieces, in.sector * kSectorBytes, std::min<uint64_t>(length, in.count));
  if (length > in.count) AppendPiece(open_.pieces, continuation, length - in.count);
  return true;
}

void CarveEngine::Feed(const SectorInput& in) {
  if (!is_open() || in.sector < open_.resume_sector) return;
  open_.waiting = false;
  if (open_.before_last) {
    open_.before_last->CopyFrom(*open_.format);
  } else {
    open_.before_last = open_.format->Clone();
  }
  FeedOpen(in, in.sector * kSectorBytes + in.count);
}

void CarveEngine::FeedOpen(const SectorInput& in, uint64_t continuation) {
  const uint64_t before = writer_.length();
  const Fed fed = open_.format->Feed(View(in));
  if (fed.step == Step::kRefuse || !Append(in, fed.write, continuation)) {
    DiscardOpen();
    EndOpenAndGoOn();
    return;
  }
  open_.last_sector = in.sector;
  open_.last_taken = writer_.length() - before;
  if (fed.release_guard) open_.guards = kNoGuards;
  if (fed.step == Step::kComplete) EndOpenAndGoOn();
}

void CarveEngine::FeedLastSectorAgain() {
  if (!open_.before_last || open_.last_taken > writer_.length()) return;
  open_.format->CopyFrom(*open_.before_last);
  writer_.CutOpen(writer_.length() - open_.last_taken);
  CutPieces(open_.pieces, open_.last_taken);
  // The sector with its real look-behind and, as its look-ahead, the bytes where it goes on.
  std::vector<uint8_t> window(kLookBehind + kSectorBytes + kLookAhead, 0);
  const uint64_t at = open_.last_sector * kSectorBytes;
  const size_t behind = static_cast<size_t>(std::min<uint64_t>(kLookBehind, at));
  const int64_t got_behind =
      source_.ReadAt(at - behind, window.data() + kLookBehind - behind, behind);
  const int64_t got_sector = source_.ReadAt(at, window.data() + kLookBehind, kSectorBytes);
  const uint64_t continuation = open_.resume_sector * kSectorBytes;
  const int64_t got_after =
      source_.ReadAt(continuation, window.data() + kLookBehind + kSectorBytes, kLookAhead);
  SectorInput in;
  in.data = window.data() + kLookBehind;
  in.count = static_cast<uint32_t>(kSectorBytes);
  in.sector = open_.last_sector;
  in.valid_before = got_behind == static_cast<int64_t>(behind) ? behind : 0;
  in.valid_after = got_sector == static_cast<int64_t>(kSectorBytes) && got_after > 0
                       ? static_cast<size_t>(got_after)
                       : 0;
  FeedOpen(in, continuation);
}

void CarveEngine::Interrupt() {
  if (!is_open()) return;
  if (!aside_ && !open_.format->Finish(selected_).keep) {
    writer_.SetAside();
    aside_ = std::move(open_);
    open_ = OpenFile{};
    return;
  }
  EndOpenAndGoOn();
  // The file set aside goes on after the file that just ended: the header starts a file in
  // its gap in turn.
  if (is_open()) Interrupt();
}

void CarveEngine::EndOpenAndGoOn() {
  const uint64_t inner_end = open_.pieces.empty() ? 0 : SectorAfter(open_.pieces.back());
  const bool kept = EndOpen();
  if (!aside_) return;
  writer_.TakeBack();
  open_ = std::move(*aside_);
  aside_.reset();
  if (!kept || inner_end == 0) {
    EndOpen();  // the file in its gap was no whole file: it ends as it would have
    return;
  }
  open_.resume_sector = NextUnitStart(inner_end, open_.header_sector());
  open_.waiting = true;
  FeedLastSectorAgain();
}

bool CarveEngine::CheckedWhole(const Kept& kept) {
  const uint64_t length = std::min(kept.cut, writer_.length());
  if (open_.pieces.size() <= 1) {
    if (kept.check == nullptr || open_.pieces.empty()) return true;
    return kept.check(source_, open_.pieces[0].source_offset, length) != Whole::kNo;
  }
  // A file with a gap is whole only when its structure proves it.
  if (kept.proven) return true;
  if (kept.check == nullptr) return false;
  PieceSource file(source_, open_.pieces);
  return kept.check(file, 0, length) == Whole::kYes;
}

bool CarveEngine::Reassembled(Kept* kept) {
  if (kept->reassemble == nullptr || kept->check == nullptr || open_.pieces.empty() ||
      writer_.failed()) {
    return false;
  }
  // The carve in one piece, or from its first byte to the end of its last piece when it went
  // on after a file in its gap.
  const FilePiece& last = open_.pieces.back();
  const FilePiece carved =
      open_.pieces.size() == 1
          ? FilePiece{last.source_offset, std::min(kept->cut, writer_.length())}
          : FilePiece{open_.pieces[0].source_offset,
                      last.source_offset + last.length - open_.pieces[0].source_offset};
  const uint64_t length = carved.length;
  std::vector<FilePiece> pieces;
  if (!kept->reassemble(source_, carved.source_offset, length, UnitsOf(open_.header_sector()),
                        &pieces)) {
    return false;
  }
  if (pieces.empty()) {
    *kept = NotWhole();  // it goes on, but where is not known
    return true;
  }
  {
    PieceSource file(source_, pieces);
    if (kept->check(file, 0, file.Size()) != Whole::kYes) return false;
    // A file that could not be written anew is not kept.
    if (!Rewrite(file)) kept->keep = false;
  }
  // The foreign units the carve went through get the second look (the scan went on over those
  // past the carve's end): those between the pieces, and after the first one when the others
  // lay elsewhere.
  if (open_.guarded) {
    std::vector<FilePiece> sorted = pieces;
    std::sort(sorted.begin(), sorted.end(), [](const FilePiece& a, const FilePiece& b) {
      return a.source_offset < b.source_offset;
    });
    const uint64_t carved_end = SectorAfter(open_.pieces[0]);
    uint64_t first = open_.header_sector() + 1;
    for (const FilePiece& piece : sorted) {
      const uint64_t end = std::min(piece.source_offset / kSectorBytes, carved_end);
      if (end > first && unexamined_.size() < kMaxUnexamined) {
        unexamined_.push_back({first, end - first});
      }
      first = std::max(first, SectorAfter(piece));
    }
    if (carved_end > first && unexamined_.size() < kMaxUnexamined) {
      unexamined_.push_back({first, carved_end - first});
    }
  }
  open_.pieces = std::move(pieces);
  kept->cut = Kept::kNoCut;
  return true;
}

bool CarveEngine::Rewrite(ByteSource& file) {
  writer_.CutOpen(0);
  std::vector<uint8_t> piece(kCopyPiece);
  for (uint64_t done = 0; done < file.Size();) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyPiece, file.Size() - done));
    if (!file.ReadExact(done, piece.data(), n) || !writer_.Write(piece.data(), n)) return false;
    done += n;
  }
  return true;
}

bool CarveEngine::EndOpen() {
  if (!is_open()) return false;
  Kept kept = open_.format->Finish(selected_);
  if (!kept.keep && kept.pieces_elsewhere) {
    kept.keep = true;
    if (!Reassembled(&kept)) kept = kept.not_whole ? NotWhole() : Drop();
  } else if (kept.keep) {
    // A file whose end may be a cut is looked for further first (and only once).
    const bool went_on = kept.may_go_on && Reassembled(&kept);
    if (!went_on && !CheckedWhole(kept) && (kept.may_go_on || !Reassembled(&kept))) {
      kept = NotWhole();
    }
  }
  const char* extension = kept.extension != nullptr ? kept.extension : "";
  writer_.SetOpenRuns(RunsOf(open_.pieces));
  if (kept.keep && !writer_.failed()) {
    open_ = OpenFile{};
    return writer_.Keep(kept.cut, extension);
  }
  if (kept.not_whole && keep_not_whole_ && !writer_.failed()) {
    writer_.KeepNotWhole(kept.cut, extension);
  }
  DiscardOpen();
  return false;
}

void CarveEngine::DiscardOpen() {
  if (open_.guarded) {
    const uint64_t header = open_.header_sector();
    for (const FilePiece& piece : open_.pieces) {
      const uint64_t first = std::max(piece.source_offset / kSectorBytes, header + 1);
      const uint64_t end = SectorAfter(piece);
      if (end > first && unexamined_.size() < kMaxUnexamined) {
        unexamined_.push_back({first, end - first});
      }
    }
  }
  writer_.Discard();
  open_ = OpenFile{};
}

void CarveEngine::Finish() {
  EndOpen();
  if (!aside_) return;
  writer_.TakeBack();
  open_ = std::move(*aside_);
  aside_.reset();
  EndOpen();
}

}  // namespace kestrel
