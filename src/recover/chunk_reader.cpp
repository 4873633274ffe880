#include "recover/chunk_reader.h"

#include <algorithm>
#include <cstring>

#include "sources/scan_source.h"

namespace kestrel {

ChunkReader::ChunkReader(ByteSource& source, uint64_t total_sectors, uint64_t block_sectors)
    : source_(source),
      total_sectors_(total_sectors),
      source_bytes_(source.Size()),
      block_sectors_(std::max<uint64_t>(kChunk, block_sectors / kChunk * kChunk)),
      buffer_(kLookBehind + block_sectors_ * kSectorBytes + kLookAhead, 0) {}

void ChunkReader::ReadWindow(uint64_t offset, uint8_t* into, size_t length) {
  int64_t got = source_.ReadAt(offset, into, length);
  size_t filled = got > 0 ? static_cast<size_t>(got) : 0;
  std::memset(into + filled, 0, length - filled);
}

void ChunkReader::LoadBlock(uint64_t block_start) {
  const bool follows = block_start_ != UINT64_MAX && block_start == block_start_ + block_length_;
  uint8_t* block = buffer_.data() + kLookBehind;
  // The bytes before the block: the end of the previous block when it is the one before.
  if (follows && block_length_ * kSectorBytes >= kLookBehind) {
    std::memmove(buffer_.data(), block + block_length_ * kSectorBytes - kLookBehind, kLookBehind);
  } else if (block_start == 0) {
    std::memset(buffer_.data(), 0, kLookBehind);
  } else {
    uint64_t from = block_start * kSectorBytes;
    size_t length = static_cast<size_t>(std::min<uint64_t>(kLookBehind, from));
    std::memset(buffer_.data(), 0, kLookBehind - length);
    ReadWindow(from - length, buffer_.data() + kLookBehind - length, length);
  }

  block_start_ = block_start;
  block_length_ = std::min(block_sectors_, total_sectors_ - block_start);
  const uint64_t bytes = block_length_ * kSectorBytes;
  int64_t got = source_.ReadAt(block_start * kSectorBytes, block, bytes);
  uint64_t good = got > 0 ? static_cast<uint64_t>(got) : 0;
  std::memset(block + good, 0, bytes - good);
  // What the read did not deliver, though the source holds it, is read chunk by chunk.
  const uint64_t chunks = (block_length_ + kChunk - 1) / kChunk;
  chunk_ok_.assign(chunks, true);
  for (uint64_t c = 0; c < chunks; ++c) {
    const uint64_t first = block_start + c * kChunk;
    const uint64_t end_byte = std::min((first + kChunk) * kSectorBytes, source_bytes_);
    if (end_byte <= block_start * kSectorBytes + good || first * kSectorBytes >= source_bytes_) {
      continue;
    }
    const uint32_t count =
        static_cast<uint32_t>(std::min<uint64_t>(kChunk, block_start + block_length_ - first));
    chunk_ok_[c] = TransferSectors(source_, first, count, block + c * kChunk * kSectorBytes) == 0;
  }
  ReadWindow((block_start + block_length_) * kSectorBytes, block + bytes, kLookAhead);
}

bool ChunkReader::Load(uint64_t first_sector, uint32_t) {
  if (block_start_ == UINT64_MAX || first_sector < block_start_ ||
      first_sector >= block_start_ + block_length_) {
    LoadBlock(first_sector / block_sectors_ * block_sectors_);
  }
  return chunk_ok_[ChunkIndex(first_sector)];
}

bool ChunkReader::Reread(uint64_t first_sector, uint32_t count) {
  uint8_t* at = buffer_.data() + kLookBehind + (first_sector - block_start_) * kSectorBytes;
  bool ok = TransferSectors(source_, first_sector, count, at) == 0;
  chunk_ok_[ChunkIndex(first_sector)] = ok;
  return ok;
}

SectorInput ChunkReader::Sector(uint64_t sector) const {
  return SectorWithWindow(buffer_.data() + kLookBehind + (sector - block_start_) * kSectorBytes,
                          sector, source_bytes_);
}

bool ChunkReaderStream::Next(ScanChunk* chunk) {
  if (next_ >= run_.end()) {
    if (!plan_.NextRun(next_, &run_)) return false;
    next_ = run_.first;
  }
  const uint64_t end = ChunkEnd(next_, run_.end());
  chunk->first = next_;
  chunk->count = static_cast<uint32_t>(end - next_);
  chunk->read_ok = reader_.Load(chunk->first, chunk->count);
  next_ = end;
  return true;
}

}  // namespace kestrel
