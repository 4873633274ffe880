#include "fs/ntfs/ntfs_runs.h"

namespace kestrel {
namespace {

// Little-endian field of `size` bytes (1..8).
uint64_t ReadUnsigned(const uint8_t* bytes, unsigned size) {
  uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i) value |= uint64_t{bytes[i]} << (8 * i);
  return value;
}

// The same field sign-extended from its top bit.
int64_t ReadSigned(const uint8_t* bytes, unsigned size) {
  uint64_t value = ReadUnsigned(bytes, size);
  if (size < 8 && (bytes[size - 1] & 0x80) != 0) value |= ~uint64_t{0} << (8 * size);
  return static_cast<int64_t>(value);
}

}  // namespace

bool DecodeRunList(std::span<const uint8_t> bytes, uint64_t first_vcn, uint64_t volume_clusters,
                   uint64_t max_clusters, std::vector<DataRun>* runs) {
  runs->clear();
  uint64_t vcn = first_vcn;
  uint64_t total = 0;
  int64_t previous_lcn = 0;
  size_t pos = 0;
  while (pos < bytes.size() && bytes[pos] != 0) {
    const unsigned length_size = bytes[pos] & 0x0F;
    const unsigned offset_size = bytes[pos] >> 4;
    if (length_size == 0 || length_size > 8 || offset_size > 8) return false;
    if (bytes.size() - pos - 1 < length_size + offset_size) return false;
    const uint8_t* field = bytes.data() + pos + 1;
    DataRun run;
    run.first_vcn = vcn;
    run.cluster_count = ReadUnsigned(field, length_size);
    if (run.cluster_count == 0 || run.cluster_count > max_clusters - total) return false;
    if (offset_size == 0) {
      run.sparse = true;
    } else {
      int64_t delta = ReadSigned(field + length_size, offset_size);
      int64_t lcn = 0;
      if (__builtin_add_overflow(previous_lcn, delta, &lcn) || lcn < 0) return false;
      run.lcn = static_cast<uint64_t>(lcn);
      if (run.lcn >= volume_clusters || run.cluster_count > volume_clusters - run.lcn) return false;
      previous_lcn = lcn;
    }
    total += run.cluster_count;
    vcn += run.cluster_count;
    runs->push_back(run);
    pos += 1 + length_size + offset_size;
  }
  return true;
}

uint64_t TotalClusters(const std::vector<DataRun>& runs) {
  uint64_t total = 0;
  for (const DataRun& run : runs) total += run.cluster_count;
  return total;
}

}  // namespace kestrel
