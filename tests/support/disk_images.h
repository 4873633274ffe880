#pragma once
// FAT volume images and a two-partition MBR disk image made with mkfs.fat and sfdisk.

#include <cstdint>
#include <string>

namespace kestrel::testing {

// The partitions of MakeTwoPartitionDisk's 64 MiB disk: FAT16 "PARTONE", then FAT12.
inline constexpr uint64_t kPartOneStart = 2048, kPartOneSectors = 32768;
inline constexpr uint64_t kPartTwoStart = 34816, kPartTwoSectors = 8192;
inline constexpr uint64_t kTwoPartitionDiskBytes = 64 << 20;

// A volume image of `megabytes` formatted by `mkfs.fat OPTIONS`; false when a tool failed.
bool MakeFatVolume(const std::string& path, int megabytes, const std::string& options);
// The disk, its second partition labelled `part_two_label` (no label when empty).
bool MakeTwoPartitionDisk(const std::string& path, const std::string& part_two_label);

}  // namespace kestrel::testing
