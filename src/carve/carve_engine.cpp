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

}  // namespace

bool CarveEngine::Open(const std::string& extension, GuardSet guards,
                       std::unique_ptr<OpenFormat> format, const SectorInput& header) {
  if (open_ || !writer_.CreateNumbered(extension)) return false;
  open_ = std::move(format);
  guards_ = guards;
  open_start_ = header.sector * kSectorBytes;
  open_guarded_ = guards != kNoGuards;
  Feed(header);
  return true;
}

bool CarveEngine::Append(const SectorInput& in, uint64_t length) {
  // The sector itself is always taken whole; past it, nothing beyond the source's end.
  const CarveView view = View(in);
  length = std::min(length, std::max<uint64_t>(in.count, view.SourceRoom()));
  const uint64_t at_hand = std::min<uint64_t>(length, in.count + in.valid_after);
  writer_.Write(in.data, static_cast<size_t>(at_hand));
  std::vector<uint8_t> piece;
  for (uint64_t done = at_hand; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyPiece, length - done));
    piece.resize(n);
    if (!source_.ReadExact(in.sector * kSectorBytes + done, piece.data(), n)) return false;
    writer_.Write(piece.data(), n);
    done += n;
  }
  return true;
}

void CarveEngine::Feed(const SectorInput& in) {
  if (!open_) return;
  open_last_sector_ = in.sector;
  const Fed fed = open_->Feed(View(in));
  if (fed.step == Step::kRefuse || !Append(in, fed.write)) {
    DiscardOpen();
    return;
  }
  if (fed.release_guard) guards_ = kNoGuards;
  if (fed.step == Step::kComplete) Finish();
}

void CarveEngine::DiscardOpen() {
  const uint64_t header = open_start_ / kSectorBytes;
  if (open_guarded_ && open_last_sector_ > header && unexamined_.size() < kMaxUnexamined) {
    unexamined_.push_back({header + 1, open_last_sector_ - header});
  }
  writer_.Discard();
  Close();
}

void CarveEngine::Close() {
  open_.reset();
  guards_ = kNoGuards;
}

bool CarveEngine::CheckedWhole(const Kept& kept) {
  if (kept.check == nullptr) return true;
  const uint64_t length = std::min(kept.cut, writer_.length());
  return kept.check(source_, open_start_, length) != Whole::kNo;
}

void CarveEngine::Finish() {
  if (!open_) return;
  Kept kept = open_->Finish(selected_);
  if (kept.keep && !CheckedWhole(kept)) kept = NotWhole();
  const char* extension = kept.extension != nullptr ? kept.extension : "";
  if (kept.keep && !writer_.failed()) {
    Close();
    writer_.Keep(kept.cut, extension);
    return;
  }
  if (kept.not_whole && keep_not_whole_ && !writer_.failed())
    writer_.KeepNotWhole(kept.cut, extension);
  DiscardOpen();
}

}  // namespace kestrel
