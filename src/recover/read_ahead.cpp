#include "recover/read_ahead.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "sources/scan_source.h"

namespace kestrel {

ReadAheadStream::ReadAheadStream(ByteSource& source, ScanPlan& plan, ReadAheadShape shape)
    : source_(source),
      plan_(plan),
      block_sectors_(
          std::max<uint64_t>(kChunkSectors, shape.block_sectors / kChunkSectors * kChunkSectors)),
      source_bytes_(source.Size()),
      reader_count_(std::max<size_t>(1, shape.readers)) {
  slot_bytes_ = kLookBehind + static_cast<size_t>(block_sectors_) * kSectorBytes + kLookAhead;
  slots_.resize(std::max<size_t>(2, shape.ring_blocks));
  for (Slot& slot : slots_) {
    // Not cleared: every fill writes all that the carving reads, and clearing megabytes costs
    // page faults even when the source is a few sectors.
    slot.buffer.reset(new uint8_t[slot_bytes_]);
    // A block holds at most one chunk per sector; no allocation while reading.
    slot.chunks.reserve(static_cast<size_t>(block_sectors_));
    slot.holes.reserve(64);
  }
}

ReadAheadStream::~ReadAheadStream() {
  Stop();
}

bool ReadAheadStream::Start() {
  for (size_t i = 0; i < reader_count_; ++i) {
    try {
      threads_.emplace_back(&ReadAheadStream::ReadLoop, this);
    } catch (const std::system_error&) {
      if (threads_.empty()) return false;
      // Fewer readers than asked for: the ones that run read everything.
      std::lock_guard<std::mutex> lock(mutex_);
      reader_count_ = threads_.size();
      break;
    }
  }
  return true;
}

void ReadAheadStream::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

uint8_t* ReadAheadStream::At(const Slot& slot, uint64_t sector) const {
  return slot.buffer.get() + kLookBehind + (sector - slot.block_start) * kSectorBytes;
}

// Each reader takes the next block of the plan (planning is done under the lock, in order) and
// reads it into its slot outside the lock; slots are handed out in plan order whatever the
// order in which their reads end.
void ReadAheadStream::ReadLoop() {
  try {
    while (true) {
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock,
                      [&] { return stop_ || failed_ || planned_ - released_ < slots_.size(); });
        if (stop_ || failed_ || !PlanSlot(slots_[planned_ % slots_.size()])) break;
        slot = &slots_[planned_ % slots_.size()];
        slot->ready = false;
        ++planned_;
      }
      ReadSlot(*slot);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot->ready = true;
      }
      changed_.notify_all();
    }
  } catch (...) {
    failed_ = true;  // no memory for the plan's work: the scan ends with what it has
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++readers_done_;
  }
  changed_.notify_all();
}

bool ReadAheadStream::PlanSlot(Slot& slot) {
  if (!plan_started_) {
    plan_started_ = true;
    if (!plan_.NextRun(0, &pending_)) pending_ = {};
  }
  if (pending_.count == 0) return false;
  slot.chunks.clear();
  slot.block_start = pending_.first / block_sectors_ * block_sectors_;
  const uint64_t block_end = slot.block_start + block_sectors_;
  while (pending_.count != 0 && pending_.first < block_end) {
    const uint64_t end = std::min(pending_.end(), block_end);
    for (uint64_t sector = pending_.first; sector < end;) {
      const uint64_t chunk_end = ChunkEnd(sector, end);
      slot.chunks.push_back({sector, static_cast<uint32_t>(chunk_end - sector), true});
      sector = chunk_end;
    }
    if (pending_.end() > block_end) {
      pending_ = {block_end, pending_.end() - block_end};
      break;
    }
    const uint64_t next = pending_.end();
    if (!plan_.NextRun(next, &pending_)) pending_ = {};
  }
  return true;
}

uint8_t* ReadAheadStream::ByteAt(const Slot& slot, uint64_t offset) const {
  return slot.buffer.get() + (offset + kLookBehind) - slot.block_start * kSectorBytes;
}

