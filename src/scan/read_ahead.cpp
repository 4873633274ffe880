#include "scan/read_ahead.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "disk/scan_source.h"

namespace kestrel {

ReadAheadStream::ReadAheadStream(ByteSource& source, ScanPlan& plan, ReadAheadShape shape)
    : source_(source),
      plan_(plan),
      block_sectors_(
          std::max<uint64_t>(kChunkSectors, shape.block_sectors / kChunkSectors * kChunkSectors)),
      source_bytes_(source.Size()) {
  slot_bytes_ = kLookBehind + static_cast<size_t>(block_sectors_) * kSectorBytes + kLookAhead;
  slots_.resize(std::max<size_t>(2, shape.ring_blocks));
  for (Slot& slot : slots_) {
    slot.buffer.assign(slot_bytes_, 0);
    // A block holds at most one chunk per sector; no allocation while reading.
    slot.chunks.reserve(static_cast<size_t>(block_sectors_));
  }
}

ReadAheadStream::~ReadAheadStream() {
  Stop();
}

bool ReadAheadStream::Start() {
  try {
    thread_ = std::thread(&ReadAheadStream::ReadLoop, this);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void ReadAheadStream::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint8_t* ReadAheadStream::At(const Slot& slot, uint64_t sector) const {
  return const_cast<uint8_t*>(slot.buffer.data()) + kLookBehind +
         (sector - slot.block_start) * kSectorBytes;
}

void ReadAheadStream::ReadLoop() {
  try {
    while (true) {
      Slot* slot = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || filled_ - released_ < slots_.size(); });
        if (stop_) break;
        slot = &slots_[filled_ % slots_.size()];
      }
      if (!PlanSlot(*slot)) break;
      ReadSlot(*slot);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++filled_;
      }
      changed_.notify_all();
    }
  } catch (...) {
    failed_ = true;  // no memory for the plan's work: the scan ends with what it has
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reader_done_ = true;
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

void ReadAheadStream::ReadWindow(uint64_t offset, uint8_t* into, size_t length) {
  const int64_t got = source_.ReadAt(offset, into, length);
  const size_t filled = got > 0 ? static_cast<size_t>(got) : 0;
  std::memset(into + filled, 0, length - filled);
}

// Reads the block's chunks as one span (with whatever lies between them), then each chunk that
// the span read did not deliver on its own; then the window before and after the span.
void ReadAheadStream::ReadSlot(Slot& slot) {
  const uint64_t first = slot.chunks.front().first;
  const uint64_t end = slot.chunks.back().first + slot.chunks.back().count;
  uint8_t* span = At(slot, first);
  const uint64_t span_bytes = (end - first) * kSectorBytes;
  const int64_t got = source_.ReadAt(first * kSectorBytes, span, span_bytes);
  const uint64_t good = got > 0 ? std::min<uint64_t>(static_cast<uint64_t>(got), span_bytes) : 0;
  std::memset(span + good, 0, span_bytes - good);
  const uint64_t delivered_end = first * kSectorBytes + good;
  for (ScanChunk& chunk : slot.chunks) {
    const uint64_t start_byte = chunk.first * kSectorBytes;
    const uint64_t end_byte = std::min((chunk.first + chunk.count) * kSectorBytes, source_bytes_);
    if (start_byte >= source_bytes_ || end_byte <= delivered_end) continue;
    chunk.read_ok = TransferSectors(source_, chunk.first, chunk.count, At(slot, chunk.first)) == 0;
  }
  const uint64_t behind = std::min<uint64_t>(kLookBehind, first * kSectorBytes);
  std::memset(span - kLookBehind, 0, kLookBehind - behind);
  if (behind != 0) ReadWindow(first * kSectorBytes - behind, span - behind, behind);
  ReadWindow(end * kSectorBytes, At(slot, end), kLookAhead);
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
  changed_.wait(lock, [&] { return filled_ > released_ || reader_done_; });
  if (filled_ == released_) return false;
  current_ = &slots_[released_ % slots_.size()];
  index_ = 0;
  *chunk = current_->chunks[0];
  return true;
}

bool ReadAheadStream::Reread(const ScanChunk& chunk) {
  const bool ok =
      TransferSectors(source_, chunk.first, chunk.count, At(*current_, chunk.first)) == 0;
  current_->chunks[index_].read_ok = ok;
  return ok;
}

SectorInput ReadAheadStream::Sector(uint64_t sector) const {
  return SectorWithWindow(At(*current_, sector), sector, source_bytes_);
}

}  // namespace kestrel
