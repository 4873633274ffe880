#pragma once
// The layout of a compound document (OLE2) that its measuring, check and reassembly share: the
// special values of FAT entries, the header's fields, and the directory entry's size and types.

#include <cstddef>
#include <cstdint>

namespace kestrel::cfb {

inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr uint32_t kNoEntry = 0xFFFFFFFF;

inline constexpr size_t kHeaderBytes = 512;
// The header lists the first 109 FAT sectors from this offset; DIFAT sectors list the rest.
inline constexpr size_t kHeaderFatEntries = 109;
inline constexpr size_t kHeaderFatOffset = 0x4C;
inline constexpr size_t kFatCountOffset = 0x2C;
inline constexpr size_t kDirectoryOffset = 0x30;
inline constexpr size_t kDifatStartOffset = 0x44;

inline constexpr size_t kEntryBytes = 128;
// A directory entry's type (its byte 66).
inline constexpr uint8_t kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5;
// Streams shorter than this lie in the mini stream, not in sectors of their own.
inline constexpr uint32_t kMiniStreamCutoff = 4096;

}  // namespace kestrel::cfb
