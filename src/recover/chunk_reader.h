#pragma once
// Reads a source for the raw scan in large blocks, so that each 64-sector chunk is one slice of
// a buffer that also holds the real bytes before and after it (the carving routines look past
// a sector's end). A block that fails to read is read again chunk by chunk, so that only the
// chunks that really fail are reported.

#include <cstdint>
#include <vector>

#include "carve/sector_input.h"
#include "platform/byte_source.h"
#include "recover/chunk_stream.h"
#include "recover/scan_plan.h"

namespace kestrel {

class ChunkReader {
 public:
  // `total_sectors` 512-byte sectors are scanned; bytes past the source's end read as zeros.
  ChunkReader(ByteSource& source, uint64_t total_sectors, uint64_t block_sectors = 4096);

  // Makes the block holding `first_sector` current. Returns whether the chunk
  // [first_sector, first_sector + count) was read without error.
  bool Load(uint64_t first_sector, uint32_t count);
  // Reads that chunk again; true on success (what was not read is zero).
  bool Reread(uint64_t first_sector, uint32_t count);

  // The sector's bytes and its window, valid until the next Load of another block.
  SectorInput Sector(uint64_t sector) const;

 private:
  void LoadBlock(uint64_t block_start);
  void ReadWindow(uint64_t offset, uint8_t* into, size_t length);
  size_t ChunkIndex(uint64_t sector) const {
    return static_cast<size_t>((sector - block_start_) / kChunk);
  }
  static constexpr uint32_t kChunk = 64;
  ByteSource& source_;
  uint64_t total_sectors_;
  uint64_t source_bytes_;
  uint64_t block_sectors_;
  uint64_t block_start_ = UINT64_MAX;
  uint64_t block_length_ = 0;    // sectors in the current block
  std::vector<uint8_t> buffer_;  // look-behind, block, look-ahead
  std::vector<bool> chunk_ok_;
};

// The chunks of a plan read on the carving thread itself, block by block through a ChunkReader:
// the one-thread reading, used when no reading thread can be started.
class ChunkReaderStream : public ChunkStream {
 public:
  ChunkReaderStream(ByteSource& source, ScanPlan& plan, uint64_t block_sectors = 4096)
      : reader_(source, plan.source_sectors(), block_sectors), plan_(plan) {}

  bool Next(ScanChunk* chunk) override;
  bool Reread(const ScanChunk& chunk) override { return reader_.Reread(chunk.first, chunk.count); }
  SectorInput Sector(uint64_t sector) const override { return reader_.Sector(sector); }

 private:
  ChunkReader reader_;
  ScanPlan& plan_;
  SectorRun run_{};
  uint64_t next_ = 0;
};

}  // namespace kestrel
