#include "platform/blkid_probe.h"

#include <blkid/blkid.h>
#include <unistd.h>

#include <memory>

#include "platform/byte_order.h"

namespace kestrel {
namespace {

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using ProbePtr = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

ProbePtr NewProbe(int fd, uint64_t offset, uint64_t size) {
  ProbePtr probe(blkid_new_probe());
  if (!probe) return nullptr;
  if (blkid_probe_set_device(probe.get(), fd, static_cast<blkid_loff_t>(offset),
                             static_cast<blkid_loff_t>(size)) != 0) {
    return nullptr;
  }
  return probe;
}

std::string LookUp(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  size_t length = 0;
  if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || data == nullptr) return "";
  std::string value(data, length);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

std::string FatVersion(const std::string& blkid_version, int fd, uint64_t offset) {
  if (blkid_version == "FAT12" || blkid_version == "FAT16" || blkid_version == "FAT32") {
    return blkid_version;
  }
  std::array<uint8_t, 512> sector{};
  if (::pread(fd, sector.data(), sector.size(), static_cast<off_t>(offset)) != 512) return "";
  return FatVersionFromBootSector(sector);
}

}  // namespace

FileSystemInfo ProbeFileSystem(int fd, uint64_t offset, uint64_t size) {
  FileSystemInfo info;
  ProbePtr probe = NewProbe(fd, offset, size);
  if (!probe) return info;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_TYPE |
                                                     BLKID_SUBLKS_VERSION | BLKID_SUBLKS_USAGE);
  blkid_probe_enable_partitions(probe.get(), 0);
  if (blkid_do_safeprobe(probe.get()) != 0) return info;
  std::string type = LookUp(probe.get(), "TYPE");
  info.found = LookUp(probe.get(), "USAGE") == "filesystem";
  info.label = LookUp(probe.get(), "LABEL");
  if (type == "vfat" || type == "msdos") {
    info.fs_name = FatVersion(LookUp(probe.get(), "VERSION"), fd, offset);
  } else if (type == "ntfs") {
    info.fs_name = "NTFS";
  } else if (type == "exfat") {
    info.fs_name = "exFAT";
  }
  return info;
}

std::optional<std::vector<PartitionSlice>> ProbePartitions(int fd) {
  ProbePtr probe = NewProbe(fd, 0, 0);
  if (!probe) return std::nullopt;
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (list == nullptr) return std::nullopt;
  std::vector<PartitionSlice> slices;
  int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition partition = blkid_partlist_get_partition(list, i);
    if (partition == nullptr || blkid_partition_is_extended(partition)) continue;
    blkid_loff_t start = blkid_partition_get_start(partition);
    blkid_loff_t length = blkid_partition_get_size(partition);
    if (start < 0 || length <= 0) continue;
    slices.push_back({blkid_partition_get_partno(partition), static_cast<uint64_t>(start) * 512,
                      static_cast<uint64_t>(length) * 512});
  }
  return slices;
}

std::string FatVersionFromBootSector(const std::array<uint8_t, 512>& sector) {
  uint32_t bytes_per_sector = LoadLe16(sector.data() + 11);
  uint32_t sectors_per_cluster = sector[13];
  uint32_t reserved = LoadLe16(sector.data() + 14);
  uint32_t fat_count = sector[16];
  uint32_t root_entries = LoadLe16(sector.data() + 17);
  uint32_t total = LoadLe16(sector.data() + 19) != 0 ? LoadLe16(sector.data() + 19)
                                                     : LoadLe32(sector.data() + 32);
  uint32_t fat_size = LoadLe16(sector.data() + 22) != 0 ? LoadLe16(sector.data() + 22)
                                                        : LoadLe32(sector.data() + 36);
  if (bytes_per_sector < 512 || bytes_per_sector % 512 != 0 || sectors_per_cluster == 0 ||
      fat_count == 0 || fat_size == 0) {
    return "";
  }
  if (LoadLe16(sector.data() + 22) == 0) return "FAT32";
  uint64_t root_sectors = (uint64_t{root_entries} * 32 + bytes_per_sector - 1) / bytes_per_sector;
  uint64_t meta = reserved + uint64_t{fat_count} * fat_size + root_sectors;
  if (meta >= total) return "";
  uint64_t clusters = (total - meta) / sectors_per_cluster;
  if (clusters < 4085) return "FAT12";
  if (clusters < 65525) return "FAT16";
  return "FAT32";
}

}  // namespace kestrel
