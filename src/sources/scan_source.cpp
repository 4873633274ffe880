#include "sources/scan_source.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace kestrel {

ReportSource ReportSourceOf(const ScanSource& source) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(source.device_path, error);
  return {error ? source.device_path : absolute.lexically_normal().string(),
          source.bytes ? source.bytes->Size() : 0, source.bytes_per_sector,
          ContainerName(source.container)};
}

int TransferSectors(ByteSource& source, uint64_t first_sector, uint64_t count, uint8_t* buffer) {
  const uint64_t wanted = count * kSectorBytes;
  int64_t got = source.ReadAt(first_sector * kSectorBytes, buffer, wanted);
  uint64_t filled = got > 0 ? static_cast<uint64_t>(got) : 0;
  if (filled < wanted) std::memset(buffer + filled, 0, wanted - filled);
  const bool reached_end = first_sector * kSectorBytes + filled >= source.Size();
  return filled == wanted || (filled > 0 && reached_end) ? 0 : 1;
}

}  // namespace kestrel
