#include "carve/formats/asf_reassembly.h"

#include <algorithm>
#include <optional>

#include "carve/formats/asf_layout.h"
#include "carve/formats/offset_reassembly.h"
#include "platform/byte_order.h"

namespace kestrel {
namespace {

using namespace asf;

constexpr uint64_t kMaxGapBytes = uint64_t{64} << 20;
constexpr uint32_t kMaxHeaderObjects = 4096;
constexpr uint64_t kMaxPackets = 4'000'000;

// What the header says of the data packets and the file.
struct Layout {
  uint64_t file_size = 0;
  uint64_t packets = 0;
  uint32_t packet_size = 0;
  uint64_t first_packet = 0;  // file offset
};

std::optional<Layout> ReadLayout(ByteSource& source, uint64_t start, uint64_t length) {
  uint8_t header[kHeaderObjectBytes];
  if (length < kHeaderObjectBytes || !source.ReadExact(start, header, sizeof header) ||
      !IsGuid(header, kHeaderGuid)) {
    return std::nullopt;
  }
  const uint64_t header_size = LoadLe64(header + 16);
  if (header_size < kHeaderObjectBytes || header_size > length) return std::nullopt;
  Layout layout;
  uint64_t at = kHeaderObjectBytes;
  for (uint32_t i = 0; i < kMaxHeaderObjects && at + kObjectBytes <= header_size; ++i) {
    uint8_t object[kFilePropertiesBytes];
    if (!source.ReadExact(start + at, object, kObjectBytes)) return std::nullopt;
    const uint64_t size = LoadLe64(object + 16);
    if (size < kObjectBytes || size > header_size - at) return std::nullopt;
    if (IsGuid(object, kFilePropertiesGuid) && size >= kFilePropertiesBytes) {
      if (!source.ReadExact(start + at, object, kFilePropertiesBytes)) return std::nullopt;
      layout.file_size = LoadLe64(object + 40);
      layout.packets = LoadLe64(object + 56);
      const uint32_t min_size = LoadLe32(object + 92), max_size = LoadLe32(object + 96);
      if (min_size != max_size) return std::nullopt;
      layout.packet_size = min_size;
    }
    at += size;
  }
  uint8_t data[kDataObjectBytes];
  if (layout.packet_size == 0 || layout.packets == 0 || layout.packets > kMaxPackets ||
      !source.ReadExact(start + header_size, data, sizeof data) || !IsGuid(data, kDataGuid)) {
    return std::nullopt;
  }
  layout.first_packet = header_size + kDataObjectBytes;
  if (layout.first_packet + layout.packets * layout.packet_size > layout.file_size) {
    return std::nullopt;
  }
  return layout;
}

}  // namespace

bool ReassembleAsf(ByteSource& source, uint64_t start, uint64_t length, const ByteUnits& units,
                   std::vector<FilePiece>* pieces) {
  if (units.bytes == 0) return false;
  const std::optional<Layout> layout = ReadLayout(source, start, length);
  if (!layout || layout->packet_size >= units.bytes) return false;
  const uint64_t room = source.Size() > start ? source.Size() - start : 0;
  const uint64_t span = std::min(room, layout->file_size + kMaxGapBytes);
  OffsetReassembly walk(source, start, span, units, span - std::min(span, layout->file_size));
  // Every packet starts as the first one does (its error correction and length type flags).
  uint8_t first[3];
  if (!source.ReadExact(start + layout->first_packet, first, sizeof first)) return false;
  const auto packet_at = [&](uint64_t at) {
    uint8_t bytes[3];
    return source.ReadExact(at, bytes, sizeof bytes) && std::equal(bytes, bytes + 3, first);
  };
  // Past the packets, the indexes (or the file's end).
  const uint64_t data_end = layout->first_packet + layout->packets * layout->packet_size;
  const auto index_at = [&](uint64_t at) {
    if (data_end == layout->file_size) return true;
    uint8_t id[16];
    return source.ReadExact(at, id, sizeof id) && IsGuid(id, kSimpleIndexGuid);
  };
  const auto any = [](ByteSource&) { return true; };
  for (uint64_t k = 1; k <= layout->packets; ++k) {
    const uint64_t previous = layout->first_packet + (k - 1) * layout->packet_size;
    const uint64_t next = previous + layout->packet_size;
    const uint64_t after = walk.SourceOf(previous) + 1;  // the packet before is in place
    const bool found =
        k < layout->packets
            ? walk.Follow(next, after, packet_at, any, OffsetReassembly::Choice::kOnly)
            : walk.Follow(next, after, index_at, any, OffsetReassembly::Choice::kOnly);
    if (!found) return false;
  }
  std::vector<FilePiece> found = walk.PiecesUpTo(layout->file_size);
  if (found.size() < 2) return false;
  *pieces = std::move(found);
  return true;
}

}  // namespace kestrel
