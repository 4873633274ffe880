#include "platform/block_devices.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

namespace kestrel {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxModelChars = 40;

std::string ReadSysText(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  size_t last = text.find_last_not_of(" \t\r\n");
  size_t first = text.find_first_not_of(" \t");
  if (last == std::string::npos) return "";
  return text.substr(first, last - first + 1);
}

uint64_t ReadSysNumber(const fs::path& file) {
  std::string text = ReadSysText(file);
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

bool OpensForReading(const std::string& node) {
  int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool IsLeftOut(const std::string& name) {
  return name.starts_with("ram") || name.starts_with("zram") || name.starts_with("sr");
}

std::string ModelOf(const fs::path& device_dir, const std::string& name) {
  if (name.starts_with("loop")) {
    return fs::path(ReadSysText(device_dir / "loop" / "backing_file")).filename().string();
  }
  std::string vendor = ReadSysText(device_dir / "device" / "vendor");
  std::string model = ReadSysText(device_dir / "device" / "model");
  std::string text = vendor.empty() || model.empty() ? vendor + model : vendor + " " + model;
  return text.substr(0, kMaxModelChars);
}

std::vector<BlockPartition> PartitionsOf(const fs::path& device_dir, const std::string& dev_dir) {
  std::vector<BlockPartition> partitions;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(device_dir, ec)) {
    if (!fs::exists(entry.path() / "partition", ec)) continue;
    BlockPartition partition;
    partition.number = static_cast<int>(ReadSysNumber(entry.path() / "partition"));
    partition.node = dev_dir + "/" + entry.path().filename().string();
    partition.start_sector = ReadSysNumber(entry.path() / "start");
    partition.sectors = ReadSysNumber(entry.path() / "size");
    // The kernel shows an extended partition as a stub of 1 or 2 sectors; it holds no volume.
    if (partition.sectors <= 2 || !OpensForReading(partition.node)) continue;
    partitions.push_back(std::move(partition));
  }
  std::sort(partitions.begin(), partitions.end(),
            [](const BlockPartition& a, const BlockPartition& b) { return a.number < b.number; });
  return partitions;
}

std::optional<dev_t> ReadDevNumber(const fs::path& device_dir) {
  unsigned major_number = 0, minor_number = 0;
  std::string text = ReadSysText(device_dir / "dev");
  if (std::sscanf(text.c_str(), "%u:%u", &major_number, &minor_number) != 2) return std::nullopt;
  return makedev(major_number, minor_number);
}

fs::path DeviceDir(const std::string& sys_dir, dev_t dev) {
  std::error_code ec;
  fs::path link = fs::path(sys_dir) / "dev" / "block" /
                  (std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
  fs::path dir = fs::canonical(link, ec);
  return ec ? fs::path() : dir;
}

void CollectUnderlying(const fs::path& device_dir, int depth, std::set<dev_t>* seen,
                       std::vector<dev_t>* out) {
  std::optional<dev_t> dev = ReadDevNumber(device_dir);
  if (!dev || depth > 16 || !seen->insert(*dev).second) return;
  out->push_back(*dev);
  std::error_code ec;
  if (fs::exists(device_dir / "partition", ec)) {
    CollectUnderlying(device_dir.parent_path(), depth + 1, seen, out);
  }
  for (const fs::directory_entry& slave : fs::directory_iterator(device_dir / "slaves", ec)) {
    fs::path dir = fs::canonical(slave.path(), ec);
    if (!ec) CollectUnderlying(dir, depth + 1, seen, out);
  }
}

}  // namespace

std::vector<BlockDisk> ListBlockDisks(const std::string& sys_block_dir, const std::string& dev_dir,
                                      std::vector<std::string>* unreadable) {
  std::vector<BlockDisk> disks;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(sys_block_dir, ec)) {
    BlockDisk disk;
    disk.name = entry.path().filename().string();
    disk.node = dev_dir + "/" + disk.name;
    disk.sectors = ReadSysNumber(entry.path() / "size");
    if (IsLeftOut(disk.name) || disk.sectors == 0) continue;
    disk.model = ModelOf(entry.path(), disk.name);
    if (disk.model.empty()) continue;
    if (!OpensForReading(disk.node)) {
      if (unreadable != nullptr) unreadable->push_back(disk.node);
      continue;
    }
    disk.removable = ReadSysNumber(entry.path() / "removable") != 0;
    disk.partitions = PartitionsOf(entry.path(), dev_dir);
    disks.push_back(std::move(disk));
  }
  std::sort(disks.begin(), disks.end(),
            [](const BlockDisk& a, const BlockDisk& b) { return a.name < b.name; });
  return disks;
}

std::vector<dev_t> UnderlyingBlockDevices(const std::string& sys_dir, dev_t dev) {
  std::vector<dev_t> devices;
  std::set<dev_t> seen;
  fs::path dir = DeviceDir(sys_dir, dev);
  if (!dir.empty()) CollectUnderlying(dir, 0, &seen, &devices);
  if (devices.empty()) devices.push_back(dev);
  return devices;
}

std::string LoopBackingFile(const std::string& sys_dir, dev_t dev) {
  fs::path dir = DeviceDir(sys_dir, dev);
  if (dir.empty()) return "";
  std::error_code ec;
  if (fs::exists(dir / "partition", ec)) dir = dir.parent_path();
  return ReadSysText(dir / "loop" / "backing_file");
}

}  // namespace kestrel
