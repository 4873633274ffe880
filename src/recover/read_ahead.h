#pragma once
// Reads a raw scan's source on threads of its own, ahead of the carving, into a small ring of large
// blocks, so that the carving thread finds its next chunk already read while the disk goes on.
// Each block sits in its slot with the real source bytes before and after it (the window the
// carving routines read past a sector's ends). Chunks come out in the plan's order with the
// outcome of their read; a chunk that failed is read again chunk-wise first, so only the chunks
// that really fail are reported, and the carving thread decides about each in its turn.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/byte_source.h"
#include "recover/chunk_stream.h"
#include "recover/scan_plan.h"

namespace kestrel {

struct ReadAheadShape {
  uint64_t block_sectors = 2048;  // sectors per block, a multiple of 64
  size_t ring_blocks = 4;         // blocks in the ring (at least 2)
  // Reading threads. Two give a disk two reads at once, each into its own slot; a source that
  // cannot be read by two threads at once is read in turn (see LockedSource).
  size_t readers = 2;
};

class ReadAheadStream : public ChunkStream {
 public:
  // `source` is read from two threads (wrap it in a LockedSource); `plan` is read by the reading
  // thread only, from Start on. The ring is allocated here (std::bad_alloc when it cannot be).
  ReadAheadStream(ByteSource& source, ScanPlan& plan, ReadAheadShape shape = {});
  // Stops the reading threads and waits for them.
  ~ReadAheadStream() override;
  ReadAheadStream(const ReadAheadStream&) = delete;
  ReadAheadStream& operator=(const ReadAheadStream&) = delete;

  // Starts the reading threads; false when none can be started.
  bool Start();
  // Stops the reading threads (after the reads they are doing) and waits for them. Idempotent.
  void Stop();

  bool Next(ScanChunk* chunk) override;
  bool Reread(const ScanChunk& chunk) override;
  SectorInput Sector(uint64_t sector) const override;
  bool failed() const override { return failed_; }

  // Bytes the ring holds.
  size_t ring_bytes() const { return slots_.size() * slot_bytes_; }

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> buffer;  // look-behind, block, look-ahead
    uint64_t block_start = 0;           // sector at buffer[kLookBehind]
    std::vector<ScanChunk> chunks;
    std::vector<ByteRange> holes;  // of the source, in this fill, in source order
    bool all_zero = false;         // the buffer holds only zeros (its holes need no clearing)
    bool ready = false;            // read, and not yet handed back
  };

  void ReadLoop();
  // Cuts the plan's next chunks that lie in one block into `slot`. False at the plan's end.
  bool PlanSlot(Slot& slot);
  void ReadSlot(Slot& slot);
  // Fills source bytes [first, end) into the slot: holes become zeros without a read, data is
  // read (and each chunk it did not deliver read again on its own).
  void FillSpan(Slot& slot, uint64_t first, uint64_t end, bool was_zero);
  void ReadData(Slot& slot, uint64_t first, uint64_t end);
  void MarkHoleChunks(Slot& slot);
  // The byte at source offset `offset` in the slot's buffer.
  uint8_t* ByteAt(const Slot& slot, uint64_t offset) const;
  uint8_t* At(const Slot& slot, uint64_t sector) const;

  ByteSource& source_;
  ScanPlan& plan_;
  const uint64_t block_sectors_;
  const uint64_t source_bytes_;
  size_t slot_bytes_ = 0;
  std::vector<Slot> slots_;

  // The plan's position, moved on by the readers under the lock.
  SectorRun pending_{};
  bool plan_started_ = false;

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t planned_ = 0;   // slots given to a reader so far (slot index = count % slots)
  uint64_t released_ = 0;  // slots handed back by the carving thread
  size_t reader_count_;
  size_t readers_done_ = 0;
  bool stop_ = false;
  std::atomic<bool> failed_{false};
  std::vector<std::thread> threads_;

  // Carving thread's position.
  Slot* current_ = nullptr;
  size_t index_ = 0;
};

}  // namespace kestrel
