#pragma once
// The ZIP records a carved archive is read by: their signatures as the file holds them (little
// endian), the sizes of their fixed parts, and the compression methods unpacked.

#include <cstddef>
#include <cstdint>

namespace kestrel::zip {

inline constexpr uint32_t kLocalSignature = 0x04034B50;    // "PK\3\4"
inline constexpr uint32_t kCentralSignature = 0x02014B50;  // "PK\1\2"
inline constexpr uint32_t kEndSignature = 0x06054B50;      // "PK\5\6"
inline constexpr size_t kLocalBytes = 30;
inline constexpr size_t kCentralBytes = 46;
inline constexpr size_t kEndBytes = 22;
// A 32-bit field that says "the value is in the ZIP64 records".
inline constexpr uint32_t kSaturated32 = 0xFFFFFFFF;
inline constexpr uint16_t kSaturated16 = 0xFFFF;
inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kDeflated = 8;
inline constexpr uint16_t kEncrypted = 1;      // flag bit 0
inline constexpr uint16_t kHasDescriptor = 8;  // flag bit 3: CRC and sizes follow the data

}  // namespace kestrel::zip