// The block's chunks as one span (with whatever lies between them), then the window before and
// after the span. Chunks that lie wholly in holes of the source are marked as zeros.
void ReadAheadStream::ReadSlot(Slot& slot) {
  const bool was_zero = slot.all_zero;
  slot.all_zero = true;
  slot.holes.clear();
  const uint64_t first = slot.chunks.front().first;
  const uint64_t end = slot.chunks.back().first + slot.chunks.back().count;
  const uint64_t first_byte = first * kSectorBytes;
  FillSpan(slot, first_byte, end * kSectorBytes, was_zero);
  MarkHoleChunks(slot);
  const uint64_t behind = std::min<uint64_t>(kLookBehind, first_byte);
  if (!was_zero) std::memset(ByteAt(slot, first_byte) - kLookBehind, 0, kLookBehind - behind);
  FillSpan(slot, first_byte - behind, first_byte, was_zero);
  FillSpan(slot, end * kSectorBytes, end * kSectorBytes + kLookAhead, was_zero);
  const bool whole_block = first == slot.block_start && end == slot.block_start + block_sectors_;
  slot.all_zero = slot.all_zero && (was_zero || whole_block);
}

void ReadAheadStream::FillSpan(Slot& slot, uint64_t first, uint64_t end, bool was_zero) {
  for (uint64_t at = first; at < end;) {
    const ByteRange run = source_.DataFrom(at);
    const uint64_t data_first = std::clamp(run.first, at, end);
    uint64_t data_end = std::clamp(run.end, data_first, end);
    if (data_end == data_first && data_first < end) data_end = end;  // says nothing: read it
    if (data_first > at) {
      if (!was_zero) std::memset(ByteAt(slot, at), 0, data_first - at);
      slot.holes.push_back({at, data_first});
    }
    if (data_end > data_first) {
      slot.all_zero = false;
      ReadData(slot, data_first, data_end);
    }
    at = data_end;
  }
}

// Reads [first, end) at once; each chunk it did not deliver is then read on its own, so only
// the chunks that really fail are reported.
void ReadAheadStream::ReadData(Slot& slot, uint64_t first, uint64_t end) {
  uint8_t* into = ByteAt(slot, first);
  const uint64_t length = end - first;
  const int64_t got = source_.ReadAt(first, into, length);
  const uint64_t good = got > 0 ? std::min<uint64_t>(static_cast<uint64_t>(got), length) : 0;
  std::memset(into + good, 0, length - good);
  if (good == length) return;
  for (ScanChunk& chunk : slot.chunks) {
    const uint64_t start_byte = chunk.first * kSectorBytes;
    const uint64_t end_byte = std::min((chunk.first + chunk.count) * kSectorBytes, source_bytes_);
    if (start_byte >= source_bytes_ || start_byte >= end || end_byte <= first + good) continue;
    chunk.read_ok = TransferSectors(source_, chunk.first, chunk.count, At(slot, chunk.first)) == 0;
  }
}

void ReadAheadStream::MarkHoleChunks(Slot& slot) {
  auto hole = slot.holes.begin();
  for (ScanChunk& chunk : slot.chunks) {
    const uint64_t start_byte = chunk.first * kSectorBytes;
    const uint64_t end_byte = (chunk.first + chunk.count) * kSectorBytes;
    while (hole != slot.holes.end() && hole->end <= start_byte) ++hole;
    chunk.zeros = hole != slot.holes.end() && hole->first <= start_byte && end_byte <= hole->end;
  }
}

bool ReadAheadStream::Next(ScanChunk* chunk) {
  if (current_ != nullptr && ++index_ < current_->chunks.size()) {
    *chunk = current_->chunks[index_];
    return true;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (current_ != nullptr) {
    current_ = nullptr;
    ++released_;
    changed_.notify_all();
  }
  Slot& next = slots_[released_ % slots_.size()];
  const auto ready = [&] { return planned_ > released_ && next.ready; };
  changed_.wait(lock, [&] { return ready() || readers_done_ == reader_count_; });
  // A failing reader may leave a planned slot unread: the scan ends before it.
  if (!ready()) return false;
  current_ = &next;
  index_ = 0;
  *chunk = current_->chunks[0];
  return true;
}

bool ReadAheadStream::Reread(const ScanChunk& chunk) {
  current_->all_zero = false;
  const bool ok =
      TransferSectors(source_, chunk.first, chunk.count, At(*current_, chunk.first)) == 0;
  current_->chunks[index_].read_ok = ok;
  return ok;
}

SectorInput ReadAheadStream::Sector(uint64_t sector) const {
  return SectorWithWindow(At(*current_, sector), sector, source_bytes_);
}

}  // namespace kestrel
