#include "carve/formats/compound_doc_streams.h"

#include <algorithm>
#include <utility>

namespace kestrel {

CompoundStream::CompoundStream(FileWindow& file, uint32_t unit, uint64_t size,
                               std::vector<uint32_t> chain)
    : file_(&file), unit_(unit), size_(size), chain_(std::move(chain)) {}

CompoundStream::CompoundStream(CompoundStream& container, uint32_t unit, uint64_t size,
                               std::vector<uint32_t> chain)
    : container_(&container), unit_(unit), size_(size), chain_(std::move(chain)) {}

bool CompoundStream::Read(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  while (n > 0) {
    const uint64_t index = offset / unit_;
    const uint32_t within = static_cast<uint32_t>(offset % unit_);
    const size_t piece = std::min<size_t>(n, unit_ - within);
    if (index >= chain_.size()) return false;
    const uint64_t unit = chain_[index];
    const bool read = container_ != nullptr ? container_->Read(unit * unit_ + within, out, piece)
                                            : file_->Read((unit + 1) * unit_ + within, out, piece);
    if (!read) return false;
    out += piece;
    offset += piece;
    n -= piece;
  }
  return true;
}

}  // namespace kestrel
