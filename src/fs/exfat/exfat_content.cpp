#include "fs/exfat/exfat_content.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

constexpr uint64_t kPieceBytes = 64 * 1024;

// The plan's clusters as byte runs of the volume, and the zeros after the valid length as a
// sparse run.
std::vector<ByteRun> RunsOf(const ExfatGeometry& geometry, const ExfatPlan& plan) {
  std::vector<ByteRun> runs;
  uint64_t done = 0;
  for (const ClusterRun& run : plan.clusters) {
    if (done >= plan.stored_bytes) break;
    const uint64_t bytes =
        std::min(uint64_t{run.count} << geometry.cluster_shift, plan.stored_bytes - done);
    runs.push_back({done, geometry.ClusterOffset(run.first), bytes, false});
    done += bytes;
  }
  if (plan.length > done) runs.push_back({done, 0, plan.length - done, true});
  return runs;
}

class ExfatContent : public FileContent {
 public:
  ExfatContent(ByteSource& source, std::vector<ByteRun> runs, uint64_t length)
      : source_(source), runs_(std::move(runs)), length_(length) {}

  uint64_t length() const override { return length_; }
  uint64_t position() const override { return position_; }
  std::vector<ByteRun> Runs() const override { return runs_; }

  int64_t ReadNext(uint8_t* buffer, size_t capacity) override {
    const ByteRun* current = CurrentRun();
    if (current == nullptr || capacity == 0) return 0;
    const ByteRun& run = *current;
    const uint64_t inside = position_ - run.file_offset;
    const size_t piece =
        static_cast<size_t>(std::min<uint64_t>({capacity, kPieceBytes, run.length - inside}));
    if (run.sparse) {
      std::memset(buffer, 0, piece);
    } else if (!source_.ReadExact(run.volume_offset + inside, buffer, piece)) {
      return -1;
    }
    position_ += piece;
    return static_cast<int64_t>(piece);
  }

  // The zeros past the valid data length are a hole.
  uint64_t SkipHole() override {
    const ByteRun* run = CurrentRun();
    if (run == nullptr || !run->sparse) return 0;
    const uint64_t hole = run->file_offset + run->length - position_;
    position_ += hole;
    return hole;
  }

  uint64_t StoredBytes() const override {
    uint64_t stored = 0;
    for (const ByteRun& run : runs_) stored += run.sparse ? 0 : run.length;
    return stored;
  }

 private:
  // The run holding the position; null at the end.
  const ByteRun* CurrentRun() {
    while (run_ < runs_.size() && position_ >= runs_[run_].file_offset + runs_[run_].length) ++run_;
    return run_ < runs_.size() ? &runs_[run_] : nullptr;
  }

  ByteSource& source_;
  std::vector<ByteRun> runs_;
  uint64_t length_;
  size_t run_ = 0;
  uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<FileContent> OpenExfatContent(ExfatVolume& volume, const ExfatPlan& plan) {
  return std::make_unique<ExfatContent>(volume.source(), RunsOf(volume.geometry(), plan),
                                        plan.length);
}

}  // namespace kestrel
